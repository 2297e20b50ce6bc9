#include "pipeline/rot_template_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "testsupport/config_state.h"
#include "testsupport/rot_template_model.h"

namespace {

class RotTemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RotTemplateModel_WriteTemplate(state_.Path("t.bmp"), 15));
    detector_.templateSize = 15;
  }
  void TearDown() override { RotTemplate_Release(&detector_); }

  int Load(const RotTemplateModelSpec& spec) {
    const std::string model = state_.Path("m.bin");
    EXPECT_TRUE(RotTemplateModel_Write(spec, model));
    return RotTemplate_LoadModel(&detector_, model.c_str(), state_.Path("t.bmp").c_str());
  }

  // Dark frame with bright 3 x 3 dots on a grid of the given pitch.
  static std::vector<float> DotFrame(int32_t w, int32_t h, int32_t pitch) {
    std::vector<float> f(static_cast<size_t>(w) * h, 0.1f);
    for (int32_t cy = pitch / 2; cy < h - 4; cy += pitch)
      for (int32_t cx = pitch / 2; cx < w - 4; cx += pitch)
        for (int32_t y = cy - 1; y <= cy + 1; ++y)
          for (int32_t x = cx - 1; x <= cx + 1; ++x) f[static_cast<size_t>(y) * w + x] = 0.9f;
    return f;
  }

  ScopedConfigState state_;
  RotTemplateDetector detector_;
};

TEST_F(RotTemplateTest, LoadsAConsistentModel) {
  RotTemplateModelSpec spec;
  spec.nodes = 3;
  ASSERT_EQ(Load(spec), 1);
  EXPECT_EQ(detector_.frameWidth, 200);
  EXPECT_EQ(detector_.frameHeight, 160);
  EXPECT_EQ(detector_.classifierCount, 4);
  EXPECT_EQ(detector_.trees, 240);
  EXPECT_EQ(detector_.nodes, 3);
  ASSERT_EQ(detector_.templates.size(), 180u);
  EXPECT_EQ(detector_.templates[0].size(), 225u);
}

struct BadModel {
  const char* name;
  void (*edit)(RotTemplateModelSpec*);
};

// Each model breaks one of the rules that keep the scan inside its tables.
const BadModel kBadModels[] = {
    {"magic", [](RotTemplateModelSpec* s) { s->magic = 0x09030102u; }},
    {"239 trees", [](RotTemplateModelSpec* s) { s->trees = 239; }},
    {"3 classifiers", [](RotTemplateModelSpec* s) { s->classifiers = 3; }},
    {"negative classifiers", [](RotTemplateModelSpec* s) { s->classifiers = -4; }},
    {"no nodes", [](RotTemplateModelSpec* s) { s->nodes = 0; }},
    {"channels not half the frame", [](RotTemplateModelSpec* s) { s->channelWidth = 101; }},
    {"window beyond the channels", [](RotTemplateModelSpec* s) { s->windowHeight = 81; }},
    {"feature outside the window",
     [](RotTemplateModelSpec* s) {
       s->nodes = 3;
       s->feature = 8 * 8 * 8;
     }},
    {"child beyond the tree",
     [](RotTemplateModelSpec* s) {
       s->nodes = 3;
       s->child = 3;
     }},
    {"child pointing back to its node",
     [](RotTemplateModelSpec* s) {
       s->nodes = 3;
       s->child = 1;
     }},
};

TEST_F(RotTemplateTest, RefusesModelsWhoseCountsDoNotHoldTogether) {
  for (const BadModel& bad : kBadModels) {
    RotTemplateModelSpec spec;
    bad.edit(&spec);
    EXPECT_EQ(Load(spec), 0) << bad.name;
    EXPECT_TRUE(detector_.classifiers.empty()) << bad.name;
    EXPECT_TRUE(detector_.templates.empty()) << bad.name;
  }
}

TEST_F(RotTemplateTest, RefusesTruncatedFilesAndCountsLargerThanTheFile) {
  std::vector<uint8_t> bytes = RotTemplateModel_Bytes(RotTemplateModelSpec{});
  const std::string t = state_.Path("t.bmp");
  for (size_t cut : {size_t{0}, size_t{3}, size_t{39}, size_t{40}, bytes.size() - 1}) {
    EXPECT_EQ(RotTemplate_LoadModelBytes(&detector_, bytes.data(), cut, t.c_str()), 0) << cut;
  }
  std::vector<uint8_t> head = RotTemplateModel_Bytes(RotTemplateModelSpec{});
  head.resize(40);
  for (int i = 0; i < 4; ++i) {
    head[28 + i] = static_cast<uint8_t>(0x7fffffffu >> (8 * i));
    head[32 + i] = static_cast<uint8_t>(0x7fffffffu >> (8 * i));
  }
  EXPECT_EQ(RotTemplate_LoadModelBytes(&detector_, head.data(), head.size(), t.c_str()), 0);
  EXPECT_EQ(RotTemplate_LoadModelBytes(&detector_, bytes.data(), bytes.size(), t.c_str()), 1);
}

TEST_F(RotTemplateTest, MissingFilesAndUnsetTemplateSizeLoadNothing) {
  EXPECT_EQ(RotTemplate_LoadModel(&detector_, state_.Path("none.bin").c_str(), state_.Path("t.bmp").c_str()), 0);
  const std::string model = state_.Path("m.bin");
  ASSERT_TRUE(RotTemplateModel_Write(RotTemplateModelSpec{}, model));
  EXPECT_EQ(RotTemplate_LoadModel(&detector_, model.c_str(), state_.Path("none.bmp").c_str()), 0);
  EXPECT_TRUE(detector_.classifiers.empty());
  detector_.templateSize = 0;
  EXPECT_EQ(RotTemplate_LoadModel(&detector_, model.c_str(), state_.Path("t.bmp").c_str()), 0);
}

TEST_F(RotTemplateTest, CapsTheBoxesAt32AndIgnoresFramesOfAnotherSize) {
  ASSERT_EQ(Load(RotTemplateModelSpec{}), 1);  // every masked window scores 24
  std::vector<float> f = DotFrame(200, 160, 20);  // 80 dots, 20 pixels apart
  Matrix frame{200, 160, f.data()};
  RotTemplate_Detect(&detector_, &frame);
  ASSERT_EQ(detector_.boxCount, 32);
  for (int i = 0; i < detector_.boxCount; ++i) {
    const RotTemplateBox& b = detector_.boxes[i];
    EXPECT_EQ(b.y1, b.y + 15);
    EXPECT_EQ(b.x1, b.x + 15);
    EXPECT_NEAR(b.score, 24.0f, 1e-3f);
    for (int j = 0; j < i; ++j) {
      const float d = std::hypot(static_cast<float>(b.x - detector_.boxes[j].x),
                                 static_cast<float>(b.y - detector_.boxes[j].y));
      EXPECT_GE(d, 10.0f);
    }
  }
  // One column wider: nothing changes.
  std::vector<float> wide(201 * 160, 0.5f);
  Matrix other{201, 160, wide.data()};
  detector_.boxes[0].score = -7.0f;
  RotTemplate_Detect(&detector_, &other);
  EXPECT_EQ(detector_.boxCount, 32);
  EXPECT_EQ(detector_.boxes[0].score, -7.0f);
}

TEST_F(RotTemplateTest, StumpsDecideByTheirFeature) {
  // One stump on channel 0 (grey contrast x 255) at the window's centre:
  // dots score 240 x 0.1, the flat ground never passes the mask.
  RotTemplateModelSpec spec;
  spec.nodes = 3;
  spec.feature = (4 * 8 + 4) * 8;
  spec.threshold = 140.0f;
  ASSERT_EQ(Load(spec), 1);
  std::vector<float> f = DotFrame(200, 160, 60);
  Matrix frame{200, 160, f.data()};
  RotTemplate_Detect(&detector_, &frame);
  ASSERT_GT(detector_.boxCount, 0);
  for (int i = 0; i < detector_.boxCount; ++i) {
    const RotTemplateBox& b = detector_.boxes[i];
    // Within a few pixels of a dot centre (30 + 60k).
    EXPECT_LE(std::abs((b.x - 30 + 30) % 60 - 30), 4) << b.x;
    EXPECT_LE(std::abs((b.y - 30 + 30) % 60 - 30), 4) << b.y;
  }
  // The same stump with a threshold no window reaches scores -0.1 a tree.
  spec.threshold = 1e9f;
  ASSERT_EQ(Load(spec), 1);
  RotTemplate_Detect(&detector_, &frame);
  EXPECT_EQ(detector_.boxCount, 0);
}

TEST(RotTemplateDistance, Classes) {
  struct Case {
    float d;
    int32_t cls;
  } cases[] = {{63.65f, 0}, {80.0f, 1}, {98.74f, 1}, {100.0f, 0}, {150.0f, 3}, {172.1f, 0}, {180.0f, 2}, {198.5f, 0}};
  for (const Case& c : cases) EXPECT_EQ(RotTemplate_DistanceClass(c.d), c.cls) << c.d;
}

TEST(RotTemplateImages, ChannelOperations) {
  std::vector<float> a(2 * 3 * 8), b(2 * 3 * 8);
  Matrix ma{2, 3, a.data()}, mb{2, 3, b.data()};
  const float v[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  Image8_Fill(&ma, v);
  std::vector<float> plane(6, 9.0f);
  Matrix p{2, 3, plane.data()};
  Image8_SetChannel(&p, &ma, 3);
  Image8_ScaleChannel(&ma, 5, 2.0f);
  Image8_Copy(&ma, &mb);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(b[i * 8 + 2], 2.0f);
    EXPECT_EQ(b[i * 8 + 3], 9.0f);
    EXPECT_EQ(b[i * 8 + 5], 10.0f);
  }
}

TEST(RotTemplateImages, NormalisedPatchMapsMinToZeroAndMaxToOne) {
  std::vector<float> img(10 * 10);
  for (int i = 0; i < 100; ++i) img[i] = static_cast<float>(i) / 200.0f;
  Matrix m{10, 10, img.data()};
  float out[25];
  Image_NormalisedPatch(&m, 5, 5, 5, out);
  EXPECT_FLOAT_EQ(out[0], 0.0f);
  EXPECT_FLOAT_EQ(out[24], 1.0f);
  Image_NormalisedPatch(&m, 1, 5, 5, out);  // leaves the image
  for (float v : out) EXPECT_EQ(v, 0.0f);
}

}  // namespace
