#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace orolith {

// A model as the 3D view draws it: triangles as three corners each, at most a budget of them.
// A model with more faces than the budget is read into a height grid instead, its surface
// rebuilt from the grid and, for a solid, its walls and floor from the grid's outline; the
// file's faces are never all in memory.
struct ViewMesh {
  // x, y, z of each corner, three corners a triangle, in the file's units.
  std::vector<float> Corners;
  // Bounds of every corner drawn: a face with a corner at infinity or of no number is counted
  // but not drawn.
  std::array<float, 3> Min{};
  std::array<float, 3> Max{};
  // Faces in the file.
  std::uint64_t FileFaces = 0;
  bool Decimated = false;
  // The model has a floor: faces that look straight down.
  bool Solid = false;

  std::uint64_t Triangles() const noexcept { return Corners.size() / 9; }
};

// About a million triangles: what a software renderer turns smoothly.
inline constexpr std::uint64_t ViewTriangleBudget = 1000000;

// Reads the binary STL file at path for the view, streaming it in blocks. Faces are counted by
// the file's length (a header that promises more is not believed). stop, when given, is looked
// at between blocks: once it is set the reading ends with an empty mesh. Throws FileError when
// the file can't be opened or read, or is shorter than a header and a count.
ViewMesh ReadViewMesh(const std::string& path, std::uint64_t triangleBudget = ViewTriangleBudget,
                      const std::atomic<bool>* stop = nullptr);

}  // namespace orolith
