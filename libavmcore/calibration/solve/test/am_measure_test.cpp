// Marker-angle measurement against a rendered marker pair at known angles,
// its model file, and its small steps on hand-made cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "calibration/solve/am_measure.h"
#include "camera/camera_model.h"
#include "globalimage_api.h"
#include "solve_test_support.h"
#include "testsupport/am_marker_scene.h"
#include "toolkit/bmp_file.h"

namespace {

constexpr float kDeg = 3.14159265358979f / 180.0f;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class AMTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallLensTables(state_);
    scene_ = AMMarkerScene_Make(TruthIntrinsics(3, 1), 900.0f, 700.0f);
    AM_SetScheduleIndex(0);
  }

  // Calibrates on the still picture of the pair at angle 0; the model path.
  std::string Calibrate() {
    const std::string bmp = state_.Path("still.bmp"), model = state_.Path("am_model.krv");
    const std::vector<uint8_t> still = AMMarkerScene_Render(scene_, 0.0f);
    EXPECT_EQ(1, Bmp_SaveGrayU8(scene_.width, scene_.height, scene_.width, still.data(), bmp.c_str()));
    EXPECT_EQ(0, AM_Calib(bmp.c_str(), nullptr, 7u, scene_.a, scene_.b, model.c_str()));
    return model;
  }

  int32_t Feed(AMObject* o, float angle, bool visible = true) {
    const std::vector<uint8_t> frame = AMMarkerScene_Render(scene_, angle, visible);
    return AM_InputVideo(o, nullptr, frame.data(), scene_.width);
  }

  ScopedConfigState state_;
  AMMarkerScene scene_;
};

TEST(AMModel, WorldCornersOfTheExample) {
  float w[8][3];
  AM_WorldCorners(100, 300, w);
  const float expect[8][2] = {{-250, -50}, {-150, -50}, {-250, 50}, {-150, 50},
                              {150, -50},  {250, -50},  {150, 50},  {250, 50}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(expect[i][0], w[i][0]);
    EXPECT_EQ(expect[i][1], w[i][1]);
    EXPECT_EQ(0.0f, w[i][2]);
  }
}

AMModel SampleModel() {
  AMModel m;
  m.width = 1280;
  m.height = 720;
  m.tag = 0xA5A5A5A5u;
  m.a = 100;
  m.b = 300;
  AM_WorldCorners(m.a, m.b, m.world);
  for (int i = 0; i < 8; ++i) {
    m.image[i][0] = 300.0f + i;
    m.image[i][1] = 500.0f + 2 * i;
  }
  for (int i = 0; i < 9; ++i) m.K[i] = 0.5f * i;
  for (int i = 0; i < 8; ++i) m.D[i] = -1.0f * i;
  const int32_t win[4] = {10, 20, 1270, 710};
  memcpy(m.window, win, sizeof win);
  m.R[0] = 0.1f;
  m.T[2] = 800.0f;
  m.d = 36.5f;
  m.s = 1000.25f;
  m.baseAngle = 0.0123f;
  return m;
}

TEST_F(AMTest, ModelFileRoundTripsFieldByField) {
  const AMModel m = SampleModel();
  const std::string path = state_.Path("m.krv");
  ASSERT_TRUE(AM_SaveModelFile(m, path.c_str()));
  const std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(304u, bytes.size());
  uint32_t magic;
  float first;
  memcpy(&magic, bytes.data(), 4);
  memcpy(&first, bytes.data() + 24, 4);
  EXPECT_EQ(0x03080201u, magic);
  EXPECT_EQ(m.image[0][0], first);  // image corners before world corners
  memcpy(&first, bytes.data() + 88, 4);
  EXPECT_EQ(m.world[0][0], first);
  AMModel back;
  ASSERT_EQ(1, AM_LoadModelFile(&back, path.c_str()));
  EXPECT_EQ(0, memcmp(&m, &back, sizeof m));
}

TEST_F(AMTest, ModelFilesOfAnotherKindOrSizeAreRefused) {
  const std::string path = state_.Path("m.krv");
  ASSERT_TRUE(AM_SaveModelFile(SampleModel(), path.c_str()));
  const std::vector<uint8_t> good = ReadBytes(path);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"magic", good});
  cases.back().bytes[0] ^= 1;
  cases.push_back({"short", std::vector<uint8_t>(good.begin(), good.end() - 1)});
  cases.push_back({"long", good});
  cases.back().bytes.push_back(0);
  cases.push_back({"window past the frame", good});
  const int32_t x1 = 1281;
  memcpy(cases.back().bytes.data() + 284, &x1, 4);
  cases.push_back({"empty window", good});
  const int32_t y1 = 20;
  memcpy(cases.back().bytes.data() + 288, &y1, 4);
  cases.push_back({"no frame", good});
  const int32_t zero = 0;
  memcpy(cases.back().bytes.data() + 4, &zero, 4);
  for (const Case& c : cases) {
    WriteBytes(path, c.bytes);
    AMModel m;
    EXPECT_EQ(0, AM_LoadModelFile(&m, path.c_str())) << c.what;
    EXPECT_EQ(nullptr, KRV_GlobalImage_AMInitOB(path.c_str())) << c.what;
  }
  EXPECT_EQ(nullptr, KRV_GlobalImage_AMInitOB(state_.Path("missing.krv").c_str()));
  EXPECT_EQ(nullptr, KRV_GlobalImage_AMInitOB(nullptr));
}

TEST_F(AMTest, UnwritableModelFileFailsTheCalibration) {
  const std::string bmp = state_.Path("still.bmp");
  const std::vector<uint8_t> still = AMMarkerScene_Render(scene_, 0.0f);
  ASSERT_EQ(1, Bmp_SaveGrayU8(scene_.width, scene_.height, scene_.width, still.data(), bmp.c_str()));
  const std::string model = state_.Path("no/such/dir/am.krv");
  EXPECT_EQ(1, AM_Calib(bmp.c_str(), nullptr, 0u, scene_.a, scene_.b, model.c_str()));
  EXPECT_EQ(0, KRV_GlobalImage_AMCalib(bmp.c_str(), nullptr, 0, scene_.a, scene_.b, model.c_str()));
  EXPECT_EQ(0, KRV_GlobalImage_AMCalib(state_.Path("missing.bmp").c_str(), nullptr, 0, scene_.a, scene_.b,
                                       state_.Path("x.krv").c_str()));
  // A picture without markers: nothing accepted, nothing written.
  const std::vector<uint8_t> blank = AMMarkerScene_Render(scene_, 0.0f, false);
  ASSERT_EQ(1, Bmp_SaveGrayU8(scene_.width, scene_.height, scene_.width, blank.data(), bmp.c_str()));
  EXPECT_EQ(1, AM_Calib(bmp.c_str(), nullptr, 0u, scene_.a, scene_.b, state_.Path("b.krv").c_str()));
  EXPECT_TRUE(ReadBytes(state_.Path("b.krv")).empty());
}

TEST_F(AMTest, StillImageCalibrationWritesTheModel) {
  const std::string model = Calibrate();
  ASSERT_EQ(304u, ReadBytes(model).size());
  AMModel m;
  ASSERT_EQ(1, AM_LoadModelFile(&m, model.c_str()));
  EXPECT_EQ(7u, m.tag);
  EXPECT_EQ(scene_.width, m.width);
  // The image corners are the markers' corners, left marker first.
  AMObject probe;
  probe.model = m;
  float row, col;
  AMMarkerScene_Centre(scene_, 0.0f, 0, &row, &col);
  float left[2] = {0, 0}, right[2] = {0, 0};
  for (int k = 0; k < 4; ++k) {
    for (int j = 0; j < 2; ++j) {
      left[j] += m.image[k][j] / 4.0f;
      right[j] += m.image[4 + k][j] / 4.0f;
    }
  }
  EXPECT_NEAR(row, left[0], 2.0f);
  EXPECT_NEAR(col, left[1], 2.0f);
  // The pair lies along x: the base angle is that of the ground line.
  EXPECT_NEAR(0.0f, m.baseAngle, 0.3f * kDeg);
  // The window is clipped to 10 pixels from the picture's edges.
  EXPECT_GE(m.window[0], 10);
  EXPECT_GE(m.window[1], 10);
  EXPECT_LE(m.window[2], m.width - 10);
  EXPECT_LE(m.window[3], m.height - 10);
}

TEST_F(AMTest, TurningPairIsFollowedAndLostFramesReportTwo) {
  const std::string model = Calibrate();
  AMObject* o = KRV_GlobalImage_AMInitOB(model.c_str());
  ASSERT_NE(nullptr, o);
  float angle = 0.0f;
  EXPECT_EQ(-1, KRV_GlobalImage_AMGetAngle(o, &angle));  // no measurement yet
  // The pair turns by half a degree a frame; after ten frames the filter
  // has settled on the turn.
  float worst = 0.0f;
  for (int k = 0; k <= 30; ++k) {
    const float truth = 0.5f * kDeg * k;
    ASSERT_EQ(0, KRV_GlobalImage_AMInputVideo(o, nullptr, AMMarkerScene_Render(scene_, truth).data(), scene_.width))
        << "frame " << k;
    float filtered, raw;
    ASSERT_EQ(0, AM_GetAngle(o, &filtered, &raw));
    EXPECT_NEAR(truth, raw, 0.3f * kDeg) << "frame " << k;
    if (k >= 10) worst = std::max(worst, std::fabs(filtered - truth));
  }
  EXPECT_LT(worst, 0.3f * kDeg);
  // Frames without the markers: 2 each; the angle stays readable for five.
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(2, Feed(o, 0.0f, false));
    EXPECT_EQ(k <= 5 ? 0 : -1, KRV_GlobalImage_AMGetAngle(o, &angle)) << "failed frames " << k;
  }
  // Back in view: measured again from the full search.
  EXPECT_EQ(0, Feed(o, 5.0f * kDeg));
  EXPECT_EQ(0, KRV_GlobalImage_AMGetAngle(o, &angle));
  EXPECT_EQ(0, KRV_GlobalImage_AMReleaseOB(o));
  EXPECT_EQ(0, KRV_GlobalImage_AMReleaseOB(nullptr));
  EXPECT_EQ(-1, KRV_GlobalImage_AMGetAngle(nullptr, &angle));
  EXPECT_EQ(2, KRV_GlobalImage_AMInputVideo(nullptr, nullptr, nullptr, 0));
}

TEST_F(AMTest, AFrameWithoutQuadsMovesTheScheduleTwoPlaces) {
  const std::string model = Calibrate();
  AMObject* o = AM_InitOB(model.c_str());
  ASSERT_NE(nullptr, o);
  AM_SetScheduleIndex(0);
  EXPECT_EQ(2, Feed(o, 0.0f, false));
  EXPECT_EQ(2, AM_ScheduleIndex());
  EXPECT_EQ(2, Feed(o, 0.0f, false));
  EXPECT_EQ(1, AM_ScheduleIndex());
  AM_Release(o);
}

TEST(AMSteps, SortQuadCornersStartsTowardsSmallerRowAndColumn) {
  const float grid[8] = {10, 10, 10, 20, 20, 10, 20, 20};  // (row, column), grid order
  for (int k = 0; k < 4; ++k) {
    static const int kTurn[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {2, 0, 3, 1}, {3, 2, 1, 0}};
    float q[8];
    for (int j = 0; j < 4; ++j) {
      q[2 * j] = grid[2 * kTurn[k][j]];
      q[2 * j + 1] = grid[2 * kTurn[k][j] + 1];
    }
    AM_SortQuadCorners(q);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(grid[i], q[i]) << "turn " << k;
  }
}

TEST(AMSteps, LevelPairsAreOrderedLeftFirst) {
  AMObject o;
  float left[8] = {100, 100, 100, 120, 120, 100, 120, 120};
  float right[8] = {110, 300, 110, 320, 130, 300, 130, 320};  // level within 0.4 rad
  float a[8], b[8];
  memcpy(a, right, sizeof a);
  memcpy(b, left, sizeof b);
  AM_OrderMarkerPair(&o, a, b);
  EXPECT_EQ(0, memcmp(a, left, sizeof a));
  EXPECT_EQ(0, memcmp(b, right, sizeof b));
}

TEST_F(AMTest, MarkerQuadsAreJudgedByTheirGroundShape) {
  const std::string model = Calibrate();
  AMObject* o = AM_InitOB(model.c_str());
  ASSERT_NE(nullptr, o);
  // Squares and rectangles on the ground at the pair's centre, projected.
  auto quad = [&](float w, float h, float out[8]) {
    const float xy[4][2] = {{-w / 2, -h / 2}, {w / 2, -h / 2}, {-w / 2, h / 2}, {w / 2, h / 2}};
    for (int k = 0; k < 4; ++k) {
      float wp[3] = {xy[k][0], xy[k][1], 0}, px[2];
      SceneCamera c = scene_.cam;
      Matrix W{3, 1, wp}, P{2, 1, px}, K{3, 3, c.K}, D{1, 8, c.D}, R{1, 3, c.r}, T{1, 3, c.T};
      CameraModel_ProjectPoints(3, &W, &R, &T, &K, &D, &P, nullptr, nullptr, nullptr, nullptr, nullptr, 1);
      out[2 * k] = px[1];
      out[2 * k + 1] = px[0];
    }
  };
  struct Case {
    float w, h;
    bool accepted;
  } cases[] = {{100, 100, true}, {100, 65, true}, {100, 55, false}, {75, 75, false}, {130, 130, false}};
  for (const Case& c : cases) {
    float q[8], score = -1.0f;
    quad(c.w, c.h, q);
    EXPECT_EQ(c.accepted ? 1 : 0, AM_CheckMarkerQuad(o, q, &score)) << c.w << " x " << c.h;
    if (c.accepted) {
      // The model's pose comes from detected corners: a few per cent.
      EXPECT_NEAR(std::min(c.w, c.h) / std::max(c.w, c.h), score, 0.06f);
    }
  }
  AM_Release(o);
}

}  // namespace
