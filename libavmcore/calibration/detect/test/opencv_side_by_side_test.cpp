// Our detectors beside OpenCV's on the same rendered scenes: every board the
// classic detector finds, ours find too; the corner errors of both are
// printed. (The full table over all conditions, with the sector-based
// detector too, is the ComparisonReport entry of bench/chessboard_detect.)
#include <gtest/gtest.h>

#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "calibration/detect/template_corners.h"
#include "detect_scene_helpers.h"

namespace {

double NearestMeanError(const std::vector<float>& got, const std::vector<float>& truth) {
  const size_t n = truth.size() / 2;
  double s = 0;
  for (size_t i = 0; i < n; ++i) {
    double best = 1e30;
    for (size_t j = 0; j < n; ++j)
      best = std::min(best, std::hypot(double(got[2 * i]) - truth[2 * j], double(got[2 * i + 1]) - truth[2 * j + 1]));
    s += best;
  }
  return s / static_cast<double>(n);
}

}  // namespace

TEST(OpenCvSideBySide, WeFindWhatTheClassicDetectorFinds) {
  cv::setNumThreads(1);
  LensModelScenes scenes;
  struct Case {
    const char* name;
    int model, sx, sy;
    float span, tilt, yaw, light;
  };
  const Case cases[] = {
      {"9x7 near", 1, 9, 7, 0.9f, 0, 0, 1.0f},      {"9x7 near", 3, 9, 7, 0.9f, 0, 0, 1.0f},
      {"8x6 far tilt30", 2, 8, 6, 0.5f, 30, 0, 1.0f}, {"9x7 ramp", 4, 9, 7, 0.9f, 30, 0, 0.3f},
      {"8x6 upside down", 2, 8, 6, 0.9f, 20, 180, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " model " + std::to_string(c.model));
    BoardSceneSpec spec;
    spec.model = c.model;
    spec.squaresX = c.sx;
    spec.squaresY = c.sy;
    spec.span = c.span;
    spec.tiltDeg = c.tilt;
    spec.yawDeg = c.yaw;
    const BoardScene scene = BoardScene_Make(spec);
    std::vector<float> truth;
    ASSERT_TRUE(BoardScene_Truth(scene, &truth));
    RenderOptions opt;
    opt.blurSigma = 0.8f;
    opt.noiseSigma = 2.0f;
    opt.lightLeft = c.light;
    FloatImage img;
    BoardScene_Render(scene, opt, &img);
    cv::Mat grey(img.m.rows, img.m.cols, CV_8UC1);
    for (size_t i = 0; i < img.data.size(); ++i) grey.data[i] = static_cast<uint8_t>(std::lround(img.data[i] * 255));

    std::vector<float> quad(truth.size()), tmpl(truth.size());
    const bool q = Chessboard_FindCorners(&img.m, c.sx, c.sy, quad.data(), 2) != 0;
    const bool t = FindChessboardByTemplates(&img.m, c.sx, c.sy, tmpl.data(), 2, 0, 0, 0) != 0;
    std::vector<cv::Point2f> pc;
    const bool classic = cv::findChessboardCorners(grey, cv::Size(c.sx - 1, c.sy - 1), pc);
    if (classic)
      cv::cornerSubPix(grey, pc, cv::Size(5, 5), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.01));
    std::vector<float> vc;
    for (const cv::Point2f& p : pc) vc.insert(vc.end(), {p.y, p.x});
    printf("%-16s model %d | quad %s %.3f | template %s %.3f | cv classic+subpix %s %.3f\n", c.name, c.model,
           q ? "yes" : "no", q ? NearestMeanError(quad, truth) : 0.0, t ? "yes" : "no",
           t ? NearestMeanError(tmpl, truth) : 0.0, classic ? "yes" : "no", classic ? NearestMeanError(vc, truth) : 0.0);
    if (classic) {
      EXPECT_TRUE(q || t);
      // The quad detector's refinement stays within 0.1 px of OpenCV's
      // sub-pixel corners on these scenes.
      if (q) {
        EXPECT_LE(NearestMeanError(quad, truth), NearestMeanError(vc, truth) + 0.1);
      }
    }
  }
}
