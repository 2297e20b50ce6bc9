#include <gtest/gtest.h>

#include "frame/vec2.h"

TEST(Vec2, Operations) {
  Vec2 v;
  Vec2_Set(&v, 3.0f, 4.0f);
  EXPECT_EQ(5.0f, Vec2_Length(&v));
  EXPECT_EQ(5.0f, Vec2_LengthOf(3.0f, 4.0f));
  Vec2 z;
  Vec2_Zero(&z);
  EXPECT_EQ(0.0f, Vec2_Length(&z));
  const float m[4] = {1, 2, 3, 4};
  const Vec2 r = Vec2_MulMat2(Vec2_Make(1, 2), m);
  EXPECT_EQ(5.0f, r.x);
  EXPECT_EQ(11.0f, r.y);
  const Vec2 s = Vec2_Sub(Vec2_Add(Vec2_FromInt(1, 2), Vec2_Make(3, 4)), Vec2_Scale(Vec2_Make(1, 1), 2));
  EXPECT_EQ(2.0f, s.x);
  EXPECT_EQ(4.0f, s.y);
  const Vec2 d = Vec2_Negate(Vec2_DivScalar(Vec2_Make(4, -6), 2));
  EXPECT_EQ(-2.0f, d.x);
  EXPECT_EQ(3.0f, d.y);
  Vec2 c;
  Vec2_SetInt(&c, 7, -8);
  Vec2 e;
  const Vec2 back = Vec2_Copy(&e, &c);
  EXPECT_EQ(7.0f, e.x);
  EXPECT_EQ(-8.0f, back.y);
}

TEST(Vec2, MinCornerDistanceLooksAtAllFour) {
  const Vec2 p = Vec2_Make(0, 0);
  for (int nearest = 0; nearest < 4; ++nearest) {
    Vec2 corners[4] = {{10, 0}, {0, 10}, {-10, 0}, {0, -10}};
    corners[nearest] = Vec2_Make(0.6f, 0.8f);
    EXPECT_FLOAT_EQ(1.0f, Vec2_MinCornerDistance(p, corners)) << nearest;
  }
}
