#include "toolkit/yuv_rgb_table.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

int Entry(double factor, int value, int centre) {
  return static_cast<int>(factor * 64 * (value - centre) + 0.5);
}

// The conversion rule spelled out: 16-bit saturating sums, shift, clamp.
int Sat16(int v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }
int RefChannel(int y, int u, int v, int c) {
  const int ty = Entry(1.164, y, 16);
  const int tu[3] = {Entry(2.018, u, 128), Entry(-0.391, u, 128), 0};
  const int tv[3] = {0, Entry(-0.813, v, 128), Entry(1.596, v, 128)};
  int s = Sat16(tv[c] + tu[c]);
  s = Sat16(s + ty);
  s >>= 6;
  return s < 0 ? 0 : (s > 255 ? 255 : s);
}

TEST(YuvRgbTable, TellingRows) {
  struct Row {
    int index, b, g, r;
  } rows[] = {
      {0, -1191, -1191, -1191},    {16, 0, 0, 0},           {17, 74, 74, 74},       {255, 17805, 17805, 17805},
      {256 + 0, -16530, 3203, 0},  {256 + 255, 16402, -3177, 0}, {512 + 0, 0, 6660, -13073},
      {512 + 255, 0, -6607, 12972},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.index);
    EXPECT_EQ(YuvRgbTable[r.index][0], r.b);
    EXPECT_EQ(YuvRgbTable[r.index][1], r.g);
    EXPECT_EQ(YuvRgbTable[r.index][2], r.r);
  }
}

TEST(YuvRgbTable, EveryRowFollowsTheRule) {
  for (int k = 0; k < 256; ++k) {
    const int y = Entry(1.164, k, 16);
    EXPECT_EQ(YuvRgbTable[k][0], y);
    EXPECT_EQ(YuvRgbTable[k][1], y);
    EXPECT_EQ(YuvRgbTable[k][2], y);
    EXPECT_EQ(YuvRgbTable[k][3], 16383);
    EXPECT_EQ(YuvRgbTable[256 + k][0], Entry(2.018, k, 128));
    EXPECT_EQ(YuvRgbTable[256 + k][1], Entry(-0.391, k, 128));
    EXPECT_EQ(YuvRgbTable[256 + k][2], 0);
    EXPECT_EQ(YuvRgbTable[512 + k][0], 0);
    EXPECT_EQ(YuvRgbTable[512 + k][1], Entry(-0.813, k, 128));
    EXPECT_EQ(YuvRgbTable[512 + k][2], Entry(1.596, k, 128));
  }
}

// All 2^24 triples against the saturating rule, with the rows computed
// here from the rule; one tight loop and one failure count, so it stays fast
// under the sanitizers.
TEST(YuvRgbTable, EveryTripleConvertsByTheRule) {
  int ty[256], tu[256][3], tv[256][3];
  for (int k = 0; k < 256; ++k) {
    ty[k] = Entry(1.164, k, 16);
    tu[k][0] = Entry(2.018, k, 128);
    tu[k][1] = Entry(-0.391, k, 128);
    tu[k][2] = 0;
    tv[k][0] = 0;
    tv[k][1] = Entry(-0.813, k, 128);
    tv[k][2] = Entry(1.596, k, 128);
  }
  int64_t mismatches = 0;
  int first = -1;
  for (int y = 0; y < 256; ++y)
    for (int u = 0; u < 256; ++u)
      for (int v = 0; v < 256; ++v) {
        uint8_t got[3];
        YuvRgb_Convert(y, u, v, &got[0], &got[1], &got[2]);
        for (int c = 0; c < 3; ++c) {
          int s = Sat16(Sat16(tv[v][c] + tu[u][c]) + ty[y]) >> 6;
          s = s < 0 ? 0 : (s > 255 ? 255 : s);
          if (got[c] != s && mismatches++ == 0) first = (y << 16) | (u << 8) | v;
        }
      }
  EXPECT_EQ(mismatches, 0) << "first at Y " << (first >> 16) << " U " << ((first >> 8) & 255) << " V "
                           << (first & 255);
  EXPECT_EQ(RefChannel(255, 255, 128, 0), 255);
}

TEST(YuvRgbTable, EdgeColours) {
  struct Case {
    int y, u, v, b, g, r;
  } cases[] = {
      {16, 128, 128, 0, 0, 0},        {235, 128, 128, 254, 254, 254}, {255, 128, 128, 255, 255, 255},
      {0, 128, 128, 0, 0, 0},         {255, 255, 128, 255, 228, 255},
  };
  for (const Case& c : cases) {
    uint8_t b, g, r;
    YuvRgb_Convert(c.y, c.u, c.v, &b, &g, &r);
    EXPECT_EQ(b, c.b) << c.y << "," << c.u << "," << c.v;
    EXPECT_EQ(g, c.g) << c.y << "," << c.u << "," << c.v;
    EXPECT_EQ(r, c.r) << c.y << "," << c.u << "," << c.v;
  }
}

}  // namespace
