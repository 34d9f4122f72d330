#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orolith {

// The fewest samples of a polyline whose straight segments pass within maxError (vertically) of
// every sample: sample i lies at position i, kept samples are vertices, the first and the last
// are always kept. A missing (NaN) sample is kept too, and a segment with a missing end passes
// over missing samples only. Two blocks that share a border each ask for the same samples and get
// the same answer, which is what keeps their meshes free of cracks.
//
// The object only keeps its scratch space, so that a border costs no allocation once it has
// seen one as long.
class PolylineSimplifier {
 public:
  // Room for polylines of up to samples samples.
  void Reserve(std::size_t samples);
  // kept receives the indices of the kept samples, ascending.
  void Simplify(std::span<const float> heights, float maxError, std::vector<std::uint32_t>& kept);

 private:
  std::vector<std::uint32_t> hops_;  // fewest segments from sample 0
  std::vector<std::uint32_t> from_;  // the kept sample before, on one such path
};

}  // namespace orolith
