// The marker searches and the pattern finder keep no state between calls:
// the corner tracker and the per-camera threads call them at once, and each
// call gives what it gives alone.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "calibration/detect/am_marker_outline.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "surround/lutob.h"
#include "testsupport/mark_scenes.h"

namespace {

struct Result {
  int32_t markers = 0, markersAM = 0, pattern = 0;
  bool outline = false;
  std::vector<float> points;
};

Result SearchAll(const FloatImage& img, LUTOB* lut, int camera, float cx, float cy) {
  Result r;
  std::vector<float> q(8 * kMarkerQuadMax, 0.0f), qa(8 * kMarkerQuadMax, 0.0f), p(8, 0.0f);
  r.markers = Chessboard_FindMarkerQuads(&img.m, 0, 1, q.data(), 5, 150, 7, 150);
  r.markersAM = Chessboard_FindMarkerQuadsAM(&img.m, 1, 1, qa.data(), 5, 150, 7, 150);
  r.pattern = CalibFindPattern(lut, camera, &img.m, 1, 0, 0, p.data(), 160, cx - 300, cy - 300, 600, 600, 0);
  FloatImage copy = img;
  copy.m.data = copy.data.data();
  float at[2] = {0, 0};
  r.outline = AM_FindMarkerBlobs(&copy.m, at, 1);
  r.points = q;
  r.points.insert(r.points.end(), qa.begin(), qa.end());
  r.points.insert(r.points.end(), p.begin(), p.end());
  r.points.push_back(at[0]);
  r.points.push_back(at[1]);
  return r;
}

}  // namespace

TEST(MarkerSearchThreads, FourCallsAtOnceGiveTheSingleThreadedResults) {
  BoardSceneSpec v;
  v.model = 2;
  v.width = 480;
  v.height = 360;
  LUTOB* lut = LUTOB_Create();
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  lut->camW = v.width;
  lut->camH = v.height;
  FloatImage images[4];
  float centres[4][2];
  for (int c = 0; c < 4; ++c) {
    v.tiltDeg = 10.0f * c;
    MarkScene s = MarkScene_Make(v);
    MarkScene_AddNestedSquare(&s, -200, 0, 160, 0.5f, 5.0f * c, 30);
    MarkScene_AddSquare(&s, 200, 0, 160, 0, 30);
    MarkScene_World(s, 200, 0, &centres[c][0], &centres[c][1]);
    RenderOptions o;
    o.noiseSigma = 2.0f;
    MarkScene_Render(s, o, &images[c]);
    lut->cfg.model[c] = 2;
    memcpy(lut->params.K[c], s.cam.K, sizeof s.cam.K);
    memcpy(lut->params.D[c], s.cam.D, sizeof s.cam.D);
    memcpy(lut->params.R[c], s.cam.r, sizeof s.cam.r);
    memcpy(lut->params.T[c], s.cam.T, sizeof s.cam.T);
  }
  Result alone[4], together[4];
  for (int c = 0; c < 4; ++c) alone[c] = SearchAll(images[c], lut, c, centres[c][0], centres[c][1]);
  std::vector<std::thread> threads;
  for (int c = 0; c < 4; ++c)
    threads.emplace_back([&, c] { together[c] = SearchAll(images[c], lut, c, centres[c][0], centres[c][1]); });
  for (std::thread& t : threads) t.join();
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(1, alone[c].markers) << c;
    EXPECT_EQ(1, alone[c].pattern) << c;
    EXPECT_EQ(alone[c].markers, together[c].markers);
    EXPECT_EQ(alone[c].markersAM, together[c].markersAM);
    EXPECT_EQ(alone[c].pattern, together[c].pattern);
    EXPECT_EQ(alone[c].outline, together[c].outline);
    EXPECT_EQ(alone[c].points, together[c].points);
  }
  LUTOB_Destroy(lut);
}
