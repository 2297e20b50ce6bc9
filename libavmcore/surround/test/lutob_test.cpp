#include "surround/lutob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "frame/global_variables.h"
#include "camera/lut_config_file.h"
#include "testsupport/config_state.h"
#include "toolkit/matrix_alloc.h"

namespace {

constexpr int kHand = kLutobHandPoints;

class LutobTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::vector<float> first_, second_;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    GlobalVariables& g = gv();
    g.f3 = 60;
    g.f5 = 100;
    g.f6 = 0;
    g.cornerCount1 = 35;
    g.cornerCount2 = 30;
    g.cornerCount34 = 20;
    // Entered point k of camera c: first = 1000 c + k, second = -(1000 c + k).
    first_.resize(4 * kHand);
    second_.resize(4 * kHand);
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < kHand; ++k) {
        first_[kHand * c + k] = static_cast<float>(1000 * c + k);
        second_[kHand * c + k] = -static_cast<float>(1000 * c + k);
      }
  }
  // A full object from hand-entered points, with poses and tail fields set.
  LUTOB* HandBuilt() {
    LUTOB* lut = LUTOB_Create();
    EXPECT_EQ(LUTOB_BuildFromHand(lut, 1800, 4600, 0, 500, 2800, 2, 640, 480, first_.data(), second_.data()), 0);
    for (int c = 0; c < 4; ++c) {
      for (int i = 0; i < 9; ++i) lut->params.K[c][i] = static_cast<float>(c * 10 + i);
      for (int i = 0; i < 3; ++i) lut->params.T[c][i] = static_cast<float>(100 * c - i);
      lut->seamAngles[c] = 40.0f + static_cast<float>(c);
      lut->bandSizes[c] = 10 + c;
      for (int k = 0; k < gv().maxPoints; ++k)
        for (int j = 0; j < 3; ++j) lut->worldPoints[c][3 * k + j] = static_cast<float>(c * 7 + k * 3 + j);
    }
    lut->blendWidths[0] = 12;
    lut->blendWidths[1] = 14;
    lut->cfg.extraParam = 0;
    return lut;
  }
  std::string Bytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

TEST_F(LutobTest, ConfigFileSaveLoadSaveIsIdentical) {
  LUTOB* lut = HandBuilt();
  ASSERT_EQ(lut->camW, 320);
  ASSERT_NE(lut->previewImage.data, nullptr);
  const std::string path = state_.Path("lut_config.krv");
  ASSERT_EQ(SaveLUTConfig(lut, path.c_str()), 1);
  const std::string saved = Bytes(path);
  EXPECT_EQ(saved.size(), static_cast<size_t>(496 + 80 * gv().maxPoints));

  LUTOB* back = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(back, path.c_str(), nullptr), 1);
  EXPECT_EQ(back->camW, 320);  // from the stored quad size
  EXPECT_EQ(back->camH, 240);
  EXPECT_EQ(back->cfg.carWidth, 1800);
  EXPECT_EQ(back->cfg.carLength, 4600);
  EXPECT_EQ(back->cfg.wheelBase, 2800);
  EXPECT_EQ(back->cfg.frontOverhang, lut->cfg.frontOverhang);
  EXPECT_EQ(0, memcmp(&back->params, &lut->params, sizeof lut->params));
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(back->cornerCounts[c], lut->cornerCounts[c]);
    EXPECT_EQ(0, memcmp(back->imagePoints[c], lut->imagePoints[c], 8u * gv().maxPoints)) << c;
    EXPECT_EQ(0, memcmp(back->worldPoints[c], lut->worldPoints[c], 12u * gv().maxPoints)) << c;
    EXPECT_EQ(back->seamAngles[c], lut->seamAngles[c]);
    EXPECT_EQ(back->bandSizes[c], lut->bandSizes[c]);
  }
  EXPECT_EQ(back->blendWidths[0], 12);
  EXPECT_EQ(back->blendWidths[1], 14);
  EXPECT_EQ(back->previewImage.cols, 60);
  EXPECT_EQ(back->poses.K[1].data, back->params.K[1]);

  const std::string again = state_.Path("again.krv");
  ASSERT_EQ(SaveLUTConfig(back, again.c_str()), 1);
  EXPECT_EQ(Bytes(again), saved);
  LUTOB_Destroy(back);

  // Without own blend widths the configuration's are stored.
  lut->blendWidths[1] = 0;
  ASSERT_EQ(SaveLUTConfig(lut, path.c_str()), 1);
  LutConfigLayout lay;
  ASSERT_TRUE(LutConfigLayout_Make(gv().pointsPerCamera, gv().maxPoints, &lay));
  const std::string s = Bytes(path);
  int32_t bw[2];
  memcpy(bw, s.data() + lay.frontBlendWidth, 8);
  EXPECT_EQ(bw[0], 30);
  EXPECT_EQ(bw[1], 45);
  EXPECT_EQ(SaveLUTConfig(lut, state_.Path("no/dir/x.krv").c_str()), 0);

  LUTOB_ReleaseBuffers(lut);
  EXPECT_EQ(lut->camW, 0);
  EXPECT_EQ(lut->imagePoints[0], nullptr);
  LUTOB_ReleaseBuffers(lut);  // twice is harmless
  LUTOB_Destroy(lut);
}

TEST_F(LutobTest, LoadConfigEdgeCases) {
  LUTOB* lut = HandBuilt();
  lut->cornerCounts[2] = 7;
  const std::string path = state_.Path("lut_config.krv");
  ASSERT_EQ(SaveLUTConfig(lut, path.c_str()), 1);
  std::string bytes = Bytes(path);
  LUTOB_Destroy(lut);

  // A model word of 0 loads as model 2.
  std::string zeroModel = bytes;
  memset(&zeroModel[16], 0, 4);
  state_.WriteFile("m0.krv", zeroModel);
  LUTOB* a = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(a, state_.Path("m0.krv").c_str(), nullptr), 1);
  EXPECT_EQ(a->cfg.model[0], 2u);
  EXPECT_EQ(a->cfg.model[3], 2u);

  // Another magic, or no file: refused, the loaded object stays as it was.
  std::string wrong = bytes;
  wrong[0] = 0x02;
  state_.WriteFile("wrong.krv", wrong);
  EXPECT_EQ(LUTOB_LoadConfig(a, state_.Path("wrong.krv").c_str(), nullptr), 0);
  EXPECT_EQ(LUTOB_LoadConfig(a, state_.Path("missing.krv").c_str(), nullptr), 0);
  EXPECT_EQ(a->camW, 320);
  EXPECT_EQ(a->cornerCounts[2], 7);

  // Words the blind area and the sizes compute with, out of range (a car
  // width near 2^31, a quad width beyond any frame or 0, a band near 2^31):
  // refused before the object changes.
  LutConfigLayout lay;
  ASSERT_TRUE(LutConfigLayout_Make(gv().pointsPerCamera, gv().maxPoints, &lay));
  for (const auto& word : {std::pair<long, int32_t>{4, 0x7FFFFFF0}, {lay.quadWidth, 1 << 20},
                           {lay.bandSizes + 4, 0x7FFFFFFF}, {lay.frontOverhang, INT32_MIN},
                           {lay.quadWidth, 0}, {lay.quadHeight, 0}}) {
    std::string hostile = bytes;
    memcpy(&hostile[static_cast<size_t>(word.first)], &word.second, 4);
    state_.WriteFile("hostile.krv", hostile);
    EXPECT_EQ(LUTOB_LoadConfig(a, state_.Path("hostile.krv").c_str(), nullptr), 0) << word.first;
    EXPECT_EQ(a->camW, 320);
    EXPECT_EQ(a->cornerCounts[2], 7);
  }

  // A count beyond the point arrays is limited to them.
  std::string big = bytes;
  const int32_t huge = 100000;
  memcpy(&big[52], &huge, 4);
  state_.WriteFile("big.krv", big);
  ASSERT_EQ(LUTOB_LoadConfig(a, state_.Path("big.krv").c_str(), nullptr), 1);
  EXPECT_EQ(a->cornerCounts[0], gv().maxPoints);

  // A file that ends inside the header words: defaults, zero counts.
  state_.WriteFile("short.krv", bytes.substr(0, 40));
  ASSERT_EQ(LUTOB_LoadConfig(a, state_.Path("short.krv").c_str(), nullptr), 1);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(a->cornerCounts[c], 0);
  EXPECT_EQ(a->cfg.wheelBase, 3000);
  EXPECT_EQ(a->camW, 0);

  // With a quad frame the camera images are its quadrants.
  std::vector<float> frame(8 * 6);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<float>(i);
  Matrix quad{8, 6, frame.data()};
  ASSERT_EQ(LUTOB_LoadConfig(a, path.c_str(), &quad), 1);
  EXPECT_EQ(a->camW, 4);
  EXPECT_EQ(a->camH, 3);
  EXPECT_EQ(a->cameraImages[3]->data[0], frame[3 * 8 + 4]);
  EXPECT_EQ(a->cameraImages[1]->data[5], frame[1 * 8 + 4 + 1]);
  LUTOB_Destroy(a);
}

TEST_F(LutobTest, HandPointsOrdersAndCounts) {
  GlobalVariables& g = gv();
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_BuildFromHand(lut, 1800, 4600, 0, 500, 2800, 2, 640, 480, first_.data(), second_.data()), 0);
  EXPECT_EQ(lut->cfg.handEntered, 1);
  // Point k: (second, first) of the entered arrays; counts from the fallbacks.
  EXPECT_EQ(lut->imagePoints[2][2 * 5], -2005.0f);
  EXPECT_EQ(lut->imagePoints[2][2 * 5 + 1], 2005.0f);
  EXPECT_EQ(lut->cornerCounts[0], 35);
  EXPECT_EQ(lut->cornerCounts[1], 30);
  EXPECT_EQ(lut->cornerCounts[3], 20);

  struct Case {
    int32_t code;
    int32_t counts;
    int camera;
    std::vector<int> order;
  } cases[] = {
      {13, 4, 3, {1, 0, 3, 2}},
      {13, 4, 0, {0, 1, 2, 3}},
      {4, 8, 0, {2, 3, 1, 0, 7, 5, 4, 6}},
      {4, 8, 1, {5, 4, 6, 7, 0, 2, 3, 1}},
      {4, 8, 3, {0, 2, 3, 1, 6, 7, 5, 4}},
      {9, 14, 2, {0, 1, 2}},
      {12, 8, 1, {0, 1}},
      {22, 5, 3, {0, 1}},
  };
  for (const Case& c : cases) {
    g.CalibLayoutCode = c.code;
    LUTOB_SetHandPoints(lut, first_.data(), second_.data());
    for (int cam = 0; cam < 4; ++cam) EXPECT_EQ(lut->cornerCounts[cam], c.counts) << c.code;
    for (size_t i = 0; i < c.order.size(); ++i)
      EXPECT_EQ(lut->imagePoints[c.camera][2 * i + 1], static_cast<float>(1000 * c.camera + c.order[i]))
          << "layout " << c.code << " camera " << c.camera + 1 << " place " << i;
  }
  // A camera outside the mask gets no points.
  g.CalibLayoutCode = 1;
  g.cameraMask = 0b1011;
  LUTOB_SetHandPoints(lut, first_.data(), second_.data());
  EXPECT_EQ(lut->cornerCounts[2], 0);
  EXPECT_EQ(lut->cornerCounts[3], 20);

  // Corner query: back to the entered arrays; untouched for count 0.
  std::vector<float> f(4 * kHand, 7.0f), s(4 * kHand, 7.0f);
  int32_t counts[4];
  LUTOB_GetCorners(lut, counts, f.data(), s.data());
  EXPECT_EQ(counts[2], 0);
  EXPECT_EQ(f[kHand * 2], 7.0f);
  EXPECT_EQ(f[kHand * 3 + 4], first_[kHand * 3 + 4]);
  EXPECT_EQ(s[kHand * 3 + 4], second_[kHand * 3 + 4]);
  EXPECT_EQ(f[kHand * 3 + 20], 7.0f);  // beyond the count
  EXPECT_EQ(LUTOB_WorldPointsChanged(lut), 0);
  EXPECT_EQ(LUTOB_GetCameraWord(lut, 0), 0);
  lut->singleFitFlags[3] = 1;
  EXPECT_EQ(LUTOB_GetCameraWord(lut, 4), 1);
  EXPECT_EQ(LUTOB_GetCameraWord(lut, 5), 0);
  LUTOB_Destroy(lut);
}

TEST_F(LutobTest, SingleCameraImageBecomesCameraTwoOfAQuadFrame) {
  std::vector<uint8_t> pix(1280 * 720);
  for (size_t i = 0; i < pix.size(); ++i) pix[i] = static_cast<uint8_t>(i * 7);
  ImageU8 single{1280, 720, pix.data()};
  ImageU8Ptr quad(QuadFrame_FromSingleU8(&single));
  ASSERT_NE(quad, nullptr);
  EXPECT_EQ(quad->width, 2560);
  EXPECT_EQ(quad->height, 1440);
  EXPECT_EQ(quad->data[5 * 2560 + 1280 + 3], pix[5 * 1280 + 3]);
  EXPECT_EQ(quad->data[5 * 2560 + 3], 0);
  EXPECT_EQ(quad->data[800 * 2560 + 1300], 0);
  quad.reset();
  ImageU8 square{1920, 1920, pix.data()};
  EXPECT_EQ(QuadFrame_FromSingleU8(&square), nullptr);
  ImageU8 other{1000, 500, pix.data()};
  EXPECT_EQ(QuadFrame_FromSingleU8(&other), nullptr);

  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_BuildFromImage(lut, 1800, 4600, 0, 500, 2800, 2, &single, 0, 0), 0);
  EXPECT_EQ(gv().cameraMask, 2);
  EXPECT_EQ(lut->camW, 1280);
  EXPECT_EQ(lut->camH, 720);
  ASSERT_NE(lut->cameraImages[1], nullptr);
  EXPECT_FLOAT_EQ(lut->cameraImages[1]->data[5 * 1280 + 3], pix[5 * 1280 + 3] / 255.0f);
  EXPECT_EQ(lut->cameraImages[0]->data[5 * 1280 + 3], 0.0f);
  // Searched but nothing found: with the check, camera 2's code.
  EXPECT_EQ(LUTOB_BuildFromImage(lut, 1800, 4600, 0, 500, 2800, 2, &single, 0, 1), 18);
  EXPECT_EQ(lut->camW, 0);
  LUTOB_Destroy(lut);
}

TEST_F(LutobTest, CornerFailureCodesInCameraOrder) {
  std::vector<uint8_t> pix(64 * 48, 128);
  ImageU8 quad{64, 48, pix.data()};
  const struct {
    int32_t mask, code;
  } cases[] = {{1, 17}, {2, 18}, {4, 19}, {8, 20}, {0b0101, 17}, {0b1100, 19}, {15, 17}};
  for (const auto& c : cases) {
    gv().cameraMask = c.mask;
    LUTOB* lut = LUTOB_Create();
    EXPECT_EQ(LUTOB_BuildFromImage(lut, 1800, 4600, 0, 500, 2800, 2, &quad, 0, 1), c.code) << c.mask;
    EXPECT_EQ(lut->camW, 0);  // released for the caller to delete
    EXPECT_EQ(lut->imagePoints[0], nullptr);
    LUTOB_Destroy(lut);
  }
  // Float frame: images are filled before the search; the preview exists.
  std::vector<float> f(64 * 48, 0.5f);
  Matrix fq{64, 48, f.data()};
  gv().cameraMask = 15;
  LUTOB* lut = LUTOB_Create();
  EXPECT_EQ(LUTOB_BuildFromImageF32(lut, 1800, 4600, 0, 500, 2800, 2, &fq, 0, 0), 0);
  EXPECT_EQ(lut->camW, 32);
  EXPECT_NE(lut->previewImage.data, nullptr);
  EXPECT_EQ(lut->cameraImages[3]->data[0], 0.5f);
  EXPECT_EQ(LUTOB_BuildFromImageF32(lut, 1800, 4600, 0, 500, 2800, 2, &fq, 0, 1), 17);
  LUTOB_Destroy(lut);

  // The four-block layout passes its calibration's code through: no block
  // on a plain frame, and hand corners that are no blocks.
  gv().CalibLayoutCode = 29;
  lut = LUTOB_Create();
  EXPECT_EQ(LUTOB_BuildFromImage(lut, 1800, 4600, 0, 500, 2800, 2, &quad, 0, 1), 17);
  EXPECT_NE(LUTOB_BuildFromHand(lut, 1800, 4600, 0, 500, 2800, 2, 640, 480, first_.data(), second_.data()), 0);
  LUTOB_Destroy(lut);
}

}  // namespace
