#include "model/mesh/STLVectors.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orolith {
namespace {

void ExpectVec(const Vec3& v, float x, float y, float z) {
  EXPECT_EQ(v.x, x);
  EXPECT_EQ(v.y, y);
  EXPECT_EQ(v.z, z);
}

TEST(STLVectors, BasicOperations) {
  ExpectVec(MakeVec(1.5F, -2, 3), 1.5F, -2, 3);
  ExpectVec(VecSub(MakeVec(1, 2, 3), MakeVec(4, 6, 8)), 3, 4, 5);  // B - A
  ExpectVec(VecCross(MakeVec(1, 0, 0), MakeVec(0, 1, 0)), 0, 0, 1);
  ExpectVec(VecCross(MakeVec(0, 1, 0), MakeVec(1, 0, 0)), 0, 0, -1);
  ExpectVec(VecCross(MakeVec(2, 3, 4), MakeVec(5, 6, 7)), -3, 6, -3);
  EXPECT_EQ(VecLength(MakeVec(3, 4, 0)), 5);
  ExpectVec(VecScale(MakeVec(1, -2, 0.5F), 2), 2, -4, 1);
  ExpectVec(VecNormalize(MakeVec(0, 0, 2)), 0, 0, 1);
  ExpectVec(VecNormalize(MakeVec(0, 0, 0)), 0, 0, 0);
  const Vec3 n = VecNormalize(MakeVec(3, 4, 0));
  EXPECT_FLOAT_EQ(n.x, 0.6F);
  EXPECT_FLOAT_EQ(n.y, 0.8F);
}

TEST(STLVectors, RoundsEachComponentOnceNotEachPartialProduct) {
  // (1 + 2^-12)^2 - 1 = 2^-11 + 2^-24 fits a float, but the square alone does not: rounding
  // the products to single first would lose the 2^-24.
  const float a = 1.0F + std::ldexp(1.0F, -12);
  const Vec3 cross = VecCross(MakeVec(0, a, 1), MakeVec(0, 1, a));
  EXPECT_EQ(cross.x, std::ldexp(1.0F, -11) + std::ldexp(1.0F, -24));
  // 2^-75 squared underflows a float; the length must not.
  const float tiny = std::ldexp(1.0F, -75);
  EXPECT_EQ(VecLength(MakeVec(tiny, 0, 0)), tiny);
  ExpectVec(VecNormalize(MakeVec(0, tiny, 0)), 0, 1, 0);
}

}  // namespace
}  // namespace orolith
