// Lens-curve text loader, image-centre tracking and Euler rotation vectors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "camera/euler_rotation.h"
#include "camera/lens_centre_tracking.h"
#include "camera/lens_curve.h"
#include "frame/lens_table.h"
#include "camera/rotation.h"
#include "testsupport/config_state.h"

namespace {

class LensCurveTest : public ::testing::Test {
 protected:
  void WriteCurve(const std::vector<float>& h) {
    std::string text;
    for (float v : h) text += std::to_string(v) + "\n";
    state_.WriteFile("curve.txt", text);
  }
  void WriteDescriptor(const std::string& kind, const std::string& a = "190", const std::string& b = "120") {
    state_.WriteFile("desc.txt", kind + "\n" + a + "\n" + b + "\n");
  }
  int Load() { return LensCurve_LoadText(&slot_, state_.Path("curve.txt").c_str(), state_.Path("desc.txt").c_str()); }
  void TearDown() override { LensCurve_Free(&slot_); }

  // Heights of an equidistant-like lens: 0.02 per 0.1 degree.
  static std::vector<float> Curve(int n) {
    std::vector<float> h(n);
    for (int i = 0; i < n; ++i) h[i] = 0.01f * (i + 1);
    return h;
  }

  ScopedConfigState state_;
  LensTableSlot slot_;
};

TEST_F(LensCurveTest, DescriptorKinds) {
  WriteCurve(Curve(100));
  const struct {
    const char* line;
    uint32_t kind;
  } cases[] = {{"1", 1}, {"true", 1}, {"0", 0}, {"false", 0}, {"fisheye", 2}, {"", 2}};
  for (const auto& c : cases) {
    WriteDescriptor(c.line);
    ASSERT_EQ(Load(), 1) << c.line;
    EXPECT_EQ(slot_.kind, c.kind) << c.line;
  }
  EXPECT_FLOAT_EQ(slot_.sensorA, 190.0f);
  EXPECT_FLOAT_EQ(slot_.sensorB, 120.0f);
}

TEST_F(LensCurveTest, TablesFromCurve) {
  const std::vector<float> h = Curve(1000);
  WriteCurve(h);
  WriteDescriptor("1");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(slot_.heightCount, 40000);
  EXPECT_EQ(slot_.angleCount, 15000);
  // sensorA 190: the height at 95 degrees, line 949.
  EXPECT_FLOAT_EQ(slot_.unitSize, h[949]);
  // Height blocks of 40 entries run from the previous line's height; the last
  // block repeats the one before it.
  EXPECT_FLOAT_EQ(slot_.heightTable[0], 0.0f);
  EXPECT_FLOAT_EQ(slot_.heightTable[20], 0.5f * h[0]);
  EXPECT_FLOAT_EQ(slot_.heightTable[40 * 5 + 10], h[4] + 10 * (h[5] - h[4]) / 40);
  EXPECT_EQ(slot_.heightTable[40 * 999 + 7], slot_.heightTable[40 * 998 + 7]);
  // Angle entries: line i covers its 0.1 degree interval in even steps.
  const float a1 = 1 * 0.1f / 180.0f * 3.1415927f;
  EXPECT_FLOAT_EQ(slot_.angleTable[11], a1);  // first entry of line 1 (heights 0.011 .. 0.020)
  EXPECT_NEAR(slot_.angleTable[15], a1 + 4 * 0.0017453294f / 10, 1e-7f);
}

TEST_F(LensCurveTest, CurvesOf900LinesAndLongFiles) {
  WriteCurve(Curve(900));
  WriteDescriptor("0");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(slot_.heightCount, 36000);
  // sensorA 190 asks for line 949 beyond the curve: the last line.
  EXPECT_FLOAT_EQ(slot_.unitSize, Curve(900)[899]);
  // Lines beyond 1500 are ignored.
  std::vector<float> longCurve(1700);
  for (int i = 0; i < 1700; ++i) longCurve[i] = 0.005f * (i + 1);
  WriteCurve(longCurve);
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(slot_.heightCount, 1500 * 40);
}

TEST_F(LensCurveTest, InputOutsideTheTablesIsRefused) {
  WriteCurve(Curve(100));
  WriteDescriptor("1");
  ASSERT_EQ(Load(), 1);
  const float* height = slot_.heightTable;
  const float* angle = slot_.angleTable;
  const float unit = slot_.unitSize;
  struct Case {
    std::vector<float> curve;
    std::string sensorA;
  };
  std::vector<float> tall = Curve(100);
  tall[60] = 15.0f;
  std::vector<float> negative = Curve(100);
  negative[0] = -0.5f;
  const Case bad[] = {{Curve(1), "190"}, {{}, "190"}, {tall, "190"}, {negative, "190"}, {Curve(100), "1.5"},
                      {Curve(100), "nan"}};
  for (const Case& c : bad) {
    WriteCurve(c.curve);
    WriteDescriptor("0", c.sensorA);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Load(), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(slot_.heightTable, height);
    EXPECT_EQ(slot_.angleTable, angle);
    EXPECT_EQ(slot_.unitSize, unit);
    EXPECT_EQ(slot_.kind, 1u);
  }
  // A missing file: 0 and nothing touched.
  EXPECT_EQ(LensCurve_LoadText(&slot_, state_.Path("none.txt").c_str(), state_.Path("desc.txt").c_str()), 0);
  EXPECT_EQ(LensCurve_LoadText(&slot_, state_.Path("curve.txt").c_str(), state_.Path("none.txt").c_str()), 0);
  EXPECT_EQ(slot_.heightTable, height);
  LensCurve_Free(&slot_);
  EXPECT_EQ(slot_.heightTable, nullptr);
  EXPECT_EQ(slot_.angleTable, nullptr);
}

TEST(CentreTracking, FirstCallDerivesScalesOnce) {
  LensTableSlot s;
  s.kind = 1;
  s.unitSize = 4.0f;
  testing::internal::CaptureStdout();
  LensTable_TrackCentre(&s, 1280, 720);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "=========2  1 160.000000 160.000000 \n");
  EXPECT_EQ(s.centreX, 640.0f);
  EXPECT_EQ(s.centreY, 360.0f);
  EXPECT_EQ(s.scaleX, 160.0f);
  EXPECT_EQ(s.scaleY, 160.0f);
  testing::internal::CaptureStdout();
  LensTable_TrackCentre(&s, 1280, 720);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(CentreTracking, NewSizeByTrackCount) {
  LensTableSlot s;
  s.kind = 0;
  s.sensorA = 4.0f;
  s.sensorB = 3.0f;
  s.unitSize = 4.0f;
  testing::internal::CaptureStdout();
  LensTable_TrackCentre(&s, 1280, 720);
  // Aspect (1280 / 720) / (4 / 3).
  EXPECT_FLOAT_EQ(s.scaleY, 160.0f / ((1280.0f / 720.0f) / (4.0f / 3.0f)));
  s.trackCount = 1;
  LensTable_TrackCentre(&s, 720, 576);
  EXPECT_EQ(s.scaleX, 90.0f);  // derived again
  // trackCount 2 with both scales set: only the centre moves.
  s.trackCount = 2;
  LensTable_TrackCentre(&s, 1920, 1080);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(s.centreX, 960.0f);
  EXPECT_EQ(s.centreY, 540.0f);
  EXPECT_EQ(s.scaleX, 90.0f);
}

TEST(CentreTracking, TrackedCentreKeptOnlyInRange) {
  LensTableSlot s;
  s.kind = 1;
  s.unitSize = 2.0f;
  s.trackCount = 1;
  s.trackWidth = 720;
  s.trackHeight = 576;
  // Same size, scales not yet derived: the tracked centre is checked.
  const struct {
    float cx, cy, wantX, wantY;
  } cases[] = {{370, 300, 370, 300}, {400, 300, 360, 300}, {365, 330, 365, 288}, {365, 199, 365, 288}};
  for (const auto& c : cases) {
    s.centreX = c.cx;
    s.centreY = c.cy;
    s.scaleX = s.scaleY = 0;
    testing::internal::CaptureStdout();
    LensTable_TrackCentre(&s, 720, 576);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.centreX, c.wantX) << c.cx;
    EXPECT_EQ(s.centreY, c.wantY) << c.cy;
  }
}

// Rotation matrix of a rotation vector, in double for the reference.
void Elementary(char axis, double t, double* m) {
  const double c = std::cos(t), s = std::sin(t);
  const double x[9] = {1, 0, 0, 0, c, -s, 0, s, c}, y[9] = {c, 0, s, 0, 1, 0, -s, 0, c},
               z[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
  const double* src = axis == 'x' ? x : axis == 'y' ? y : z;
  std::copy(src, src + 9, m);
}

void Mul(const double* a, const double* b, double* o) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
  std::copy(t, t + 9, o);
}

TEST(EulerRotation, NegatedVectorOfTheAxisProduct) {
  const double kPi = 3.14159265358979;
  const float angles[2][3] = {{0.1f, -0.2f, 0.3f}, {-0.5f, 0.25f, 1.2f}};
  for (const float* abc : angles) {
    const float a = abc[0], b = abc[1], c = abc[2];
    struct Form {
      void (*fn)(const void*, float*, float, float, float);
      std::vector<std::pair<char, double>> chain;
    };
    const Form forms[] = {
        {CamPose_EulerToRotVec, {{'z', kPi / 2}, {'y', kPi}, {'x', -b}, {'y', -a}, {'z', -c}}},
        {CamPose_EulerToRotVecAlt, {{'y', kPi / 2}, {'y', -a}, {'z', -c}, {'x', -b}}},
    };
    for (const Form& f : forms) {
      double M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, E[9];
      for (const auto& step : f.chain) {
        Elementary(step.first, step.second, E);
        Mul(M, E, M);
      }
      float out[3], R[9];
      f.fn(nullptr, out, a, b, c);
      const float back[3] = {-out[0], -out[1], -out[2]};
      RodriguesArr(back, R, nullptr);
      for (int k = 0; k < 9; ++k) EXPECT_NEAR(R[k], M[k], 2e-5) << k;
    }
  }
}

}  // namespace
