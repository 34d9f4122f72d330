#pragma once

#include "model/writers/STL.h"

namespace orolith::test {

// A surface of columns x rows unit cells, two faces each, facing up, z = height(i, j) at corner
// (i, j); when solid, four walls and a floor at z = floor make it a closed, outward-facing shell.
template <class Height>
TSTL GridSurface(int columns, int rows, Height height, bool solid, float floor) {
  TSTL stl;
  const auto at = [&height](int i, int j) {
    return Vec3{static_cast<float>(i), static_cast<float>(j), static_cast<float>(height(i, j))};
  };
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < columns; ++i) {
      stl.AddFace(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      stl.AddFace(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  if (!solid) return stl;
  const auto low = [floor](Vec3 v) { return Vec3{v.x, v.y, floor}; };
  const auto wall = [&](Vec3 a, Vec3 b) {
    stl.AddFace(a, low(b), b);
    stl.AddFace(a, low(a), low(b));
  };
  for (int i = 0; i < columns; ++i) {
    wall(at(i + 1, 0), at(i, 0));
    wall(at(i, rows), at(i + 1, rows));
  }
  for (int j = 0; j < rows; ++j) {
    wall(at(0, j), at(0, j + 1));
    wall(at(columns, j + 1), at(columns, j));
  }
  const float w = static_cast<float>(columns);
  const float h = static_cast<float>(rows);
  stl.AddFace({0, 0, floor}, {w, h, floor}, {w, 0, floor});
  stl.AddFace({0, 0, floor}, {0, h, floor}, {w, h, floor});
  return stl;
}

}  // namespace orolith::test
