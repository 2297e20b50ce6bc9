// Runs `avmhost views` on the sample rig and checks the pictures: every
// one written, meshes drawn like their LUTs, straight floor lines straight.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/view_object.h"
#include "camera/view_point_mapping.h"
#include "frame/global_variables.h"
#include "frame/data_directory.h"
#include "tools/avmhost/command_views.h"
#include "tools/avmhost/test/host_runner.h"
#include "tools/avmsample/sample_rig.h"


namespace {

namespace fs = std::filesystem;

struct Grey {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  // The stand-in's own reader: grey values exactly as written (0 stays 0).
  bool Load(const std::string& path) {
    HostImage img;
    if (!HostImage_ReadBmp(path, &img)) return false;
    w = img.width;
    h = img.height;
    px = img.data;
    return true;
  }
};

// One run of the sample for the whole suite (the views take a moment).
class AvmhostViews : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    out_ = new std::string(fs::temp_directory_path() / ("avmhost_views_" + std::to_string(getpid())));
    rc_ = WriteSampleRig(*out_ + "/sample") ? RunHost("views --data " + *out_ + "/sample --out " + *out_, nullptr) : -1;
  }
  static void TearDownTestSuite() {
    fs::remove_all(*out_);
    delete out_;
  }
  static std::string* out_;
  static int rc_;
};
std::string* AvmhostViews::out_ = nullptr;
int AvmhostViews::rc_ = -1;

TEST_F(AvmhostViews, EveryPictureWritten) {
  ASSERT_EQ(rc_, 0);
  for (const HostView& v : HostViews()) {
    std::vector<std::string> names = {v.name, std::string(v.name) + "_mesh"};
    if (v.kind == HostView::kUndist && v.camera <= 2) names.push_back(std::string(v.name) + "_lines");
    for (const std::string& n : names) {
      Grey g;
      ASSERT_TRUE(g.Load(*out_ + "/" + n + ".bmp")) << n;
      EXPECT_EQ(g.w, v.width) << n;
      EXPECT_EQ(g.h, v.height) << n;
    }
  }
  EXPECT_TRUE(fs::exists(*out_ + "/sample/lut_config.krv"));
  EXPECT_TRUE(fs::exists(*out_ + "/sample/globalimage_base.txt"));
}

TEST_F(AvmhostViews, MeshPicturesMatchTheLutPictures) {
  ASSERT_EQ(rc_, 0);
  for (const HostView& v : HostViews()) {
    Grey lut, mesh;
    ASSERT_TRUE(lut.Load(*out_ + "/" + v.name + ".bmp"));
    ASSERT_TRUE(mesh.Load(*out_ + "/" + v.name + "_mesh.bmp"));
    // Compared where both have a source (the mesh leaves cells with a
    // sourceless corner black, the LUT its sourceless pixels).
    double sum = 0;
    long both = 0, sourced = 0;
    for (size_t i = 0; i < lut.px.size(); ++i) {
      if (lut.px[i] == 0) continue;
      ++sourced;
      if (mesh.px[i] == 0) continue;
      ++both;
      sum += std::abs(lut.px[i] - mesh.px[i]);
    }
    ASSERT_GT(sourced, 1000) << v.name;
    EXPECT_GT(both, sourced * 8 / 10) << v.name;
    EXPECT_LT(sum / static_cast<double>(both), 2.0) << v.name;
    printf("%-14s mesh against LUT: mean abs diff %.3f over %ld pixels\n", v.name, sum / static_cast<double>(both),
           both);
  }
}

// The perspective undistorted views (type 3, divisor 1) keep the floor's
// straight lines straight: chessboard corners found in the picture lie on
// one line per board row and column.
TEST_F(AvmhostViews, UndistortedFloorLinesAreStraight) {
  ASSERT_EQ(rc_, 0);
  // The same view object and set-up as the run, through the library code.
  const std::string sample = *out_ + "/sample";
  SetDataDirectory(sample.c_str());
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(1);
  UndistOB* view = UndistOB_Create();
  ASSERT_EQ(Undist4Camera_Init(view, (sample + "/lut_config.krv").c_str()), 1);
  for (int camera = 1; camera <= 4; ++camera) {
    UndistView_SetParam(view, camera, 600, 400, 3, 0, kHostUndistFov, kHostUndistDivisor, 0, 0, 1.0f, 0, 0, 0, 0,
                        0, 0);
    Grey g;
    ASSERT_TRUE(g.Load(*out_ + "/cam" + std::to_string(camera) + "_undist3.bmp"));
    cv::Mat img(g.h, g.w, CV_8UC1, g.px.data());
    // Predicted corners, refined on the picture.
    struct Corner {
      int i, j;
      cv::Point2f p;
    };
    std::vector<Corner> found;
    for (int j = 1; j < kSampleSquaresY; ++j)
      for (int i = 1; i < kSampleSquaresX; ++i) {
        const float wx = kSampleBoardX0 + i * kSampleSquare, wy = kSampleBoardY0 + j * kSampleSquare;
        UndistViewBlock* b = &view->undist[View_CameraSlot(camera)];
        float px, py, ax, ay, bx, by;
        if (UndistView_Physical2Disp(b, wx, wy, 0.0f, 1, &px, &py) != 1) continue;
        if (px < 12 || py < 12 || px > g.w - 13 || py > g.h - 13) continue;
        // Squares under 10 px near the horizon are too small to place a
        // corner on; they say nothing about straightness.
        UndistView_Physical2Disp(b, wx + kSampleSquare, wy, 0.0f, 0, &ax, &ay);
        UndistView_Physical2Disp(b, wx, wy + kSampleSquare, 0.0f, 0, &bx, &by);
        if (std::hypot(ax - px, ay - py) < 10.0f || std::hypot(bx - px, by - py) < 10.0f) continue;
        std::vector<cv::Point2f> pts = {cv::Point2f(px, py)};
        cv::cornerSubPix(img, pts, cv::Size(4, 4), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.01));
        // A corner too small in the picture to refine stays out.
        if (std::hypot(pts[0].x - px, pts[0].y - py) > 2.0f) continue;
        found.push_back({i, j, pts[0]});
      }
    ASSERT_GT(found.size(), 20u) << camera;
    int lines = 0;
    double worst = 0, worstPoint = 0;
    for (int dir = 0; dir < 2; ++dir) {
      const int n = dir == 0 ? kSampleSquaresY : kSampleSquaresX;
      for (int k = 1; k < n; ++k) {
        std::vector<cv::Point2f> pts;
        for (const Corner& c : found)
          if ((dir == 0 ? c.j : c.i) == k) pts.push_back(c.p);
        if (pts.size() < 4) continue;
        cv::Vec4f l;
        cv::fitLine(pts, l, cv::DIST_L2, 0, 0.01, 0.01);
        double sq = 0, far = 0;
        for (const cv::Point2f& p : pts) {
          const double d = (p.x - l[2]) * l[1] - (p.y - l[3]) * l[0];
          sq += d * d;
          far = std::max(far, std::fabs(d));
        }
        const double rms = std::sqrt(sq / pts.size());
        worst = std::max(worst, rms);
        worstPoint = std::max(worstPoint, far);
        EXPECT_LT(far, 1.0) << "camera " << camera << (dir == 0 ? " row " : " column ") << k;
        ++lines;
      }
    }
    EXPECT_GE(lines, 4) << camera;
    printf("camera %d: %zu corners on %d lines, worst line RMS residual %.3f px, farthest corner from its line %.3f px\n", camera,
           found.size(), lines, worst, worstPoint);
  }
  UndistOB_Destroy(view);
}

TEST(AvmhostViewsArgs, DataDirectoryAndErrors) {
  const std::string out = fs::temp_directory_path() / ("avmhost_views_args_" + std::to_string(getpid()));
  // The data directory is required; its frame is read unless one is named.
  EXPECT_EQ(RunHost("views --out " + out, nullptr), 2);
  EXPECT_EQ(RunHost("views --data /nonexistent --out " + out, nullptr), 1);
  // A data directory without a camera file fails cleanly.
  fs::create_directories(out + "/empty");
  ASSERT_TRUE(WriteSampleRig(out + "/data"));
  EXPECT_EQ(RunHost("views --data " + out + "/empty --frame " + out + "/data/quad.bmp --out " + out + "/o1", nullptr), 1);
  EXPECT_EQ(RunHost("views --data " + out + "/data --frame /nonexistent.bmp --out " + out + "/o2", nullptr), 1);
  // The sample written by the test support, drawn from an explicit directory.
  EXPECT_EQ(RunHost("views --data " + out + "/data --frame " + out + "/data/quad.bmp --out " + out + "/o3", nullptr), 0);
  EXPECT_TRUE(fs::exists(out + "/o3/cam2_undist3_lines.bmp"));
  fs::remove_all(out);
}

}  // namespace

#include <dlfcn.h>

namespace {

// Every single-camera view, trace-line and point-mapping entry point is
// exported under its plain C name.
TEST(AvmhostViewsLibrary, ViewExportsResolveByName) {
  const fs::path lib = fs::path(AVMHOST_BINARY).parent_path().parent_path().parent_path() / "libavmcore" /
                       "libavmcore.so";
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  const char* names[] = {
      "KRV_GlobalImage_InitUndistOB", "KRV_GlobalImage_UnInitUndistOB", "KRV_GlobalImage_SetUndistParam",
      "KRV_GlobalImage_SetUndistParam_EX", "KRV_GlobalImage_SetUndistParam_EXD",
      "KRV_GlobalImage_SetUndistParam_EXDD", "KRV_GlobalImage_SetUndistParam_EXDDD", "KRV_GlobalImage_SetCutParam",
      "KRV_GlobalImage_SetCutParam_EX", "KRV_GlobalImage_SetCutParam_EXD", "KRV_GlobalImage_SetCutParam_EXDD",
      "KRV_GlobalImage_SetZoominParam", "KRV_GlobalImage_GenerateUndistLUT", "KRV_GlobalImage_GenerateCutLUT",
      "KRV_GlobalImage_GenerateWideLUT_EX", "KRV_GlobalImage_GenerateWideLUT_New",
      "KRV_GlobalImage_GenerateUndistTrian", "KRV_GlobalImage_GenerateCutTrian",
      "KRV_GlobalImage_GenerateWideTrian", "KRV_GlobalImage_GenerateWideTrian_New",
      "KRV_GlobalImage_Physical2DispPoint", "KRV_GlobalImage_Physical2DispLine",
      "KRV_GlobalImage_CameraImage2Physical", "KRV_GlobalImage_Physical2DispMerger",
      "KRV_GlobalImage_DirectCalcUndistPoints", "KRV_GlobalImage_DirectCalcMergerPoints",
      "KRV_GlobalImage_DirectCalcUndistTraceLP", "KRV_GlobalImage_DirectCalcMergerTraceLP",
      "KRV_GlobalImage_DirectCalcPhyTracePoints", "KRV_GlobalImage_DirectCalcPhyTraceLP",
      "KRV_GlobalImage_DirectCalcPhyTraceLP_EX", "KRV_GlobalImage_CalcUndistStaticTraceLine",
      "KRV_GlobalImage_CalcUndistDynamicTracePoint", "KRV_GlobalImage_CalcDynamicMergerTracePoint",
      "KRV_GlobalImage_SaveVideoImage"};
  for (const char* n : names) EXPECT_NE(dlsym(h, n), nullptr) << n;
  // Internal operations stay hidden.
  EXPECT_EQ(dlsym(h, "GenerateTrian"), nullptr);
  EXPECT_EQ(dlsym(h, "Undist4Camera_Init"), nullptr);
  dlclose(h);
}

}  // namespace
