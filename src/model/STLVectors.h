#pragma once

#include <cmath>

namespace orolith {

// Three single-precision coordinates, in the order the STL file stores them.
struct Vec3 {
  float x;
  float y;
  float z;
};

// Each result component is computed in extended precision and rounded to single once.
inline Vec3 MakeVec(float x, float y, float z) noexcept {
  return {x, y, z};
}

// Note the order: B - A.
inline Vec3 VecSub(Vec3 a, Vec3 b) noexcept {
  using L = long double;
  return {static_cast<float>(L{b.x} - L{a.x}), static_cast<float>(L{b.y} - L{a.y}),
          static_cast<float>(L{b.z} - L{a.z})};
}

inline float VecLength(Vec3 a) noexcept {
  using L = long double;
  return static_cast<float>(std::sqrt(L{a.x} * L{a.x} + L{a.y} * L{a.y} + L{a.z} * L{a.z}));
}

inline Vec3 VecScale(Vec3 a, float s) noexcept {
  using L = long double;
  return {static_cast<float>(L{a.x} * L{s}), static_cast<float>(L{a.y} * L{s}),
          static_cast<float>(L{a.z} * L{s})};
}

// A itself when its length is not above 0, so the zero vector stays zero.
inline Vec3 VecNormalize(Vec3 a) noexcept {
  const float length = VecLength(a);
  if (length > 0) {
    const auto k = static_cast<float>(1.0L / static_cast<long double>(length));
    return VecScale(a, k);
  }
  return a;
}

inline Vec3 VecCross(Vec3 a, Vec3 b) noexcept {
  using L = long double;
  return {static_cast<float>(L{a.y} * L{b.z} - L{a.z} * L{b.y}),
          static_cast<float>(L{a.z} * L{b.x} - L{a.x} * L{b.z}),
          static_cast<float>(L{a.x} * L{b.y} - L{a.y} * L{b.x})};
}

}  // namespace orolith
