#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/template_corners.h"
#include "testsupport/board_scenes.h"

namespace {

double MeanError(const std::vector<float>& got, const std::vector<float>& truth) {
  double s = 0;
  for (size_t i = 0; i < truth.size() / 2; ++i) s += std::hypot(got[2 * i] - truth[2 * i], got[2 * i + 1] - truth[2 * i + 1]);
  return s / (truth.size() / 2);
}

}  // namespace

TEST(QuadDetectorProbe, Basic) {
  for (int model : {1, 2, 4}) {
    BoardSceneSpec spec;
    spec.model = model;
    BoardScene scene = BoardScene_Make(spec);
    std::vector<float> truth;
    ASSERT_TRUE(BoardScene_Truth(scene, &truth));
    FloatImage img;
    BoardScene_Render(scene, RenderOptions{}, &img);
    std::vector<float> pts(truth.size(), -5.0f);
    const int r = Chessboard_FindCorners(&img.m, 9, 7, pts.data(), 2);
    std::vector<float> tp(truth.size(), -5.0f);
    const int t = FindChessboardByTemplates(&img.m, 9, 7, tp.data(), 2, 0, 0, 0);
    printf("model %d quad %d err %.3f  tmpl %d err %.3f\n", model, r, r ? MeanError(pts, truth) : -1.0, t,
           t ? MeanError(tp, truth) : -1.0);
    printf(" truth0 %.1f %.1f got %.1f %.1f tmpl %.1f %.1f\n", truth[0], truth[1], pts[0], pts[1], tp[0], tp[1]);
  }
}
