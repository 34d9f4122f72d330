#pragma once

#include "model/writers/ZipPackage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orolith {

// How a package is made: the defaults are the program's; tests and benchmarks change them.
struct ThreeMfOptions {
  // Threads that turn vertices and triangles into compressed text, 0 for one a processor (up
  // to four); with 1 the calling thread does it. The package is the same with any number.
  unsigned Threads = 0;
  // Vertices or triangles in one compression job.
  std::size_t ChunkItems = std::size_t{1} << 15;
  // ISA-L's deflate levels, 0 .. 3: level 3 makes a tenth fewer bytes than 1 in half as much
  // time again.
  int VertexLevel = 1;
  int TriangleLevel = 1;
  // Sizes and offsets from here on are written as ZIP64.
  std::uint64_t Zip64From = PlainZipLimit;
  // The colours (0xRRGGBB) a triangle may be painted with, at most MaxPaints: a colour group
  // for the object, and each colour k as extruder k of both slicers' painting. Empty: none.
  std::vector<std::uint32_t> Colours{};
};

// The most colours a package paints with.
inline constexpr std::size_t MaxPaints = 7;

// The most vertices a 3MF mesh may have: fewer than 2^31.
inline constexpr std::uint64_t MaxThreeMfVertices = (std::uint64_t{1} << 31) - 1;

// What the package's model text is made of, three words each: a vertex's float bits or a
// triangle's indices.
using ThreeMfItem = std::array<std::uint32_t, 3>;

}  // namespace orolith
