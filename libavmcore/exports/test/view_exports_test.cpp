#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "testsupport/view_test_fixture.h"
#include "camera/view_object.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"

namespace {

using namespace view_fixture;

class ViewExports : public ::testing::Test {
 protected:
  GlobalVariables saved = gv();
  std::string path = TempFile("exports_lut_config.krv");
  UndistOB* h = nullptr;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    gv().CalibLayoutCode = 3;  // no lock
    gv().CutIfFill = 0;
    gv().f6 = 0;
    ASSERT_TRUE(WriteRig(path));
    h = KRV_GlobalImage_InitUndistOB(path.c_str());
    ASSERT_NE(h, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(KRV_GlobalImage_UnInitUndistOB(h), 0);
    unlink(path.c_str());
    gv() = saved;
  }
};

TEST(ViewExportsNoHandle, MissingOrForeignFileGivesNull) {
  // LeakSanitizer checks that nothing of the refused objects stays behind.
  EXPECT_EQ(KRV_GlobalImage_InitUndistOB("/nonexistent/lut_config.krv"), nullptr);
  EXPECT_EQ(KRV_GlobalImage_InitUndistOB(nullptr), nullptr);
  const std::string junk = TempFile("junk.krv");
  std::ofstream(junk) << "not a camera file";
  EXPECT_EQ(KRV_GlobalImage_InitUndistOB(junk.c_str()), nullptr);
  unlink(junk.c_str());

  // Null handles: failures reported where the call reports them, counts 0.
  uint32_t word = 0, count = 9;
  EXPECT_EQ(KRV_GlobalImage_UnInitUndistOB(nullptr), 0);
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistLUT(nullptr, 1, &word), 1);
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistTrian(nullptr, 1, &count, nullptr, nullptr), 1);
  EXPECT_EQ(count, 9u);
  float x = 0, y = 0;
  EXPECT_EQ(KRV_GlobalImage_CameraImage2Physical(nullptr, 1, &x, &y, 10, 10), 1);
  EXPECT_EQ(KRV_GlobalImage_CalcUndistDynamicTracePoint(nullptr, 2, 0, &count, &x, &y, nullptr, 0.0), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcUndistTraceLP(nullptr, 2, 0, 1, &x, &y, nullptr, 0.0, 0, 1, 2), 2);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcPhyTraceLP(nullptr, 2, 1, &x, &y, 0.0, 0, 1, 2), 0);
}

TEST_F(ViewExports, SetUpFormsFillTheBlocks) {
  UndistOB* v = h;
  // Short form: view type 1, hwr 1.0, caller's a5 ignored.
  KRV_GlobalImage_SetUndistParam(v, 2, 640, 480, 1, 7, 0, 0, 70.0f, 1.3f, 3.0f, 4.0f);
  const UndistViewBlock& b = v->undist[1];
  EXPECT_EQ(b.width, 640);
  EXPECT_EQ(b.height, 480);
  EXPECT_EQ(b.viewType, 1);
  EXPECT_EQ(b.flip, 1u);
  EXPECT_FLOAT_EQ(b.fovDeg, 70.0f);
  EXPECT_FLOAT_EQ(b.invAngleDivisor, 1.0f / 1.3f);
  EXPECT_FLOAT_EQ(b.xShift, 3.0f);
  EXPECT_FLOAT_EQ(b.yShift, 4.0f);
  EXPECT_FLOAT_EQ(b.heightWidthRatio, 1.0f);
  EXPECT_FLOAT_EQ(b.rollRad, 0.0f);
  // _EX: the caller's height/width ratio.
  KRV_GlobalImage_SetUndistParam_EX(v, 2, 640, 480, 0, 0, 0, 0, 70.0f, 1.3f, 0, 0, 0.8f);
  EXPECT_FLOAT_EQ(v->undist[1].heightWidthRatio, 0.8f);
  // _EXD: view type and roll from the caller.
  KRV_GlobalImage_SetUndistParam_EXD(v, 1, 600, 400, 4, 0, 0, 0, 80.0f, 1.0f, 0, 0, 1.0f, 10.0f);
  EXPECT_EQ(v->undist[0].viewType, 4);
  EXPECT_NEAR(v->undist[0].rollRad, 10.0f * 0.017453292f, 1e-6);
  // _EXDD: every value, cy lift as the eighth integer (type 1 only).
  KRV_GlobalImage_SetUndistParam_EXDD(v, 1, 600, 400, 1, 0, 0, 0, 5, 80.0f, 1.0f, 0, 0, 1.0f, 0, 0.5f, 0.25f);
  EXPECT_FLOAT_EQ(v->undist[0].sideWarp, 0.5f);
  EXPECT_FLOAT_EQ(v->undist[0].upperWarp, 0.25f);
  EXPECT_FLOAT_EQ(v->undist[0].cyLift, 5.0f);
  // Full form: view type and every value from the caller.
  KRV_GlobalImage_SetUndistParam_EXDDD(v, 1, 600, 400, 3, 0, 0, 0, 0, 0, 0, 80.0f, 2.0f, 1, 2, 1.25f, 0, 0, 0);
  EXPECT_EQ(v->undist[0].viewType, 3);
  EXPECT_FLOAT_EQ(v->undist[0].heightWidthRatio, 1.25f);
  EXPECT_FLOAT_EQ(v->undist[0].invAngleDivisor, 0.5f);
  EXPECT_FLOAT_EQ(v->undist[0].xShift, 1.0f);

  KRV_GlobalImage_SetCutParam(v, 3, 500, 300, 1, 10.0f, 20.0f, 30.0f);
  const CutViewBlock& c = v->cut[2];
  EXPECT_EQ(c.width, 500);
  EXPECT_EQ(c.cutType, 1);
  EXPECT_FLOAT_EQ(c.focalRef, 1.0f);
  EXPECT_FLOAT_EQ(c.aspect, 1.0f);
  EXPECT_FLOAT_EQ(c.zOffset, 200.0f);
  KRV_GlobalImage_SetCutParam_EXDD(v, 4, 500, 300, 2, 0, 0, 0, 5, 6, 1, 2, 3, 0.8f, 1.1f, 0.1f, 0.2f, 150.0f);
  const CutViewBlock& c4 = v->cut[3];
  EXPECT_FLOAT_EQ(c4.xShift, 5.0f);
  EXPECT_FLOAT_EQ(c4.yShift, 6.0f);
  EXPECT_FLOAT_EQ(c4.focalRef, 0.8f);
  EXPECT_FLOAT_EQ(c4.aspect, 1.1f);
  EXPECT_FLOAT_EQ(c4.extra1, 0.1f);
  EXPECT_FLOAT_EQ(c4.extra2, 0.2f);
  EXPECT_FLOAT_EQ(c4.zOffset, 150.0f);

  KRV_GlobalImage_SetZoominParam(v, 2, 320, 240, 0, 0.1f, 0.1f, 0.2f, 0.1f, 0.2f);
  EXPECT_EQ(v->zoom[1].width, 320);
  EXPECT_FLOAT_EQ(v->zoom[1].top, 0.2f);
}

TEST_F(ViewExports, LutAndMeshResults) {
  KRV_GlobalImage_SetUndistParam_EXD(h, 2, 600, 400, 3, 0, 0, 0, 70.0f, 1.0f, 0, 0, 1.0f, 0);
  std::vector<uint32_t> lut(800 * 400, 0xFFFFFFFF);
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistLUT(h, 2, lut.data()), 0);
  int nonZero = 0;
  for (int i = 0; i < 600 * 400; ++i) nonZero += lut[i] != 0;
  EXPECT_GT(nonZero, 600 * 400 / 2);

  uint32_t count = 0;
  ASSERT_EQ(KRV_GlobalImage_GenerateUndistTrian(h, 2, &count, nullptr, nullptr), 0);
  ASSERT_GT(count, 0u);
  std::vector<float> pos(count * 9), tex(count * 6);
  uint32_t full = 0;
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistTrian(h, 2, &full, pos.data(), tex.data()), 0);
  EXPECT_EQ(full, count);

  // A view type without a builder: the LUT and mesh calls both report it,
  // and the count keeps the caller's value.
  KRV_GlobalImage_SetUndistParam_EXD(h, 2, 600, 400, 7, 0, 0, 0, 70.0f, 1.0f, 0, 0, 1.0f, 0);
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistLUT(h, 2, lut.data()), 1);
  uint32_t stale = 1234;
  EXPECT_EQ(KRV_GlobalImage_GenerateUndistTrian(h, 2, &stale, pos.data(), tex.data()), 1);
  EXPECT_EQ(stale, 1234u);
  EXPECT_EQ(KRV_GlobalImage_GenerateWideTrian(h, 1, 800, 400, 5, &stale, nullptr, nullptr, 1.0f), 1);
  EXPECT_EQ(KRV_GlobalImage_GenerateWideLUT_New(h, 1, 800, 400, 3, lut.data(), 1, 0, 0, 1), 1);
  EXPECT_EQ(stale, 1234u);

  // Wide and cut meshes of working set-ups.
  EXPECT_EQ(KRV_GlobalImage_GenerateWideTrian(h, 1, 800, 400, 1, &count, nullptr, nullptr, 1.0f), 0);
  EXPECT_GT(count, 0u);
  EXPECT_EQ(KRV_GlobalImage_GenerateWideLUT_EX(h, 1, 800, 400, lut.data(), 1.0f, 0, 0), 0);
  KRV_GlobalImage_SetCutParam_EX(h, 3, 600, 400, 1, 0, 0, 0, 1.0f, 1.0f);
  EXPECT_EQ(KRV_GlobalImage_GenerateCutLUT(h, 3, lut.data()), 0);
  EXPECT_EQ(KRV_GlobalImage_GenerateCutTrian(h, 3, &count, nullptr, nullptr), 0);
}

TEST_F(ViewExports, MappingsAndTraceLines) {
  KRV_GlobalImage_SetUndistParam_EXD(h, 2, 600, 400, 3, 0, 0, 0, 65.0f, 1.0f, 0, 0, 1.0f, 0);
  // Ground to view and camera pixel back to the ground.
  float px = 0, py = 0;
  EXPECT_EQ(KRV_GlobalImage_Physical2DispPoint(h, 2, 0, 0.0f, 4000.0f, 0.0f, &px, &py), 1);
  float gu, gv2;
  const float ground[3] = {300.0f, 3500.0f, 0.0f};
  ASSERT_TRUE(Project(h->params, 2, ground, &gu, &gv2));
  float gx = 0, gy = 0;
  EXPECT_EQ(KRV_GlobalImage_CameraImage2Physical(h, 2, &gx, &gy, gu, gv2), 0);
  EXPECT_NEAR(gx, 300.0f, 2.0f);
  EXPECT_NEAR(gy, 3500.0f, 2.0f);
  EXPECT_GT(KRV_GlobalImage_Physical2DispLine(h, 2, 0, -500.0f, 3000.0f, 500.0f, 3000.0f, 1000, nullptr, nullptr), 0);

  // Static lines: count and arrays of up to 256.
  std::vector<float> a(256), b(256), c(256), d(256);
  std::vector<uint8_t> k(256, 0);
  uint32_t count = 999;
  EXPECT_EQ(KRV_GlobalImage_CalcUndistStaticTraceLine(h, 2, 0, &count, a.data(), b.data(), c.data(), d.data(),
                                                      k.data()),
            0);
  ASSERT_GT(count, 0u);
  ASSERT_LE(count, 256u);
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_GE(k[i], 1);
    EXPECT_LE(k[i], 3);
  }

  // Dynamic lines: min(caller's count, list count).
  std::vector<float> xs(20000), ys(20000);
  std::vector<uint8_t> ks(20000);
  uint32_t n = 20000;
  EXPECT_EQ(KRV_GlobalImage_CalcUndistDynamicTracePoint(h, 2, 0, &n, xs.data(), ys.data(), ks.data(), 10.0), 0);
  ASSERT_GT(n, 12u);
  const uint32_t all = n;
  n = 5;
  EXPECT_EQ(KRV_GlobalImage_CalcUndistDynamicTracePoint(h, 2, 0, &n, xs.data(), ys.data(), ks.data(), 10.0), 0);
  EXPECT_EQ(n, 5u);
  n = all + 100;
  KRV_GlobalImage_CalcUndistDynamicTracePoint(h, 2, 0, &n, xs.data(), ys.data(), ks.data(), 10.0);
  EXPECT_EQ(n, all);
  n = 20000;
  EXPECT_EQ(KRV_GlobalImage_CalcDynamicMergerTracePoint(h, 2, &n, xs.data(), ys.data(), ks.data(), 0.0), 0);
  EXPECT_GT(n, 0u);

  // Direct projections and their result codes.
  const float xin[2] = {-800.0f, 800.0f}, yin[2] = {3000.0f, 3500.0f};
  float xo[2], yo[2], xy[4];
  EXPECT_EQ(KRV_GlobalImage_DirectCalcUndistPoints(h, 2, 0, 2, xin, yin, xo, yo, 0.0), 0);
  float want_x, want_y;
  KRV_GlobalImage_Physical2DispPoint(h, 2, 0, xin[0], yin[0], 0.0f, &want_x, &want_y);
  EXPECT_FLOAT_EQ(xo[0], want_x);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcMergerPoints(h, 2, 0, 2, xin, yin, xo, yo, 0.0), 0);
  float mx, my;
  EXPECT_EQ(KRV_GlobalImage_Physical2DispMerger(h, &mx, &my, xin[1], yin[1]), 0);
  EXPECT_FLOAT_EQ(xo[1], mx);
  EXPECT_FLOAT_EQ(yo[1], my);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcPhyTracePoints(h, 2, 2, 0, xin, yin, xy, 0.0), 0);
  EXPECT_FLOAT_EQ(xy[0], xin[0]);
  EXPECT_FLOAT_EQ(xy[3], yin[1]);
  float lx[8], ly[8], lt[8];
  EXPECT_EQ(KRV_GlobalImage_DirectCalcUndistTraceLP(h, 2, 0, 8, lx, ly, lt, 5.0, 800.0f, 2500.0f, 4500.0f), 0);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcUndistTraceLP(h, 2, 0, 8, lx, ly, lt, 5.0, 800.0f, 2500.0f, 2500.0f), 2);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcMergerTraceLP(h, 2, 0, 8, lx, ly, lt, 5.0, 800.0f, 2500.0f, 4500.0f), 0);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcPhyTraceLP(h, 2, 8, lx, ly, 0.0, 800.0f, 2500.0f, 4500.0f), 8);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcPhyTraceLP_EX(h, 2, 8, lx, ly, lt, 0.0, 800.0f, 2500.0f, 4500.0f), 8);
  EXPECT_EQ(KRV_GlobalImage_DirectCalcPhyTraceLP_EX(h, 2, 8, lx, ly, lt, 0.0, 800.0f, 4500.0f, 4500.0f), 0);
}

TEST(ViewExportsSave, VideoImageFormats) {
  const int w = 8, h = 4;
  std::vector<uint8_t> uyvy(w * h * 2, 128), nv12(w * h * 3 / 2, 128);
  const std::string p0 = TempFile("uyvy.bmp"), p1 = TempFile("nv12.bmp"), p2 = TempFile("none.bmp");
  EXPECT_EQ(KRV_GlobalImage_SaveVideoImage(0, uyvy.data(), w, h, p0.c_str()), 0);
  EXPECT_EQ(KRV_GlobalImage_SaveVideoImage(1, nv12.data(), w, h, p1.c_str()), 0);
  EXPECT_EQ(KRV_GlobalImage_SaveVideoImage(2, nv12.data(), w, h, p2.c_str()), 1);
  EXPECT_TRUE(std::ifstream(p0).good());
  EXPECT_TRUE(std::ifstream(p1).good());
  EXPECT_FALSE(std::ifstream(p2).good());
  EXPECT_EQ(KRV_GlobalImage_SaveVideoImage(0, uyvy.data(), w, h, "/nonexistent/dir/x.bmp"), 1);
  unlink(p0.c_str());
  unlink(p1.c_str());
}

}  // namespace
