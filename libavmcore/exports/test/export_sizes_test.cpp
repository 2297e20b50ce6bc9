// Every export that takes a size refuses sizes no picture has (0, negative,
// INT32_MAX, one beyond the largest side) with its failure value, before
// anything is allocated; and no exception leaves an export.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "exports/export_guard.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "globalimage_api.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/view_test_fixture.h"
#include "tvdecoder_api.h"

namespace {

std::vector<std::string> g_lines;
void Collect(const char* line) { g_lines.emplace_back(line); }

class ExportSizes : public ::testing::Test {
 protected:
  GlobalVariables saved = gv();
  std::string viewPath = view_fixture::TempFile("sizes_view_config.krv");
  std::string bowlPath = view_fixture::TempFile("sizes_bowl_config.krv");
  UndistOB* view = nullptr;
  LUT3DOB* lut3d = nullptr;
  AvmLogSink oldSink = nullptr;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    gv().CalibLayoutCode = 3;  // no lock
    ASSERT_TRUE(view_fixture::WriteRig(viewPath));
    view = KRV_GlobalImage_InitUndistOB(viewPath.c_str());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(BowlRig_WriteConfig(bowlPath));
    lut3d = KRV_GlobalImage_Init3DLutOB(bowlPath.c_str(), 64, 48, 1000, 1000, 1000, 1, 1000, 1000, 1000, 1);
    ASSERT_NE(lut3d, nullptr);
    g_lines.clear();
    oldSink = AvmLog_SetSink(Collect);
  }
  void TearDown() override {
    AvmLog_SetSink(oldSink);
    KRV_GlobalImage_UnInitUndistOB(view);
    KRV_GlobalImage_UnInit3DLutOB(lut3d);
    unlink(viewPath.c_str());
    unlink(bowlPath.c_str());
    gv() = saved;
  }
};

TEST_F(ExportSizes, OutOfRangeSizesGiveTheFailureValue) {
  // Small valid buffers: a refused size must not reach them.
  std::vector<uint8_t> frame(64 * 48 * 2, 0);
  std::vector<uint32_t> lutOut(64 * 48, 0xABCDu);
  std::vector<float> floats(64 * 48 * 9, 0.0f), points(4 * 59, 100.0f);
  uint32_t count = 0;
  uint32_t err = 0;
  const std::string dir = view_fixture::TempFile("");
  const char* bmp = "/nonexistent/out.bmp";
  auto lutob = [&](LUTOB* l) {
    // Null with err 1 (an out-of-range argument).
    const bool refused = l == nullptr && err == 1u;
    KRV_GlobalImage_UnInitLUTOB(l);
    return refused;
  };
  struct Case {
    const char* name;
    std::function<bool(int32_t)> refuses;  // called with the size; true when refused as documented
  };
  const Case cases[] = {
      {"Compute3DLut step",
       [&](int32_t v) {
         return KRV_GlobalImage_Compute3DLut(lut3d, v, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0,
                                             0, 0, 3000, 0, 0) == 1;
       }},
      {"Init3DLutOB width",
       [&](int32_t v) {
         LUT3DOB* l = KRV_GlobalImage_Init3DLutOB(bowlPath.c_str(), v, 48, 1000, 1000, 1000, 1, 1000, 1000, 1000, 1);
         const bool r = KRV_GlobalImage_Compute3DLut(l, 2, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0,
                                                     0, 0, 3000, 0, 0) == 1;
         KRV_GlobalImage_UnInit3DLutOB(l);
         return r;
       }},
      {"Init3DLutOB height",
       [&](int32_t v) {
         LUT3DOB* l = KRV_GlobalImage_Init3DLutOB(bowlPath.c_str(), 64, v, 1000, 1000, 1000, 1, 1000, 1000, 1000, 1);
         const bool r = KRV_GlobalImage_Compute3DLut(l, 2, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0,
                                                     0, 0, 3000, 0, 0) == 1;
         KRV_GlobalImage_UnInit3DLutOB(l);
         return r;
       }},
      {"GenerateWideLUT_EX width",
       [&](int32_t v) { return KRV_GlobalImage_GenerateWideLUT_EX(view, 1, v, 48, lutOut.data(), 1, 0, 0) == 1; }},
      {"GenerateWideLUT_EX height",
       [&](int32_t v) { return KRV_GlobalImage_GenerateWideLUT_EX(view, 1, 64, v, lutOut.data(), 1, 0, 0) == 1; }},
      {"GenerateWideLUT_New width",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateWideLUT_New(view, 1, v, 48, 1, lutOut.data(), 1, 0, 0, 1) == 1;
       }},
      {"GenerateWideLUT_New height",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateWideLUT_New(view, 1, 64, v, 1, lutOut.data(), 1, 0, 0, 1) == 1;
       }},
      {"GenerateWideTrian width",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateWideTrian(view, 1, v, 48, 1, &count, floats.data(), floats.data(), 1) == 1;
       }},
      {"GenerateWideTrian_New height",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateWideTrian_New(view, 1, 64, v, 1, &count, floats.data(), floats.data(), 1, 0,
                                                      0, 1) == 1;
       }},
      {"SetUndistParam width",
       [&](int32_t v) { return KRV_GlobalImage_SetUndistParam(view, 1, v, 48, 0, 0, 0, 0, 90, 1, 0, 0) == 1; }},
      {"SetUndistParam_EX height",
       [&](int32_t v) { return KRV_GlobalImage_SetUndistParam_EX(view, 1, 64, v, 0, 0, 0, 0, 90, 1, 0, 0, 1) == 1; }},
      {"SetUndistParam_EXD width",
       [&](int32_t v) {
         return KRV_GlobalImage_SetUndistParam_EXD(view, 1, v, 48, 1, 0, 0, 0, 90, 1, 0, 0, 1, 0) == 1;
       }},
      {"SetUndistParam_EXDD height",
       [&](int32_t v) {
         return KRV_GlobalImage_SetUndistParam_EXDD(view, 1, 64, v, 1, 0, 0, 0, 0, 90, 1, 0, 0, 1, 0, 0, 0) == 1;
       }},
      {"SetUndistParam_EXDDD width",
       [&](int32_t v) {
         return KRV_GlobalImage_SetUndistParam_EXDDD(view, 1, v, 48, 1, 0, 0, 0, 0, 0, 0, 90, 1, 0, 0, 1, 0, 0, 0) ==
                1;
       }},
      {"SetCutParam width", [&](int32_t v) { return KRV_GlobalImage_SetCutParam(view, 3, v, 48, 1, 0, 0, 0) == 1; }},
      {"SetCutParam_EX height",
       [&](int32_t v) { return KRV_GlobalImage_SetCutParam_EX(view, 3, 64, v, 1, 0, 0, 0, 300, 1) == 1; }},
      {"SetCutParam_EXD width",
       [&](int32_t v) { return KRV_GlobalImage_SetCutParam_EXD(view, 3, v, 48, 1, 0, 0, 0, 300, 1, 0, 0) == 1; }},
      {"SetCutParam_EXDD height",
       [&](int32_t v) {
         return KRV_GlobalImage_SetCutParam_EXDD(view, 3, 64, v, 1, 0, 0, 0, 0, 0, 0, 0, 0, 300, 1, 0, 0, 0) == 1;
       }},
      {"SetZoominParam width",
       [&](int32_t v) { return KRV_GlobalImage_SetZoominParam(view, 1, v, 48, 0, 0, 0.1f, 0.1f, 0.1f, 0.1f) == 1; }},
      {"SetZoominParam height",
       [&](int32_t v) { return KRV_GlobalImage_SetZoominParam(view, 1, 64, v, 0, 0, 0.1f, 0.1f, 0.1f, 0.1f) == 1; }},
      {"SaveVideoImage width",
       [&](int32_t v) { return KRV_GlobalImage_SaveVideoImage(0, frame.data(), v, 48, bmp) == 1; }},
      {"SaveVideoImage height",
       [&](int32_t v) { return KRV_GlobalImage_SaveVideoImage(1, frame.data(), 64, v, bmp) == 1; }},
      {"InitLUTOB_New width",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOB_New(0, frame.data(), v, 48, 1800, 4500, 1200, 900, 2700, 2, 0, &err));
       }},
      {"InitLUTOB_New height",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOB_New(1, frame.data(), 64, v, 1800, 4500, 1200, 900, 2700, 2, 0, &err));
       }},
      {"InitLUTOBLine_New width",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOBLine_New(viewPath.c_str(), 0, frame.data(), v, 48, 0, 0, 0, &err));
       }},
      {"InitLUTOBLine_New height",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOBLine_New(viewPath.c_str(), 1, frame.data(), 64, v, 0, 0, 0, &err));
       }},
      {"InitLUTOB_Hand quad width",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOB_Hand(1800, 4500, 1200, 900, 2700, v, 96, points.data(), points.data(),
                                                     2, &err));
       }},
      {"InitLUTOB_Hand quad height",
       [&](int32_t v) {
         return lutob(KRV_GlobalImage_InitLUTOB_Hand(1800, 4500, 1200, 900, 2700, 128, v, points.data(), points.data(),
                                                     2, &err));
       }},
      {"BuildSixLUTByHand camera width",
       [&](int32_t v) {
         return KRV_GlobalImage_BuildSixLUTByHand(1800, 6000, 3000, 1, 2, 2, v, 48, points.data(), points.data(),
                                                  points.data(), points.data(), nullptr, nullptr, nullptr, nullptr,
                                                  nullptr) == 1;
       }},
      {"BuildSixLUTByHand camera height",
       [&](int32_t v) {
         return KRV_GlobalImage_BuildSixLUTByHand(1800, 6000, 3000, 1, 2, 2, 64, v, points.data(), points.data(),
                                                  points.data(), points.data(), nullptr, nullptr, nullptr, nullptr,
                                                  nullptr) == 1;
       }},
      {"CalcCarImagePos width", [&](int32_t v) { return KRV_GlobalImage_CalcCarImagePos(v, 48, nullptr) == 1; }},
      {"CalcCarImagePos height", [&](int32_t v) { return KRV_GlobalImage_CalcCarImagePos(64, v, nullptr) == 1; }},
      {"GenerateNewMergerLUTFile width",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateNewMergerLUTFile(viewPath.c_str(), (dir + "n.krv").c_str(), v, 48, 0, 0, 0) ==
                1;
       }},
      {"GenerateNewMergerLUTFile height",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateNewMergerLUTFile(viewPath.c_str(), (dir + "n.krv").c_str(), 64, v, 0, 0, 0) ==
                1;
       }},
      // The step is in millimetres: the sizes taken as metres.
      {"GenerateROIFile step",
       [&](int32_t v) {
         return KRV_GlobalImage_GenerateROIFile(viewPath.c_str(), (dir + "roi.txt").c_str(), 15, 0,
                                                1000.0f * static_cast<float>(v), -3000, -4000, 3000, 4000) == 1;
       }},
      {"InitMergerBalance width",
       [&](int32_t v) { return KRV_GlobalImage_InitMergerBalance(v, 48, 8, 8, 16, 16, nullptr, nullptr) == nullptr; }},
      {"InitMergerBalance height",
       [&](int32_t v) { return KRV_GlobalImage_InitMergerBalance(64, v, 8, 8, 16, 16, nullptr, nullptr) == nullptr; }},
      {"InitMergerCPUOB camera width",
       [&](int32_t v) {
         return KRV_GlobalImage_InitMergerCPUOB(viewPath.c_str(), viewPath.c_str(), 0, v, 48, 0, nullptr, nullptr) ==
                nullptr;
       }},
      {"InitMergerCPUOB_YW camera height",
       [&](int32_t v) {
         return KRV_GlobalImage_InitMergerCPUOB_YW(viewPath.c_str(), viewPath.c_str(), nullptr, nullptr, nullptr,
                                                   nullptr, 0, 64, v, 0, nullptr, nullptr) == nullptr;
       }},
      {"TVDecoder_Init width", [&](int32_t v) { return KRV_TVDecoder_Init(1, v, 720) == 1; }},
      {"TVDecoder_Init height", [&](int32_t v) { return KRV_TVDecoder_Init(1, 1280, v) == 1; }},
  };
  for (const Case& c : cases)
    for (int32_t v : {INT32_MAX, kExportMaxSide + 1, 70000, 0, -1, INT32_MIN}) {
      err = 0;
      g_lines.clear();
      EXPECT_TRUE(c.refuses(v)) << c.name << " " << v;
      EXPECT_FALSE(g_lines.empty()) << c.name << " " << v << ": refused without a log line";
    }
  // The views refused every size: the buffers were not written.
  for (uint32_t w : lutOut) ASSERT_EQ(w, 0xABCDu);
}

// The ends of the range are taken: a view of the largest side is set up.
TEST_F(ExportSizes, LargestSideIsTaken) {
  EXPECT_EQ(KRV_GlobalImage_SetZoominParam(view, 1, kExportMaxSide, 1, 0, 0, 0.1f, 0.1f, 0.1f, 0.1f), 0);
  int32_t out[8] = {};
  EXPECT_EQ(KRV_GlobalImage_CalcCarImagePos(1, kExportMaxSide, out), 0);
}

// An export body that throws: the guard logs and returns the failure value.
int ThrowingExport(int kind) try {
  if (kind == 0) throw std::bad_alloc();
  if (kind == 1) throw std::runtime_error("broken");
  if (kind == 2) throw 7;
  return 0;
}
AVM_EXPORT_CATCH(-9)

void ThrowingVoidExport() try { throw std::bad_alloc(); }
AVM_EXPORT_CATCH_VOID

TEST(ExportGuard, ExceptionsBecomeTheFailureValueAndALogLine) {
  g_lines.clear();
  AvmLogSink old = AvmLog_SetSink(Collect);
  struct Case {
    int kind;
    int result;
    const char* logged;
  } cases[] = {{0, -9, "out of memory"}, {1, -9, "broken"}, {2, -9, "failed"}, {3, 0, nullptr}};
  for (const Case& c : cases) {
    g_lines.clear();
    EXPECT_EQ(ThrowingExport(c.kind), c.result) << c.kind;
    if (c.logged == nullptr) {
      EXPECT_TRUE(g_lines.empty());
    } else {
      ASSERT_EQ(g_lines.size(), 1u) << c.kind;
      EXPECT_NE(g_lines[0].find("ThrowingExport"), std::string::npos) << g_lines[0];
      EXPECT_NE(g_lines[0].find(c.logged), std::string::npos) << g_lines[0];
    }
  }
  g_lines.clear();
  ThrowingVoidExport();
  EXPECT_EQ(g_lines.size(), 1u);
  AvmLog_SetSink(old);
}

}  // namespace
