#include "surround/merger_lut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport/four_camera_rig.h"
#include "surround/mix_area_info.h"
#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/scene_renderer.h"

namespace {

// Camera (1..4) whose quadrant holds a quad-frame point.
int QuadrantOf(float x, float y, int32_t camW, int32_t camH) {
  return 1 + (x >= static_cast<float>(camW) ? 1 : 0) + (y >= static_cast<float>(camH) ? 2 : 0);
}

class MergerMaps : public ::testing::Test {
 protected:
  static constexpr int32_t kCamW = 320, kCamH = 240, kOutW = 116, kOutH = 200;
  ScopedConfigState state_;
  std::unique_ptr<FourCameraRig> rig_;
  LUTOB* lut_ = nullptr;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = std::make_unique<FourCameraRig>(kCamW, kCamH, kOutW, kOutH);
    lut_ = rig_->lut;
  }
  const LutConfig& cfg() const { return lut_->cfg; }
  float At(const Matrix& m, int r, int c) const { return m.data[r * m.cols + c]; }
  int Cam1(int r, int c) const { return QuadrantOf(At(cfg().X1, r, c), At(cfg().Y1, r, c), kCamW, kCamH); }
  int Cam2(int r, int c) const { return QuadrantOf(At(cfg().X2, r, c), At(cfg().Y2, r, c), kCamW, kCamH); }
  bool Rejected(int r, int c) const {
    const float x = At(cfg().X1, r, c), y = At(cfg().Y1, r, c);
    return std::fmod(x, static_cast<float>(kCamW)) == 0.0f && std::fmod(y, static_cast<float>(kCamH)) == 0.0f;
  }
};

TEST_F(MergerMaps, FromStoredPosesEveryPixelHasTheRightCamera) {
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  const LutConfig& c = cfg();
  // Car rectangle of 1800 x 4600 mm at 50 mm a pixel, centred; inner
  // rectangle 200 mm (4 px) inside it.
  EXPECT_EQ(c.carLeft, 40);
  EXPECT_EQ(c.carRight, 76);
  EXPECT_EQ(c.carTop, 54);
  EXPECT_EQ(c.carBottom, 146);
  EXPECT_EQ(c.innerLeft, 44);
  EXPECT_EQ(c.innerRight, 72);
  EXPECT_EQ(c.innerTop, 58);
  EXPECT_EQ(c.innerBottom, 142);

  int outside = 0, rejected = 0;
  for (int r = 0; r < kOutH; ++r) {
    for (int col = 0; col < kOutW; ++col) {
      const float w1 = At(c.W1, r, col), w2 = At(c.W2, r, col), w3 = At(c.W3, r, col);
      ASSERT_GE(w1, 0.5f) << r << "," << col;
      ASSERT_LE(w1, 1.0f) << r << "," << col;
      ASSERT_GE(w2, -1.0f);
      ASSERT_LE(w2, 1.0f);
      ASSERT_GE(w3, 0.001f);
      ASSERT_LE(w3, 1.0f);
      const bool inner = r >= c.innerTop && r <= c.innerBottom && col >= c.innerLeft && col <= c.innerRight;
      if (inner) {
        // No source: weight 1 at the quad frame's bottom-left pixel row.
        ASSERT_EQ(w1, 1.0f);
        ASSERT_EQ(At(c.X1, r, col), 0.0f);
        ASSERT_EQ(At(c.Y1, r, col), 2.0f * kCamH - 1);
        continue;
      }
      const bool inCar = r >= c.carTop && r <= c.carBottom && col >= c.carLeft && col <= c.carRight;
      if (!inCar) {
        ++outside;
        if (Rejected(r, col)) ++rejected;
      }
      const int first = Cam1(r, col), second = Cam2(r, col);
      const bool above = r < c.carTop, below = r > c.carBottom;
      const bool left = col < c.carLeft, right = col > c.carRight;
      if (above && !left && !right) {
        ASSERT_EQ(first, 1) << r << "," << col;
      } else if (below && !left && !right) {
        ASSERT_EQ(first, 2) << r << "," << col;
      } else if (r >= c.innerTop && r <= c.innerBottom && left) {
        ASSERT_EQ(first, 3) << r << "," << col;
      } else if (r >= c.innerTop && r <= c.innerBottom && right) {
        ASSERT_EQ(first, 4) << r << "," << col;
      } else if (!inCar) {
        // Corners and margin seams: the end camera of that side and the
        // side camera, the second one present in a blend.
        const int end = r < kOutH / 2 ? 1 : 2, side = col < kOutW / 2 ? 3 : 4;
        ASSERT_TRUE(first == end || first == side) << r << "," << col;
        if (w1 < 1.0f) {
          ASSERT_EQ(first + second, end + side) << r << "," << col;
        }
      }
    }
  }
  // Nearly everything around the car is seen by its camera.
  EXPECT_LT(rejected, outside / 50) << rejected << " of " << outside;
  // The ring between the car body and the inner rectangle is served too.
  for (int col = c.carLeft; col <= c.carRight; ++col) {
    EXPECT_FALSE(Rejected(c.carTop, col)) << col;
    EXPECT_EQ(Cam1(c.carTop, col), 1);
  }
  // The seam ramp runs 0..1 across the front and 1..0 across the rear.
  EXPECT_EQ(At(c.W2, c.innerTop - 1, c.innerLeft - 1), 0.0f);
  EXPECT_EQ(At(c.W2, c.innerTop - 1, c.innerRight + 1), 1.0f);
  EXPECT_EQ(At(c.W2, c.innerBottom, c.innerLeft), 1.0f);
  EXPECT_EQ(At(c.W2, c.innerBottom, c.innerRight), 0.0f);
}

TEST_F(MergerMaps, AbsentCamerasAndBlankedView) {
  lut_->cornerCounts[2] = lut_->cornerCounts[3] = 0;
  lut_->cornerCounts[1] = 0;
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  // Only the front camera: every pixel takes it as first source, the car
  // interior included.
  const LutConfig& c = cfg();
  for (int r = 0; r < kOutH; r += 7)
    for (int col = 0; col < kOutW; col += 5) {
      EXPECT_EQ(At(c.W1, r, col), 1.0f);
      EXPECT_EQ(Cam1(r, col), r < kOutH / 2 ? 1 : 2) << r << "," << col;
    }

  // Dropping camera 1 by the mask: its band turns to the side cameras.
  lut_->cornerCounts[1] = lut_->cornerCounts[2] = lut_->cornerCounts[3] = 35;
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 1), 0);
  EXPECT_EQ(lut_->cornerCounts[0], 0);
  EXPECT_NE(Cam1(10, kOutW / 2 - 10), 1);
  EXPECT_NE(Cam1(10, 5), 1);
}

TEST_F(MergerMaps, PoseSolvingCodes) {
  GlobalVariables& g = gv();
  const std::vector<float> before(lut_->params.T[0], lut_->params.T[0] + 3);
  // Until pose solving is linked in, every solve is refused.
  EXPECT_EQ(LUT_GenerateMergerLUT(lut_, 2, 0), 33);
  g.cameraMask = 0b1100;
  EXPECT_EQ(LUT_GenerateMergerLUT(lut_, 2, 0), 35);
  lut_->cornerCounts[3] = 0;
  g.cameraMask = 0b1000;
  EXPECT_EQ(LUT_GenerateMergerLUT(lut_, 1, 0), 36);  // no corners: no solve at all
  EXPECT_EQ(std::vector<float>(lut_->params.T[0], lut_->params.T[0] + 3), before);
  // The seam angles come from the configuration when poses are solved.
  g.config.seamAngle[0] = 60.0f;
  g.cameraMask = 15;
  EXPECT_NE(LUT_GenerateMergerLUT(lut_, 2, 0), 0);
  EXPECT_EQ(lut_->seamAngles[0], 60.0f);
  // Four counts of exactly 1 build without solving.
  for (int32_t& n : lut_->cornerCounts) n = 1;
  EXPECT_EQ(LUT_GenerateMergerLUT(lut_, 1, 0), 0);
  EXPECT_EQ(cfg().carLeft, 40);
}

TEST_F(MergerMaps, FixedFrontCameraShiftsAllCameras) {
  GlobalVariables& g = gv();
  g.frontCameraXFixed = 1;
  g.frontCameraX = 25.0f;
  float x[4];
  for (int c = 0; c < 4; ++c) x[c] = lut_->params.T[c][0];
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  EXPECT_FLOAT_EQ(lut_->params.T[0][0], 25.0f);
  for (int c = 1; c < 4; ++c) EXPECT_FLOAT_EQ(lut_->params.T[c][0], x[c] + 25.0f - x[0]);
}

TEST_F(MergerMaps, CornerWeightsAndZeroSpans) {
  GlobalVariables& g = gv();
  // Seam weight: the end camera keeps the part before the seam.
  EXPECT_EQ(LUT_CornerWeightBySeam(10.0f, -1.0f, 0.0f, 40.0f, lut_, 1), 1.0f);
  EXPECT_EQ(LUT_CornerWeightBySeam(0.0f, 31.0f, 0.0f, 40.0f, lut_, 1), 0.0f);  // beyond the 30 px band
  const float mid = LUT_CornerWeightBySeam(0.0f, 15.0f, 0.0f, 40.0f, lut_, 1);
  EXPECT_GE(mid, 0.0f);
  EXPECT_LE(mid, 1.0f);
  // A mean seam angle of 0 degrees and no blend band give finite weights.
  for (float& a : lut_->seamAngles) a = 0.0f;
  g.extraConfig.frontBlendWidth = 0;
  for (float dy : {0.0f, 3.0f})
    for (float dx : {-1.0f, 0.0f, 2.0f}) {
      const float w = LUT_CornerWeightBySeam(dy, dx, 0.0f, 40.0f, lut_, 1);
      EXPECT_TRUE(w == 0.0f || w == 1.0f) << dy << "," << dx << " " << w;
    }
  // Angle range: 0 below, 1 above, linear between.
  lut_->seamAngles[0] = 30.0f;
  lut_->seamAngles[1] = 60.0f;
  EXPECT_EQ(LUT_CornerWeightByAngleRange(1.0f, 10.0f, 1.0f, 1.0f, lut_, 1), 0.0f);
  EXPECT_EQ(LUT_CornerWeightByAngleRange(10.0f, 1.0f, 1.0f, 1.0f, lut_, 1), 1.0f);
  EXPECT_NEAR(LUT_CornerWeightByAngleRange(1.0f, 1.0f, 1.0f, 1.0f, lut_, 1), 0.5f, 1e-5f);
  lut_->seamAngles[1] = 30.0f;  // an empty range
  EXPECT_TRUE(std::isfinite(LUT_CornerWeightByAngleRange(std::tan(30.0f / 180.0f * 3.1415927f), 1.0f, 1.0f,
                                                         1.0f, lut_, 1)));

  // The whole build with seam angles of 0 and a car of one cell.
  lut_->seamAngles[1] = 0.0f;
  lut_->cfg.carWidth = 1;
  lut_->cfg.carLength = 1;
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  for (const Matrix* m : {&cfg().W1, &cfg().W2, &cfg().W3, &cfg().X1, &cfg().Y1})
    for (int i = 0; i < kOutW * kOutH; ++i) ASSERT_TRUE(std::isfinite(m->data[i])) << i;
}

TEST_F(MergerMaps, SectorLayout) {
  // The end cameras must see the middle of the car's sides.
  rig_.reset();
  rig_ = std::make_unique<FourCameraRig>(kCamW, kCamH, kOutW, kOutH, true);
  lut_ = rig_->lut;
  lut_->cfg.extraParam = 1;
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  const LutConfig& c = cfg();
  const int midCol = (c.carLeft + c.carRight) / 2, midRow = (c.carTop + c.carBottom) / 2;
  ASSERT_EQ(c.carLeft + c.carRight, 2 * midCol);
  ASSERT_EQ(c.carTop + c.carBottom, 2 * midRow);
  const int above = c.carTop - 10, beside = c.carLeft - 10;
  // Above the car: camera 1 passes to camera 4 across the band (37.5 px)
  // centred on the middle column; exactly there W1 is 0.5, camera 1 first.
  EXPECT_EQ(At(c.W1, above, midCol), 0.5f);
  EXPECT_EQ(Cam1(above, midCol), 1);
  EXPECT_EQ(Cam2(above, midCol), 4);
  EXPECT_EQ(At(c.W1, above, midCol - 19), 1.0f);
  EXPECT_EQ(Cam1(above, midCol - 19), 1);
  EXPECT_EQ(Cam1(above, midCol + 19), 4);
  EXPECT_EQ(At(c.W1, above, midCol + 19), 1.0f);
  // Beside the car on the left: camera 1 to camera 3 across the middle row.
  EXPECT_EQ(At(c.W1, midRow, beside), 0.5f);
  EXPECT_EQ(Cam1(midRow, beside), 1);
  EXPECT_EQ(Cam2(midRow, beside), 3);
  EXPECT_EQ(Cam1(midRow + 19, beside), 3);
  // Below and right: camera 2 with 3 or 4.
  EXPECT_EQ(Cam1(c.carBottom + 10, midCol + 19), 2);
  EXPECT_EQ(Cam1(c.carBottom + 10, midCol - 19), 3);
  EXPECT_EQ(Cam1(midRow + 19, c.carRight + 10), 2);
  EXPECT_EQ(Cam1(midRow - 19, c.carRight + 10), 4);
  // Only the inner rectangle stays without source; W2 stays 0.5.
  EXPECT_EQ(At(c.W1, midRow, midCol), 1.0f);
  EXPECT_EQ(At(c.X1, midRow, midCol), 0.0f);
  EXPECT_EQ(At(c.Y1, midRow, midCol), 2.0f * kCamH - 1);
  EXPECT_FALSE(Rejected(c.carTop, midCol - 5));
  for (int i = 0; i < kOutW * kOutH; ++i) {
    ASSERT_EQ(c.W2.data[i], 0.5f);
    ASSERT_GE(c.W1.data[i], 0.5f);
    ASSERT_LE(c.W1.data[i], 1.0f);
  }
}

// Ground truth: a chessboard on the ground, rendered through the four
// cameras into a quad frame and stitched with the maps, must look like the
// chessboard drawn straight from above.
TEST_F(MergerMaps, StitchedGroundMatchesThePatternFromAbove) {
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  TargetSpec board;
  board.kind = TargetKind::kChessboard;
  board.squaresX = board.squaresY = 40;
  board.squareSize = 400.0f;
  board.margin = 0.0f;
  board.origin[0] = board.origin[1] = -8000.0f;
  RenderOptions opt;
  opt.width = kCamW;
  opt.height = kCamH;
  opt.supersample = 3;
  const int32_t qw = 2 * kCamW;
  std::vector<float> quad(static_cast<size_t>(qw) * 2 * kCamH, 0.0f);
  for (int c = 0; c < 4; ++c) {
    const std::vector<uint8_t> img = Scene_RenderGrey(rig_->cams[c], board, opt);
    const int ox = (c & 1) * kCamW, oy = (c >> 1) * kCamH;
    for (int y = 0; y < kCamH; ++y)
      for (int x = 0; x < kCamW; ++x) quad[(oy + y) * qw + ox + x] = img[y * kCamW + x];
  }
  auto sample = [&](float x, float y) {
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const float fx = x - x0, fy = y - y0;
    auto p = [&](int xx, int yy) { return quad[yy * qw + xx]; };
    return (1 - fy) * ((1 - fx) * p(x0, y0) + fx * p(x0 + 1, y0)) + fy * ((1 - fx) * p(x0, y0 + 1) + fx * p(x0 + 1, y0 + 1));
  };
  const LutConfig& c = cfg();
  const float mmPerPixel = c.mmPerPixel;
  int checked = 0, wrong = 0, blendChecked = 0, ghosts = 0;
  for (int r = 0; r < kOutH; ++r) {
    for (int col = 0; col < kOutW; ++col) {
      const bool inCar = r >= c.carTop && r <= c.carBottom && col >= c.carLeft && col <= c.carRight;
      if (inCar || Rejected(r, col)) continue;
      const float* g = c.groundTable.data + 3 * (r * kOutW + col);
      const float u = (g[0] + 8000.0f) / 400.0f, v = (g[1] + 8000.0f) / 400.0f;
      // Pixels within one output pixel of a square edge may go either way.
      const float du = std::fabs(u - std::round(u)) * 400.0f, dv = std::fabs(v - std::round(v)) * 400.0f;
      if (du <= mmPerPixel || dv <= mmPerPixel) continue;
      const bool dark = ((static_cast<int>(std::floor(u)) + static_cast<int>(std::floor(v))) & 1) == 0;
      const float w1 = At(c.W1, r, col);
      const float a = sample(At(c.X1, r, col), At(c.Y1, r, col));
      const float b = sample(At(c.X2, r, col), At(c.Y2, r, col));
      const float stitched = w1 < 1.0f ? w1 * a + (1 - w1) * b : a;
      ++checked;
      if ((stitched < 125.0f) != dark) ++wrong;
      if (w1 < 1.0f) {
        ++blendChecked;
        if ((a < 125.0f) != dark || (b < 125.0f) != dark) ++ghosts;
      }
    }
  }
  EXPECT_GT(checked, kOutW * kOutH / 4);
  EXPECT_GT(blendChecked, 200);
  EXPECT_EQ(wrong, 0) << "of " << checked;
  EXPECT_EQ(ghosts, 0) << "of " << blendChecked;
}

}  // namespace

namespace {

TEST_F(MergerMaps, SinglePassForm) {
  ASSERT_EQ(LUT_BuildMergerMapsDirect(lut_), 0);
  const LutConfig& c = cfg();
  // The car box shrunk by the smaller blend width (at most 8) and H / 48.
  EXPECT_EQ(c.carLeft, c.carRect[0] + 8);
  EXPECT_EQ(c.innerRight, c.carRect[1] - 8);
  EXPECT_EQ(c.carTop, c.carRect[3] + kOutH / 48);
  EXPECT_EQ(c.innerBottom, c.carRect[4] - kOutH / 48);
  const int midRow = (c.carRect[3] + c.carRect[4]) / 2, midCol = (c.carRect[0] + c.carRect[1]) / 2;
  EXPECT_EQ(At(c.W1, midRow, midCol), 1.0f);
  EXPECT_EQ(At(c.X1, midRow, midCol), 0.0f);
  EXPECT_EQ(At(c.Y1, midRow, midCol), 2.0f * kCamH - 1);
  EXPECT_EQ(Cam1(5, midCol), 1);
  EXPECT_EQ(Cam1(kOutH - 5, midCol), 2);
  EXPECT_EQ(Cam1(midRow, 5), 3);
  EXPECT_EQ(Cam1(midRow, kOutW - 5), 4);
  // A single camera writes its point twice.
  EXPECT_EQ(At(c.X1, 5, midCol), At(c.X2, 5, midCol));
  bool below = false;
  for (int i = 0; i < kOutW * kOutH; ++i) {
    ASSERT_GE(c.W1.data[i], 0.0f);
    ASSERT_LE(c.W1.data[i], 1.0f);
    below = below || c.W1.data[i] < 0.5f;
  }
  EXPECT_TRUE(below);  // the end camera stays first down to 0.00001
}

}  // namespace

namespace {

// The road of a LUT load: stored poses in a lut_config file, a fresh object
// loaded from it, the same maps; then its mix-area tables sample the right
// cameras.
TEST_F(MergerMaps, LoadedConfigGivesTheSameMapsAndMixAreas) {
  ASSERT_EQ(LUT_GenerateMergerLUT(lut_, 0, 0), 0);
  const std::string path = state_.Path("lut_config.krv");
  ASSERT_EQ(SaveLUTConfig(lut_, path.c_str()), 1);
  LUTOB* loaded = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(loaded, path.c_str(), nullptr), 1);
  EXPECT_EQ(loaded->camW, kCamW);
  ASSERT_EQ(LUT_GenerateMergerLUT(loaded, 0, 0), 0);
  const LutConfig& a = cfg();
  const LutConfig& b = loaded->cfg;
  for (auto maps : {std::make_pair(&a.X1, &b.X1), std::make_pair(&a.Y1, &b.Y1), std::make_pair(&a.X2, &b.X2),
                    std::make_pair(&a.W1, &b.W1), std::make_pair(&a.W2, &b.W2), std::make_pair(&a.W3, &b.W3)})
    ASSERT_EQ(0, memcmp(maps.first->data, maps.second->data, sizeof(float) * kOutW * kOutH));
  EXPECT_EQ(b.carLeft, a.carLeft);
  EXPECT_EQ(b.innerBottom, a.innerBottom);

  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &b, 2 * kCamW, 2 * kCamH, loaded->cornerCounts[0], loaded->cornerCounts[1]);
  ASSERT_EQ(info.valid, 1u);
  ASSERT_GT(info.frontRows, 10);
  ASSERT_GT(info.rearRows, 10);
  // Upper source: the end camera (top half of the quad frame); other: the
  // side camera (bottom half). Left corners use the left half, right the right.
  const struct {
    int upper, other;
    bool right;
  } corners[4] = {{0, 8, false}, {2, 12, true}, {4, 10, false}, {6, 14, true}};
  for (int k = 0; k < 4; ++k) {
    const auto& cn = corners[k];
    const ImageI32& ux = info.tables[cn.upper];
    const ImageI32& uy = info.tables[cn.upper + 1];
    const ImageI32& ox = info.tables[cn.other];
    const ImageI32& oy = info.tables[cn.other + 1];
    const bool rear = k >= 2;
    for (int i = 0; i < ux.width * ux.height; ++i) {
      ASSERT_LT(uy.data[i], kCamH) << k << " " << i;
      ASSERT_GE(oy.data[i], kCamH) << k << " " << i;
      // Rear end camera is camera 2 (right half); side cameras by side.
      ASSERT_EQ(ux.data[i] >= kCamW, rear) << k << " " << i;
      ASSERT_EQ(ox.data[i] >= kCamW, cn.right) << k << " " << i;
    }
  }
  const std::string mix = state_.Path("lut_mixareainfo.krv");
  ASSERT_EQ(MixAreaInfo_Save(&info, mix.c_str()), 1);
  MixAreaInfo back = MixAreaInfo_Empty();
  MixAreaInfo_Load(&back, mix.c_str());
  ASSERT_EQ(back.valid, 1u);
  EXPECT_EQ(0, memcmp(back.tables[6].data, info.tables[6].data, 4u * info.tables[6].width * info.tables[6].height));
  MixAreaInfo_Release(&back);
  MixAreaInfo_Release(&info);
  LUTOB_Destroy(loaded);
}

}  // namespace
