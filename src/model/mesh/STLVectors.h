#pragma once

#include <cmath>

namespace orolith {

// Three single-precision coordinates, in the order the STL file stores them.
struct Vec3 {
  float x;
  float y;
  float z;
};

// Each result component is computed in double precision and rounded to single once. Products
// of singles are exact in double, and double has more than twice a single's precision, so the
// normals come out as in extended precision (the model tests count them on real tiles).
inline Vec3 MakeVec(float x, float y, float z) noexcept {
  return {x, y, z};
}

// Note the order: B - A.
inline Vec3 VecSub(Vec3 a, Vec3 b) noexcept {
  using D = double;
  return {static_cast<float>(D{b.x} - D{a.x}), static_cast<float>(D{b.y} - D{a.y}),
          static_cast<float>(D{b.z} - D{a.z})};
}

inline float VecLength(Vec3 a) noexcept {
  using D = double;
  return static_cast<float>(std::sqrt(D{a.x} * D{a.x} + D{a.y} * D{a.y} + D{a.z} * D{a.z}));
}

inline Vec3 VecScale(Vec3 a, float s) noexcept {
  using D = double;
  return {static_cast<float>(D{a.x} * D{s}), static_cast<float>(D{a.y} * D{s}),
          static_cast<float>(D{a.z} * D{s})};
}

// A itself when its length is not above 0, so the zero vector stays zero.
inline Vec3 VecNormalize(Vec3 a) noexcept {
  const float length = VecLength(a);
  if (length > 0) {
    const auto k = static_cast<float>(1.0 / static_cast<double>(length));
    return VecScale(a, k);
  }
  return a;
}

inline Vec3 VecCross(Vec3 a, Vec3 b) noexcept {
  using D = double;
  return {static_cast<float>(D{a.y} * D{b.z} - D{a.z} * D{b.y}),
          static_cast<float>(D{a.z} * D{b.x} - D{a.x} * D{b.z}),
          static_cast<float>(D{a.x} * D{b.y} - D{a.y} * D{b.x})};
}

}  // namespace orolith
