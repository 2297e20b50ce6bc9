// Corner tracker: its parameter file and its distance filter.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "calibration/solve/corner_tracker.h"
#include "testsupport/config_state.h"

namespace {

CornerTracker Sample() {
  CornerTracker t;
  t.width = 1280;
  t.height = 720;
  t.tag = 77;
  t.a = 100;
  t.b = 300;
  t.h = 812.5f;
  for (int i = 0; i < 8; ++i) {
    t.image[i][0] = 10.0f + i;
    t.image[i][1] = 20.0f + i;
    for (int k = 0; k < 3; ++k) t.world[i][k] = 100.0f * i + k;
  }
  for (int i = 0; i < 9; ++i) t.K[i] = 1.5f * i;
  for (int i = 0; i < 8; ++i) t.D[i] = 2.5f * i;
  t.R[1] = 0.25f;
  t.T[2] = 812.5f;
  return t;
}

TEST(CornerTracker, ParameterFileRoundTrips) {
  ScopedConfigState state;
  const std::string path = state.Path("tracker.krv");
  const CornerTracker t = Sample();
  ASSERT_TRUE(CornerTracker_Save(t, path.c_str()));
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  EXPECT_EQ(280, static_cast<int>(in.tellg()));
  CornerTracker* back = CornerTracker_Create(path.c_str());
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(t.width, back->width);
  EXPECT_EQ(t.height, back->height);
  EXPECT_EQ(t.tag, back->tag);
  EXPECT_EQ(t.a, back->a);
  EXPECT_EQ(t.b, back->b);
  EXPECT_EQ(t.h, back->h);
  EXPECT_EQ(0, memcmp(t.image, back->image, sizeof t.image));
  EXPECT_EQ(0, memcmp(t.world, back->world, sizeof t.world));
  EXPECT_EQ(0, memcmp(t.K, back->K, sizeof t.K));
  EXPECT_EQ(0, memcmp(t.D, back->D, sizeof t.D));
  EXPECT_EQ(0, memcmp(t.R, back->R, sizeof t.R));
  EXPECT_EQ(0, memcmp(t.T, back->T, sizeof t.T));
  EXPECT_EQ(1000, back->failures);
  EXPECT_EQ(0.0f, back->m);
  // No measurement yet: no result and no mapping.
  float m, x, y, a;
  EXPECT_EQ(-1, CornerTracker_GetResult(back, &m, &x, &y, &a));
  EXPECT_EQ(-1, CornerTracker_ImageToGround(back, 1, &x, &y, &m, &a));
  EXPECT_EQ(0, CornerTracker_Release(back));
}

TEST(CornerTracker, FilesOfAnotherKindGiveNoObject) {
  ScopedConfigState state;
  const std::string path = state.Path("tracker.krv");
  ASSERT_TRUE(CornerTracker_Save(Sample(), path.c_str()));
  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto write = [&](const std::vector<char>& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
  };
  std::vector<char> magic = bytes;
  magic[0] ^= 1;
  write(magic);
  EXPECT_EQ(nullptr, CornerTracker_Create(path.c_str()));
  write(std::vector<char>(bytes.begin(), bytes.end() - 4));
  EXPECT_EQ(nullptr, CornerTracker_Create(path.c_str()));
  EXPECT_EQ(nullptr, CornerTracker_Create(state.Path("missing.krv").c_str()));
}

TEST(CornerTracker, DistanceFilter) {
  struct Case {
    float first, second;
    int32_t tracking;
    int32_t valid;
    float m;  // m before: 42
  } cases[] = {
      {120, 400, 0, 0, 42},  // more than 250 apart
      {120, 300, 0, 1, 300},  // within 250: the larger
      {300, 120, 0, 1, 300},
      {120, 370, 0, 1, 370},  // exactly 250 apart
      {5, 8, 0, 0, 42},       // both below 10
      {5, 300, 0, 0, 42},     // one below 10: no reading
      {120, 300, 1, 0, 42},   // tracking keeps m
  };
  for (const Case& c : cases) {
    CornerTracker t;
    t.m = 42.0f;
    t.valid = 1;
    t.tracking = c.tracking;
    CornerTracker_DistanceFilter(&t, c.first, c.second);
    EXPECT_EQ(c.valid, t.valid) << c.first << " " << c.second;
    EXPECT_EQ(c.m, t.m) << c.first << " " << c.second;
  }
}

}  // namespace
