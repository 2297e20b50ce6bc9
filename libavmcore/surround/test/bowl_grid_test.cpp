// The bowl object: grid size, creation and failure, seam weight maps.
#include "surround/bowl_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "bowl_test_fixture.h"
#include "surround/bowl_mesh.h"

namespace {

TEST(BowlGridSize, FollowsTheFloorExtensionAlongTheVehicle) {
  struct Case {
    float extY;
    int32_t cols, rows;
    float height, focal;
  } cases[] = {
      {20000.0f, 400, 536, 16000.0f, 170.0f}, {14000.5f, 400, 536, 16000.0f, 170.0f},
      {14000.0f, 340, 455, 13600.0f, 144.5f}, {11000.5f, 340, 455, 13600.0f, 144.5f},
      {9000.5f, 280, 375, 11200.0f, 119.0f},  {7000.5f, 240, 321, 9600.0f, 102.00001f},
      {7000.0f, 200, 268, 8000.0f, 85.0f},    {5400.0f, 200, 268, 8000.0f, 85.0f},
  };
  for (const Case& c : cases) {
    int32_t cols = 0, rows = 0;
    float h = 0, f = 0;
    D3DGrid_PickSize(c.extY, &cols, &rows, &h, &f);
    EXPECT_EQ(cols, c.cols) << c.extY;
    EXPECT_EQ(rows, c.rows) << c.extY;
    EXPECT_EQ(h, c.height) << c.extY;
    EXPECT_EQ(f, c.focal) << c.extY;
  }
}

using BowlGridTest = BowlFixture;

TEST_F(BowlGridTest, DefaultCreationAndTheExtendedForms) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->ready, 1);
  EXPECT_EQ(g->meshesBuilt, 0);
  EXPECT_EQ(g->cols, 200);
  EXPECT_EQ(g->rows, 268);
  EXPECT_EQ(g->height, 8000.0f);
  EXPECT_EQ(g->focal, 85.0f);
  EXPECT_EQ(g->projType, 1);
  EXPECT_EQ(g->quadW, 2u * kSampleCamW);
  EXPECT_EQ(g->carW, 1800.0f);
  EXPECT_EQ(g->carL, 4600.0f);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(g->model[c], 2u);

  GridPtr wide(KRV_GlobalImage_Init3DTrianOB_EX(path_.c_str(), 2400, 7000.5f, 6000, 1, 2400, 3400, 4000, 1));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->cols, 240);
  EXPECT_EQ(wide->rows, 321);
  EXPECT_EQ(wide->height, 9600.0f);
  GridPtr edge(KRV_GlobalImage_Init3DTrianOB_EX(path_.c_str(), 2400, 7000.0f, 6000, 1, 2400, 3400, 4000, 1));
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(edge->cols, 200);
  GridPtr inset(
      KRV_GlobalImage_Init3DTrianOB_EXD(path_.c_str(), 2400, 5400, 6000, 1, 2400, 3400, 4000, 1, 10, 20, 30, 40));
  ASSERT_NE(inset, nullptr);
  EXPECT_EQ(inset->insets[0], 10.0f);
  EXPECT_EQ(inset->insets[3], 40.0f);
}

TEST_F(BowlGridTest, AnUnreadableFileGivesNoHandleAndAMeshRequestOnItIsRefused) {
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB(state_.Path("missing.krv").c_str()), nullptr);
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB(nullptr), nullptr);
  state_.WriteFile("bad.krv", std::string(2000, '\x07'));
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB_EX(state_.Path("bad.krv").c_str(), 1, 2, 3, 4, 5, 6, 7, 8), nullptr);
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB_EXD(state_.Path("bad.krv").c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0),
            nullptr);

  // The internal object keeps ready 0 and a mesh request gives count 0.
  D3DGrid grid;
  EXPECT_EQ(D3DGrid_Init_New(&grid, state_.Path("missing.krv").c_str(), kBowlDefaultShape,
                             std::vector<float>(4, 0.0f).data()),
            0);
  EXPECT_EQ(grid.ready, 0);
  uint32_t count = 77;
  Generate3DTrian(&grid, 1, 3, &count, nullptr, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(grid.meshesBuilt, 0);
  count = 77;
  EXPECT_EQ(KRV_GlobalImage_Generate3DTrian(nullptr, 1, 3, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DTrianOB(nullptr), 0);
}

TEST_F(BowlGridTest, SeamMapsMarkTheVehicleAndHoldShares) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  float cL, cR, rT, rB;
  D3DGrid_CarEdges(g.get(), &cL, &cR, &rT, &rB);
  // The vehicle: 1800 x 4600 mm seen from 8000 mm with 85 px a radian.
  EXPECT_NEAR(cR - cL, 2 * 85 * std::atan(std::hypot(900.0, 2300.0) / 8000.0) * 900 / std::hypot(900.0, 2300.0), 1e-3);
  int inside = 0;
  for (int32_t r = 0; r < g->rows; ++r)
    for (int32_t c = 0; c < g->cols; ++c) {
      const float a = g->seamA.data[r * g->cols + c], b = g->seamB.data[r * g->cols + c];
      const bool car = c >= cL && c <= cR && r >= rT && r <= rB;
      if (car) {
        EXPECT_EQ(a, -1.0f) << c << "," << r;
        ++inside;
      } else {
        EXPECT_GE(a, 0.0f) << c << "," << r;
        EXPECT_LE(a, 1.0f) << c << "," << r;
      }
      EXPECT_TRUE(b == -1.0f || (b >= 0.0f && b <= 1.0f)) << c << "," << r << " " << b;
    }
  EXPECT_GT(inside, 100);
  // Straight ahead and behind: the front/rear group; beside: the side group.
  EXPECT_EQ(g->seamA.data[5 * g->cols + g->cols / 2], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 5) * g->cols + g->cols / 2], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + 3], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + g->cols - 3], 0.0f);
}

TEST_F(BowlGridTest, DegenerateSeamFractionsGiveFiniteMaps) {
  const float sets[][4] = {{0, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}, {0.7f, 0.7f, 0.2f, 0.2f}, {0.55f, 0.75f, 0.3f, 0.5f}};
  for (const auto& s : sets) {
    for (int k = 0; k < 4; ++k) gv().config.seamFraction[k] = s[k];
    GridPtr g = Grid();
    ASSERT_NE(g, nullptr);
    int bad = 0;
    for (int32_t i = 0; i < g->cols * g->rows; ++i)
      bad += !std::isfinite(g->seamA.data[i]) || !std::isfinite(g->seamB.data[i]);
    EXPECT_EQ(bad, 0) << s[0] << " " << s[1] << " " << s[2] << " " << s[3];
  }
}

TEST_F(BowlGridTest, AxisWeightsWhenTheFileAsksForThem) {
  BowlRigOptions opt;
  opt.extraParam = 1;
  GridPtr g = GridWith(opt, "axis.krv");
  ASSERT_NE(g, nullptr);
  for (int32_t i = 0; i < g->cols * g->rows; ++i) ASSERT_EQ(g->seamB.data[i], 0.5f);
  // Front band: 1 on the left, 0 on the right; rear band the other way.
  EXPECT_EQ(g->seamA.data[2 * g->cols + 2], 1.0f);
  EXPECT_EQ(g->seamA.data[2 * g->cols + g->cols - 3], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 3) * g->cols + 2], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 3) * g->cols + g->cols - 3], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + g->cols / 2], -1.0f);
}

// The seam rules written out in this test, on the grid's own inputs (its
// size, view, vehicle and insets): the view projection, the vehicle edges,
// the seam ramp and both maps of the default builder.
struct SeamReference {
  int32_t cols, rows;
  std::vector<float> A, B;
};

void ReferenceViewPoint(float f, float H, float x, float y, float* px, float* py) {
  const float d = std::sqrt(x * x + y * y);
  if (d <= 1e-5f) {
    *px = *py = 0.0f;
    return;
  }
  const float s = f * std::atan(d / H) / d;
  *px = x * s;
  *py = y * s;
}

float ReferenceRamp(float g, float w, float dy, float dx, float cL) {
  const float halfPi = 1.5707964f, nearOne = 0.998f, nearZero = 0.0019999743f;
  const float k = 1.0f / std::tan(g), kc = std::min(k, w), e = dx - std::min(k * dy, cL);
  if (dy < 3.0f && dx < 3.0f) {
    const float v = std::min(std::atan2(dy, e) / halfPi, (w - e) / w);
    return std::max(nearZero, std::min(nearOne, v));
  }
  if (-kc < e && e <= 0.0f) return nearOne;
  if (e <= -kc) {
    if (kc + e <= -w / 2) return 1.0f;
    if (cL - dx >= w) return nearOne;
    return std::fabs(std::atan2(dy, dx) - g) <= 0.12f ? nearOne : 1.0f;
  }
  if (e > w) return e - w >= w / 2 ? 0.0f : nearZero;
  return std::min(std::atan2(dy, e) / halfPi, (w - e) / w);
}

SeamReference ReferenceSeams(const D3DGrid& g, const float a[4], bool rearRamp) {
  const float halfPi = 1.5707964f;
  SeamReference ref{g.cols, g.rows, {}, {}};
  const int32_t cols = g.cols, rows = g.rows;
  const float x0 = -g.carW / 2 + g.insets[2], x1 = g.carW / 2 - g.insets[3];
  const float y0 = -g.carL / 2 + g.insets[0], y1 = g.carL / 2 - g.insets[1];
  float px, py;
  ReferenceViewPoint(g.focal, g.height, x0, y0, &px, &py);
  const float cL = cols / 2 + px, rT = rows / 2 + py;
  ReferenceViewPoint(g.focal, g.height, x1, y1, &px, &py);
  const float cR = cols / 2 + px, rB = rows / 2 + py;
  float g1 = (a[0] + a[1]) / 2 * halfPi, g2 = (a[2] + a[3]) / 2 * halfPi;
  if (!(g1 > 0.0f)) g1 = 0.001f;
  if (!(g2 > 0.0f)) g2 = 0.001f;
  const float w1 = cols * std::max((a[1] - a[0]) * 25 / std::cos(halfPi - g1), 4.0f) / 200;
  const float w2 = cols * std::max((a[3] - a[2]) * 25 / std::cos(halfPi - g2), 4.0f) / 200;
  ref.A.assign(static_cast<size_t>(cols) * rows, 0.0f);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const float fc = static_cast<float>(c), fr = static_cast<float>(r);
      const bool across = cL <= fc && fc <= cR;
      float v;
      if (fr < rT)
        v = across ? 1.0f : ReferenceRamp(g1, w1, rT - fr, fc < cL ? cL - fc : fc - cR, cL);
      else if (fr > rB)
        v = across ? 1.0f : rearRamp ? ReferenceRamp(g2, w2, fr - rB, fc < cL ? cL - fc : fc - cR, cL) : 0.0f;
      else
        v = across ? -1.0f : 0.0f;
      ref.A[static_cast<size_t>(r) * cols + c] = v;
    }
  ref.B.assign(static_cast<size_t>(cols) * rows, -1.0f);
  auto B = [&](int32_t r, int32_t c) -> float& { return ref.B[static_cast<size_t>(r) * cols + c]; };
  const int32_t iT = static_cast<int32_t>(rT), iB = static_cast<int32_t>(rB + 0.99999f);
  const int32_t iL = static_cast<int32_t>(cL), iR = static_cast<int32_t>(cR + 0.99999f);
  const float t1 = std::tan((a[0] + a[1]) / 2), t2 = std::tan((a[2] + a[3]) / 2);
  for (int32_t k = 0; k <= iT; ++k) {
    const int32_t h = std::min(static_cast<int32_t>((iT - k) / t1), iL);
    const int32_t s = iL - h, e = std::min(h + iR, cols - 1);
    for (int32_t c = s; s <= e && c <= e; ++c) B(k, c) = static_cast<float>(c - s) / static_cast<float>(e - s);
  }
  for (int32_t k = iT; k >= 0; --k) {
    const int32_t h = std::min(static_cast<int32_t>(k / t2), iL);
    const int32_t s = iL - h, e = std::min(iR + h, cols - 1);
    for (int32_t c = s; s <= e && c <= e; ++c)
      B(rows - 1 - (iT - k), c) = 1.0f - static_cast<float>(c - s) / static_cast<float>(e - s);
  }
  if (iL >= 0)
    for (int32_t j = 0; j <= iL; ++j) {
      const int32_t d = iL - j;
      const int32_t first = std::max(iT - static_cast<int32_t>(d * t1) - 1, 0);
      int32_t last = static_cast<int32_t>(d * t2) + iB + 1;
      if (last >= rows) last = rows - 1;
      for (int32_t r = first; r <= last; ++r) {
        if (B(r, j) < 0.0f)
          B(r, j) = std::max(0.0f, std::min(1.0f, static_cast<float>(r - iT) / static_cast<float>(iB - iT)));
        B(r, cols - 1 - j) = 1.0f - B(r, j);
      }
    }
  return ref;
}

// Every node of both maps against the rules written out above, for the
// default seam fractions and others, with and without the rear ramp, with
// and without vehicle insets, on two grid sizes.
TEST_F(BowlGridTest, SeamMapsFollowTheSeamRulesAtEveryNode) {
  struct Case {
    float fractions[4];
    int32_t cornerCount;  // of camera 2: the rear corners get a ramp when non-zero
    float extY;           // floor extension along the vehicle: the grid size
    float insets[4];
  };
  const Case cases[] = {
      {{0.55f, 0.75f, 0.3f, 0.5f}, 35, 5400.0f, {0, 0, 0, 0}},
      {{0.55f, 0.75f, 0.3f, 0.5f}, 0, 5400.0f, {0, 0, 0, 0}},
      {{0.4f, 0.9f, 0.2f, 0.7f}, 35, 9500.0f, {100, 250, 50, 80}},
      {{0.6f, 0.62f, 0.45f, 0.5f}, 12, 5400.0f, {0, 0, 0, 0}},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    for (int i = 0; i < 4; ++i) gv().config.seamFraction[i] = k.fractions[i];
    BowlRigOptions opt;
    opt.cornerCount = k.cornerCount;
    const std::string p = state_.Path("seam" + std::to_string(n++) + ".krv");
    ASSERT_TRUE(BowlRig_WriteConfig(p, opt));
    GridPtr g(KRV_GlobalImage_Init3DTrianOB_EXD(p.c_str(), 2400, k.extY, 6000, 1, 2400, 3400, 4000, 1, k.insets[0],
                                                k.insets[1], k.insets[2], k.insets[3]));
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->info.cornerCount[1] != 0, k.cornerCount != 0);
    const SeamReference ref = ReferenceSeams(*g, k.fractions, k.cornerCount != 0);
    int badA = 0, badB = 0, ramps = 0;
    for (int32_t r = 0; r < g->rows; ++r)
      for (int32_t c = 0; c < g->cols; ++c) {
        const size_t i = static_cast<size_t>(r) * g->cols + c;
        const float a = g->seamA.data[i], b = g->seamB.data[i];
        ramps += ref.A[i] > 0.0f && ref.A[i] < 1.0f;
        if (!(std::fabs(a - ref.A[i]) <= 1e-5f) && badA++ < 5)
          ADD_FAILURE() << "map A at " << c << "," << r << ": " << a << ", rule " << ref.A[i];
        if (!(std::fabs(b - ref.B[i]) <= 1e-5f) && badB++ < 5)
          ADD_FAILURE() << "map B at " << c << "," << r << ": " << b << ", rule " << ref.B[i];
      }
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
    EXPECT_GT(ramps, 100);  // the ramps are there to be checked
  }
}

}  // namespace
