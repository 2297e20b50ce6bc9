#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/atomic_flags.h"
#include "frame/clock.h"
#include "frame/geometry_utils.h"
#include "frame/patch_sampling.h"
#include "frame/smoothing1d.h"
#include "frame/sorts.h"
#include "frame/text_utils.h"
#include "frame/vec2.h"
#include "testsupport/config_state.h"

namespace {

TEST(Clock, TickWrapsAsU32) {
  EXPECT_EQ(1500u, TickMsFrom(1, 500000000));
  // 2^32 ms is about 49.7 days: one millisecond past wraps to 0.
  EXPECT_EQ(0u, TickMsFrom(4294967, 296000000));
  EXPECT_EQ(4294967295u, TickMsFrom(4294967, 295999999));
  EXPECT_EQ(704u, TickMsFrom(4294968, 0));
  // Differences stay right across the wrap.
  EXPECT_EQ(1000u, TickMsFrom(4294968, 0) - TickMsFrom(4294967, 0));
  uint32_t a = GetTickMs();
  uint32_t b = GetTickMs();
  EXPECT_LE(b - a, 1000u);
}

TEST(Clock, TimePairs) {
  TimeMs out;
  struct DiffCase {
    TimeMs a, b;
    int result;
    TimeMs out;
  } diffs[] = {{{10, 200}, {3, 500}, 1, {6, 700}},
               {{10, 500}, {10, 500}, 0, {0, 0}},
               {{3, 0}, {4, 0}, 0, {0, 0}},
               {{5, 1}, {5, 0}, 1, {0, 1}},
               {{5, 0}, {4, 999}, 1, {0, 1}}};
  for (const DiffCase& d : diffs) {
    out = {-1, -1};
    EXPECT_EQ(d.result, TimeDiff(&d.a, &d.b, &out));
    EXPECT_EQ(d.out.seconds, out.seconds);
    EXPECT_EQ(d.out.milliseconds, out.milliseconds);
  }
  TimeMs a = {1, 600}, b = {2, 500};
  EXPECT_EQ(100, TimeAdd(&a, &b, &out));
  EXPECT_EQ(4, out.seconds);
  TimeMs t = {3 * 3600 + 25 * 60 + 7, 42};
  char text[32];
  FormatTimeMs(&t, text, sizeof text);
  EXPECT_STREQ("03:25:07.042", text);
  char small[6];
  FormatTimeMs(&t, small, sizeof small);
  EXPECT_STREQ("03:25", small);
  TimeMs now;
  int32_t ms = GetTimeOfDayMs(&now);
  EXPECT_EQ(ms, now.milliseconds);
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 1000);
}

TEST(AtomicFlags, ReturnPreviousValue) {
  int32_t w = 0b1100;
  EXPECT_EQ(0b1100, Atomic_FetchAnd(&w, 0b0100));
  EXPECT_EQ(0b0100, Atomic_FetchOr(&w, 0b0001));
  EXPECT_EQ(0b0101, Atomic_FetchXor(&w, 0b0111));
  EXPECT_EQ(0b0010, Atomic_FetchAdd(&w, 5));
  EXPECT_EQ(7, Atomic_FetchSub(&w, 2));
  EXPECT_EQ(5, Atomic_Increment(&w));
  EXPECT_EQ(6, Atomic_Decrement(&w));
  EXPECT_EQ(5, Atomic_Exchange(&w, 2));
  EXPECT_EQ(2, w);
}

TEST(TextUtils, StrCaseStr) {
  const char* hay = "TABLE12,table3";
  EXPECT_EQ(hay, StrCaseStr(hay, "tab"));
  EXPECT_EQ(hay + 8, StrCaseStr(hay, "table3"));
  EXPECT_EQ(nullptr, StrCaseStr(hay, ""));
  EXPECT_EQ(nullptr, StrCaseStr("", "a"));
  EXPECT_EQ(nullptr, StrCaseStr(hay, "table4"));
  EXPECT_EQ(nullptr, StrCaseStr("tab", "table"));
}

TEST(TextUtils, CopyFile) {
  ScopedConfigState s;
  std::string data(70000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  s.WriteFile("src.bin", data);
  EXPECT_EQ(1, copyFile(s.Path("src.bin").c_str(), s.Path("dst.bin").c_str()));
  EXPECT_EQ(data, s.ReadFile("dst.bin"));
  EXPECT_EQ(0, copyFile(nullptr, s.Path("x").c_str()));
  EXPECT_EQ(0, copyFile(s.Path("missing").c_str(), s.Path("x").c_str()));
  EXPECT_FALSE(s.Exists("x"));
  EXPECT_EQ(0, copyFile(s.Path("src.bin").c_str(), s.Path("no/dir/x").c_str()));
}

TEST(Geometry, AngleDiffWrapped) {
  EXPECT_EQ(6.0f - 6.2831855f, AngleDiffWrapped(3.0f, -3.0f));
  EXPECT_EQ(-6.0f + 6.2831855f, AngleDiffWrapped(-3.0f, 3.0f));
  EXPECT_EQ(0.5f, AngleDiffWrapped(1.0f, 0.5f));
}

TEST(Geometry, Vec2AndAngleBetween) {
  Vec2 v;
  Vec2_Set(&v, 3.0f, 4.0f);
  EXPECT_EQ(5.0f, Vec2_Length(&v));
  Vec2 u = {2.0f, -1.0f};
  EXPECT_EQ(2.0f, Vec2_Dot(&v, &u));
  // The fused form is exact where the plain one rounds the product first.
  // (1 + 2^-12)^2 - (1 + 2^-11) = 2^-24, lost when the product is rounded.
  Vec2 a = {1.0f + 0x1p-12f, 1.0f + 0x1p-11f}, b = {1.0f + 0x1p-12f, -1.0f};
  EXPECT_EQ(0x1p-24f, Vec2_Dot(&a, &b));

  const float right[6] = {1, 0, 0, 0, 0, 5};
  EXPECT_NEAR(1.5707964f, Vec2_AngleBetween(right), 1e-6f);
  const float straight[6] = {-2, 1, 0, 1, 7, 1};
  EXPECT_NEAR(3.1415927f, Vec2_AngleBetween(straight), 1e-6f);
  const float same[6] = {1, 1, 0, 0, 3, 3};  // cosine rounds above 1: clamped
  EXPECT_FALSE(IsNaN(Vec2_AngleBetween(same)));
  EXPECT_NEAR(0.0f, Vec2_AngleBetween(same), 1e-3f);
}

TEST(Geometry, LineIntersect) {
  float out[2];
  // x = y and x = 4 - y meet at (2, 2).
  const float cross[8] = {0, 0, 4, 0, 3, 3, 1, 3};
  ASSERT_EQ(1, Line_Intersect(cross, out));
  EXPECT_FLOAT_EQ(2.0f, out[0]);
  EXPECT_FLOAT_EQ(2.0f, out[1]);
  // Horizontal first line y = 1 with x = 4 - y.
  const float flat1[8] = {0, 1, 4, 0, 5, 1, 1, 3};
  ASSERT_EQ(1, Line_Intersect(flat1, out));
  EXPECT_FLOAT_EQ(3.0f, out[0]);
  EXPECT_FLOAT_EQ(1.0f, out[1]);
  // Horizontal second line y = 2 with x = y.
  const float flat2[8] = {0, 0, 9, 2, 3, 3, -4, 2};
  ASSERT_EQ(1, Line_Intersect(flat2, out));
  EXPECT_FLOAT_EQ(2.0f, out[0]);
  EXPECT_FLOAT_EQ(2.0f, out[1]);
  const float bothFlat[8] = {0, 1, 0, 2, 5, 1, 5, 2};
  EXPECT_EQ(0, Line_Intersect(bothFlat, out));
  const float parallel[8] = {0, 0, 1, 0, 2, 2, 3, 2};
  EXPECT_EQ(0, Line_Intersect(parallel, out));
}

TEST(Geometry, SolveQuadratic) {
  float r1 = -7, r2 = -7;
  EXPECT_EQ(2, SolveQuadratic(&r1, &r2, 1, -3, 2));
  EXPECT_EQ(2.0f, r1);
  EXPECT_EQ(1.0f, r2);
  r1 = r2 = -7;
  EXPECT_EQ(1, SolveQuadratic(&r1, &r2, 1, -4, 4));
  EXPECT_EQ(2.0f, r1);
  EXPECT_EQ(-7.0f, r2);
  r1 = -7;
  EXPECT_EQ(0, SolveQuadratic(&r1, &r2, 1, 0, 1));
  EXPECT_EQ(-7.0f, r1);
  // b*b and 4ac equal as reals but not after rounding b*b: the fused
  // discriminant sees the exact difference.
  const float b = 1.0f + 0x1p-12f;
  const float c = (1.0f + 0x1p-11f) / 4.0f;  // 4ac = 1 + 2^-11, b*b = 1 + 2^-11 + 2^-24
  EXPECT_EQ(2, SolveQuadratic(&r1, &r2, 1.0f, b, c));
  EXPECT_TRUE(IsNaN(std::nanf("")));
  EXPECT_FALSE(IsNaN(INFINITY));
}

template <typename T, typename Cmp>
void ExpectSortedDesc(const std::vector<T>& v, Cmp key) {
  for (size_t i = 1; i < v.size(); ++i) ASSERT_GE(key(v[i - 1]), key(v[i])) << i;
}

TEST(Sorts, AgreeWithStdSortOnRandomDataWithDuplicates) {
  std::mt19937 rng(12345);
  for (int n : {0, 1, 2, 3, 7, 8, 9, 40, 41, 100, 1000, 5000}) {
    for (int range : {3, 1000000}) {
      std::uniform_int_distribution<int32_t> dist(-range, range);
      // Indices by key.
      std::vector<int32_t> key(n);
      for (int32_t& k : key) k = dist(rng);
      std::vector<uint32_t> index(n);
      for (int i = 0; i < n; ++i) index[i] = i;
      QuickSortU32(index.data(), n, key.data());
      std::vector<int32_t> got, want = key;
      for (uint32_t i : index) got.push_back(key[i]);
      std::sort(want.begin(), want.end(), std::greater<int32_t>());
      EXPECT_EQ(want, got) << n;
      std::vector<uint32_t> sortedIndex = index;
      std::sort(sortedIndex.begin(), sortedIndex.end());
      for (int i = 0; i < n; ++i) ASSERT_EQ(static_cast<uint32_t>(i), sortedIndex[i]);

      std::vector<float> f(n);
      for (float& x : f) x = static_cast<float>(dist(rng)) * 0.25f;
      std::vector<float> wf = f;
      QuickSortF32(f.data(), n);
      std::sort(wf.begin(), wf.end(), std::greater<float>());
      EXPECT_EQ(wf, f);

      struct Rec {
        int32_t a, b, c;
        float key;
      };
      std::vector<Rec> recs(n);
      for (int i = 0; i < n; ++i) recs[i] = {i, -i, 7, static_cast<float>(dist(rng))};
      std::vector<Rec> wr = recs;
      QuickSortRecords16(recs.data(), n);
      std::stable_sort(wr.begin(), wr.end(), [](const Rec& x, const Rec& y) { return x.key > y.key; });
      for (int i = 0; i < n; ++i) ASSERT_EQ(wr[i].key, recs[i].key);
      // Records move whole.
      for (const Rec& r : recs) ASSERT_EQ(-r.a, r.b);

      std::vector<uint64_t> h(n);
      for (uint64_t& x : h) x = static_cast<uint64_t>(dist(rng) + range) * 0x100000001ull;
      std::vector<uint64_t> wh = h;
      HeapSort64(h.data(), n, [](uint64_t x, uint64_t y) { return x < y ? -1 : x > y ? 1 : 0; });
      std::sort(wh.begin(), wh.end());
      EXPECT_EQ(wh, h);
    }
  }
}

TEST(Sorts, OrderedAndEqualInputs) {
  for (int n : {50, 3000}) {
    std::vector<float> asc(n), desc(n), same(n, 1.5f);
    for (int i = 0; i < n; ++i) asc[i] = desc[n - 1 - i] = static_cast<float>(i);
    QuickSortF32(asc.data(), n);
    EXPECT_EQ(desc, asc);
    QuickSortF32(same.data(), n);
    EXPECT_EQ(std::vector<float>(n, 1.5f), same);
  }
  struct Rec {
    int32_t a, b, c;
    float key;
  } r[3] = {{0, 0, 0, 1.0f}, {1, 0, 0, 3.0f}, {2, 0, 0, 2.0f}};
  QuickSortRecords16(r, 3);
  EXPECT_EQ(3.0f, r[0].key);
  EXPECT_EQ(2.0f, r[1].key);
  EXPECT_EQ(1.0f, r[2].key);
}

TEST(PatchSampling, BilinearInsideMatchesFormula) {
  std::vector<float> src(20 * 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) src[y * 20 + x] = static_cast<float>(x * x) + 3.0f * y * y;
  Matrix s = {20, 10, src.data()};
  std::vector<float> out(5 * 3, -1.0f);
  Matrix p = {5, 3, out.data()};
  Image_SamplePatchBilinear(&s, &p, 4.25f, 6.5f);
  // left = 4.5, top = 3.25.
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 5; ++i) {
      double x = 4.5 + i, y = 3.25 + j;
      int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
      double fx = x - x0, fy = y - y0;
      auto S = [&](int xx, int yy) { return static_cast<double>(src[yy * 20 + xx]); };
      double want = (1 - fx) * ((1 - fy) * S(x0, y0) + fy * S(x0, y0 + 1)) + fx * (1 - fy) * S(x0 + 1, y0) +
                    fx * fy * S(x0 + 1, y0 + 1);
      EXPECT_NEAR(want, out[j * 5 + i], 1e-3) << i << "," << j;
    }
  }
}

TEST(PatchSampling, OutOfRangePatchIsZeroed) {
  std::vector<float> src(20 * 10, 1.0f);
  Matrix s = {20, 10, src.data()};
  std::vector<float> out(5 * 3, -1.0f);
  Matrix p = {5, 3, out.data()};
  struct Case {
    float cy, cx;
    bool sampled;
  } cases[] = {{4.0f, 16.9f, true},  {4.0f, 17.0f, false},  // x0 + w would reach the last column
               // left -0.1 truncates to column 0; left -1.1 to -1.
               {4.0f, 1.9f, true},   {4.0f, 0.9f, false},   {7.9f, 8.0f, true},
               {8.0f, 8.0f, false},  {0.5f, 8.0f, true},    {-0.1f, 8.0f, false}, {1e30f, 8.0f, false},
               {4.0f, -1e30f, false}};
  for (const Case& c : cases) {
    std::fill(out.begin(), out.end(), -1.0f);
    Image_SamplePatchBilinear(&s, &p, c.cy, c.cx);
    for (float v : out) ASSERT_EQ(c.sampled ? 1.0f : 0.0f, v) << c.cx << "," << c.cy;
  }
  Matrix empty = {0, 3, nullptr};
  Image_SamplePatchBilinear(&s, &empty, 4.0f, 8.0f);

  std::fill(out.begin(), out.end(), -1.0f);
  Image_SamplePatchBilinearScaled(&s, &p, 4.0f, 8.0f, 0.5f);
  for (float v : out) EXPECT_EQ(1.0f, v);
  Image_SamplePatchBilinearScaled(&s, &p, 4.0f, 8.0f, 4.0f);
  for (float v : out) EXPECT_EQ(0.0f, v);
  // left 17.4: left + w * step = 19.9 fits, but the last sample (19.4) needs
  // column 20.
  std::fill(out.begin(), out.end(), -1.0f);
  Image_SamplePatchBilinearScaled(&s, &p, 4.0f, 18.4f, 0.5f);
  for (float v : out) EXPECT_EQ(0.0f, v);
}

TEST(Smoothing, KernelsWithEndPadding) {
  std::vector<float> work(16);
  std::vector<float> d = {0, 0, 4, 0, 0};
  Smooth1D(d.data(), 5, 1, work.data());
  EXPECT_EQ((std::vector<float>{0, 1, 2, 1, 0}), d);
  d = {0, 0, 16, 0, 0};
  Smooth1D(d.data(), 5, 2, work.data());
  EXPECT_EQ((std::vector<float>{1, 4, 6, 4, 1}), d);
  d = {0, 0, 0, 32, 0, 0, 0};
  Smooth1D(d.data(), 7, 3, work.data());
  EXPECT_EQ((std::vector<float>{1, 3.5f, 7, 9, 7, 3.5f, 1}), d);
  // Constant runs stay constant (the end copies).
  d = {5, 5, 5};
  Smooth1D(d.data(), 3, 3, work.data());
  EXPECT_EQ((std::vector<float>{5, 5, 5}), d);
  d = {1, 2, 3};
  Smooth1D(d.data(), 3, 4, work.data());
  EXPECT_EQ((std::vector<float>{1, 2, 3}), d);

  d = {3, 6, 9, 12};
  float last = BoxSmooth1D(d.data(), 4, 1, work.data());
  EXPECT_EQ((std::vector<float>{4, 6, 9, 11}), d);
  EXPECT_EQ(33.0f, last);

  d = {4, 8, 0, 4};
  Smooth3Interior(d.data(), 4, work.data());
  EXPECT_EQ((std::vector<float>{4, 5, 3, 4}), d);
}

TEST(Smoothing, IntegerGridFills) {
  // 7 x 5 grid with samples every 3 (columns 0, 3, 6; rows 0, 3 and last 4).
  std::vector<int32_t> g(7 * 5, -1);
  auto at = [&](int x, int y) -> int32_t& { return g[y * 7 + x]; };
  for (int y : {0, 3, 4})
    for (int x : {0, 3, 6}) at(x, y) = 10 * x + 100 * y;
  ImageI32 img = {7, 5, g.data()};
  Image_ScaleCols(&img, 3);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(10 * x + 100 * y, at(x, y)) << x << "," << y;

  // Integer slope truncates: 0 -> 10 over 3 steps of 3.
  std::vector<int32_t> line = {0, -1, -1, 10};
  ImageI32 one = {4, 1, line.data()};
  Image_ScaleCols(&one, 3);
  EXPECT_EQ((std::vector<int32_t>{0, 3, 6, 10}), line);

  // Samples at 0, 3, 6; the sample at 6 is a hole in U.
  std::vector<int32_t> u = {0, -1, -1, 9, -1, -1, kScaleHole - 1};
  std::vector<int32_t> v = {0, -1, -1, -3, -1, -1, 0};
  ImageI32 gu = {7, 1, u.data()}, gv2 = {7, 1, v.data()};
  Image_ScaleRows(&gu, &gv2, 3, 0, 0);
  EXPECT_EQ((std::vector<int32_t>{0, 3, 6, 9, -1, -1, kScaleHole - 1}), u);
  EXPECT_EQ((std::vector<int32_t>{0, -1, -2, -3, -1, -1, 0}), v);  // both maps skip the gap
}

}  // namespace
