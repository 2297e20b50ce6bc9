// Block calibrations (layouts 29 and 52) against the truth of rendered and
// projected block sites, and their checks on hand-made cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/detect_services.h"
#include "calibration/solve/block_calib_run.h"
#include "calibration/solve/block_pose_services.h"
#include "calibration/solve/block_solve.h"
#include "camera/camera_model.h"
#include "camera/rotation.h"
#include "frame/numeric_constants.h"
#include "surround/calibration_services.h"
#include "testsupport/block_site.h"
#include "testsupport/config_state.h"
#include "testsupport/pose_scene.h"

namespace {

// The configuration of a block calibration run on the site.
void ConfigureFor(const BlockSite& site, int32_t layout, int32_t mask = 15) {
  GlobalVariables& g = gv();
  g.CalibLayoutCode = layout;
  g.cameraMask = mask;
  g.targetDimA = static_cast<int32_t>(site.square);
  g.advValue15 = 0;
}

// Block records as a perfect fit would leave them: each block's pose is its
// camera's pose shifted to the block centre (the block frame runs along the
// site axes).
void TruthRecord(const BlockSite& site, int32_t camera, int32_t g, BlockSet* set, int32_t slot) {
  const SceneCamera& c = site.cams[camera];
  memcpy(set->K[slot], c.K, sizeof c.K);
  memcpy(set->D[slot], c.D, sizeof c.D);
  memcpy(set->R[slot], c.r, sizeof c.r);
  set->T[slot][0] = c.T[0] + site.blockX[g];
  set->T[slot][1] = c.T[1] + site.blockY[g];
  set->T[slot][2] = c.T[2];
  for (int k = 0; k < 4; ++k) {
    float w[3];
    site.Corner(g, k, w);
    site.Project(camera, w, &set->points[slot][k][0], &set->points[slot][k][1]);
  }
}

BlockCalib4* TruthObject4(const BlockSite& site, int32_t mode) {
  BlockCalib4* o = BlockCalib4_Instance();
  const int32_t values[4] = {0, 0, 0, 0};
  BlockCalib4_Setup(o, mode, site.camW, site.camH, 0, 2, values, 5, 1000, 10, 1000, site.square);
  for (int c = 0; c < 4; ++c) {
    int32_t blocks[2];
    BlockSite_CameraBlocks(site, c, blocks);
    TruthRecord(site, c, blocks[0], &o->blocks, 2 * c);
    TruthRecord(site, c, blocks[1], &o->blocks, 2 * c + 1);
  }
  return o;
}

// The vehicle frame of the four-block alignment on a site whose camera
// positions are symmetric about the origin is the site frame itself.
void ExpectGlobalCorners(const BlockSite& site, const float* gx, const float* gy, int32_t blocks, float tolMm) {
  for (int g = 0; g < blocks; ++g)
    for (int k = 0; k < 4; ++k) {
      float w[3];
      site.Corner(g, k, w);
      EXPECT_NEAR(gx[4 * g + k], w[0], tolMm) << "block " << g << " corner " << k;
      EXPECT_NEAR(gy[4 * g + k], w[1], tolMm) << "block " << g << " corner " << k;
    }
}

struct Extents {
  float width, length;
};

// Width between the left and right reference cameras, length between the
// front and the far one, with the calibration's margins.
Extents TrueExtents(const BlockSite& site, int32_t left, int32_t right, int32_t front, int32_t far) {
  float l[2], r[2], f[2], b[2];
  site.CameraXY(left, l);
  site.CameraXY(right, r);
  site.CameraXY(front, f);
  site.CameraXY(far, b);
  return {r[0] - l[0] + 200.0f, b[1] - f[1] + 400.0f};
}

// Solves camera n's pose from the eight world points the calibration hands
// to the LUT build and the camera's corners, with the camera's own lens held
// (the pose, not the eight-point estimate of the lens, is what the block
// geometry decides), and compares it with the truth.
void ExpectCameraPose(const BlockSite& site, int32_t camera, const float world[24], const float image[16],
                      double degLimit = 0.3, double mmLimit = 25.0) {
  float obj[24], img[16];
  memcpy(obj, world, sizeof obj);
  for (int i = 0; i < 8; ++i) {
    img[2 * i] = image[2 * i + 1];
    img[2 * i + 1] = image[2 * i];
  }
  const SceneCamera& cam = site.cams[camera];
  float K[9], D[8], R[3], T[3];
  memcpy(K, cam.K, sizeof K);
  memcpy(D, cam.D, sizeof D);
  // Start from a pose 0.2 m and a few degrees off.
  for (int k = 0; k < 3; ++k) {
    R[k] = cam.r[k] + 0.05f;
    T[k] = cam.T[k] + 200.0f;
  }
  Matrix W{3, 8, obj}, I{2, 8, img}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
  const float err = CameraModel_Calibrate(site.camW, site.camH, 2, &W, &I, &Km, &Dm, &Rm, kBlockFitEpsilon, &Tm, 4,
                                          100, 0, 0);
  EXPECT_LT(err, 3.0f) << "camera " << camera;
  const double deg = PoseScene_RotationErrorDeg(R, cam.r), mm = PoseScene_PositionErrorMm(T, cam.T);
  EXPECT_LT(deg, degLimit) << "camera " << camera;
  EXPECT_LT(mm, mmLimit) << "camera " << camera;
}

// The four-block site's result from hand corners xs, ys (59 a camera): the
// block corners and the site's extents within 20 mm, and each camera's pose
// solved from its eight corners near the truth.
void ExpectFourBlockSite(const BlockSite& site, const BlockCalib4* o, const std::vector<float>& xs,
                         const std::vector<float>& ys) {
  ExpectGlobalCorners(site, o->globalX, o->globalY, 4, 20.0f);
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, 20.0f);
  EXPECT_NEAR(truth.length, o->lengthTerm, 20.0f);
  for (int n = 1; n <= 4; ++n) {
    float world[24];
    Matrix W{3, 8, world};
    CalibPose_FromAngles(o, n, &W, 0.0f, 0.0f, 0.0f);
    float image[16];
    for (int i = 0; i < 8; ++i) {
      image[2 * i] = ys[59 * (n - 1) + i];
      image[2 * i + 1] = xs[59 * (n - 1) + i];
    }
    ExpectCameraPose(site, n - 1, world, image);
  }
}

class BlockCalibTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
};

// ---- Four blocks ----

TEST_F(BlockCalibTest, OtherLayoutsGiveZeroAndCreateNothing) {
  const BlockSite site = BlockSite_Four();
  std::vector<float> xs, ys;
  BlockSite_HandCorners4(site, &xs, &ys);
  ConfigureFor(site, 1);
  EXPECT_EQ(0, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
  uint8_t pixels[16] = {};
  ImageU8 frame{4, 4, pixels};
  EXPECT_EQ(0, BlockCalib4_RunAuto(2, 1, &frame));
  EXPECT_EQ(nullptr, gv().blockCalib4);
  ConfigureFor(site, 29);
  EXPECT_EQ(0, BlockCalib6_RunHand(2, site.camW, site.camH, xs.data(), ys.data(), xs.data(), ys.data()));
  EXPECT_EQ(0, BlockCalib6_RunAuto(2, &frame, &frame));
  EXPECT_EQ(nullptr, gv().blockCalib6);
}

TEST_F(BlockCalibTest, HandCornersGiveTheSiteAndTheCameraPoses) {
  const BlockSite site = BlockSite_Four();
  std::vector<float> xs, ys;
  BlockSite_HandCorners4(site, &xs, &ys);
  ConfigureFor(site, 29);
  ASSERT_EQ(0, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
  const BlockCalib4* o = gv().blockCalib4;
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(1, BlockCalib4_State(o));
  ExpectFourBlockSite(site, o, xs, ys);
}

// The four-block site made irregular: every block turned about its centre
// and moved, the cameras off the vehicle's axes at different heights.
BlockSite IrregularFourBlockSite() {
  BlockSite s = BlockSite_Four();
  s.blockYaw = {0.12f, -0.08f, 0.05f, -0.15f};
  const float shift[4][2] = {{-60, 40}, {90, -30}, {20, 110}, {-70, -50}};
  for (int g = 0; g < 4; ++g) {
    s.blockX[g] += shift[g][0];
    s.blockY[g] += shift[g][1];
  }
  struct Place {
    float x, y, height, atX, atY;
  } places[4] = {{80, -2070, 880, 150, -3800},
                 {-60, 2100, 1000, -200, 3800},
                 {-960, 150, 1050, -2200, 300},
                 {940, -100, 950, 2200, -250}};
  for (int c = 0; c < 4; ++c) {
    s.cams[c] = PoseScene_Camera(2, s.camW, s.camH);
    const float pos[3] = {places[c].x, places[c].y, -places[c].height}, at[3] = {places[c].atX, places[c].atY, 0.0f},
                up[3] = {0, 0, -1};
    SceneCamera_LookAt(&s.cams[c], pos, at, up);
  }
  return s;
}

// The vehicle frame the four-block alignment defines from the camera
// positions, worked out in the frame of global block 0 (its centre, its
// turned axes): y from the front camera to the back one; the centre takes
// x midway between the side cameras and y midway between the front and back
// ones, both read in block 0's frame before the turn.
struct VehicleFrame {
  float phi = 0.0f;                  // site axes to vehicle axes
  float bx = 0.0f, by = 0.0f;        // block 0's centre
  float ox = 0.0f, oy = 0.0f;        // the turned centre
  void ToVehicle(const float site[2], float out[2]) const {
    const float c = std::cos(phi), s = std::sin(phi), x = site[0] - bx, y = site[1] - by;
    out[0] = c * x - s * y - ox;
    out[1] = s * x + c * y - oy;
  }
  void ToSite(const float v[2], float out[2]) const {
    const float c = std::cos(phi), s = std::sin(phi), x = v[0] + ox, y = v[1] + oy;
    out[0] = c * x + s * y + bx;
    out[1] = -s * x + c * y + by;
  }
};

VehicleFrame FrameOfCameras(const BlockSite& site) {
  const float yaw0 = site.blockYaw.empty() ? 0.0f : site.blockYaw[0];
  const float c0 = std::cos(yaw0), s0 = std::sin(yaw0);
  float p[4][2];
  for (int c = 0; c < 4; ++c) {
    float xy[2];
    site.CameraXY(c, xy);
    const float x = xy[0] - site.blockX[0], y = xy[1] - site.blockY[0];
    p[c][0] = c0 * x + s0 * y;
    p[c][1] = -s0 * x + c0 * y;
  }
  const float theta = kPi / 2.0f - std::atan2(p[1][1] - p[0][1], p[1][0] - p[0][0]);
  const float cx = (p[2][0] + p[3][0]) / 2.0f, cy = (p[0][1] + p[1][1]) / 2.0f;
  VehicleFrame f;
  f.phi = theta - yaw0;
  f.bx = site.blockX[0];
  f.by = site.blockY[0];
  f.ox = std::cos(theta) * cx - std::sin(theta) * cy;
  f.oy = std::sin(theta) * cx + std::cos(theta) * cy;
  return f;
}

// Exact corners of an irregular site: every loss on the way from the
// per-block fits to the global corners and the extents shows here.
TEST_F(BlockCalibTest, IrregularSiteFromExactCornersIsExact) {
  const BlockSite site = IrregularFourBlockSite();
  std::vector<float> xs, ys;
  BlockSite_HandCorners4(site, &xs, &ys);
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 8; ++k) {
      ASSERT_GT(xs[59 * c + k], 5.0f) << c << " " << k;
      ASSERT_LT(xs[59 * c + k], site.camW - 5.0f) << c << " " << k;
      ASSERT_GT(ys[59 * c + k], 5.0f) << c << " " << k;
      ASSERT_LT(ys[59 * c + k], site.camH - 5.0f) << c << " " << k;
    }
  ConfigureFor(site, 29);
  ASSERT_EQ(0, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
  const BlockCalib4* o = gv().blockCalib4;
  const VehicleFrame f = FrameOfCameras(site);
  for (int g = 0; g < 4; ++g)
    for (int k = 0; k < 4; ++k) {
      float w[3], v[2];
      site.Corner(g, k, w);
      f.ToVehicle(w, v);
      EXPECT_NEAR(v[0], o->globalX[4 * g + k], 0.5f) << "block " << g << " corner " << k;
      EXPECT_NEAR(v[1], o->globalY[4 * g + k], 0.5f) << "block " << g << " corner " << k;
    }
  float p[4][2], v[4][2];
  for (int c = 0; c < 4; ++c) {
    site.CameraXY(c, p[c]);
    f.ToVehicle(p[c], v[c]);
  }
  EXPECT_NEAR(v[3][0] - v[2][0] + 200.0f, o->widthTerm, 0.5f);
  EXPECT_NEAR(v[1][1] - v[0][1] + 400.0f, o->lengthTerm, 0.5f);
  for (int n = 1; n <= 4; ++n) {
    float world[24];
    Matrix W{3, 8, world};
    CalibPose_FromAngles(o, n, &W, 0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 8; ++i) f.ToSite(&world[3 * i], &world[3 * i]);
    float image[16];
    for (int i = 0; i < 8; ++i) {
      image[2 * i] = ys[59 * (n - 1) + i];
      image[2 * i + 1] = xs[59 * (n - 1) + i];
    }
    ExpectCameraPose(site, n - 1, world, image, 0.01, 0.5);
  }
}

// Corners rounded to whole pixels (the finder's outline pixels without
// their bias inwards) keep the goals: the four-point fits turn the rounding
// into some 8 mm on the corners and 0.13 degree on the poses.
TEST_F(BlockCalibTest, CornersRoundedToWholePixelsKeepTheGoals) {
  const BlockSite site = BlockSite_Four();
  std::vector<float> xs, ys;
  BlockSite_HandCorners4(site, &xs, &ys);
  for (float& x : xs) x = std::round(x);
  for (float& y : ys) y = std::round(y);
  ConfigureFor(site, 29);
  ASSERT_EQ(0, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
  const BlockCalib4* o = gv().blockCalib4;
  ExpectFourBlockSite(site, o, xs, ys);
}

TEST_F(BlockCalibTest, FromAnglesTurnsAndShiftsTheCameraBlocks) {
  BlockCalib4 o;
  for (int i = 0; i < 16; ++i) {
    o.globalX[i] = static_cast<float>(i);
    o.globalY[i] = static_cast<float>(100 + i);
  }
  float world[8 * 3];
  Matrix W{3, 8, world};
  CalibPose_FromAngles(&o, 4, &W, kPi / 2, 10.0f, 20.0f);  // blocks 1 and 3
  const int idx[8] = {4, 5, 6, 7, 12, 13, 14, 15};
  for (int r = 0; r < 8; ++r) {
    EXPECT_NEAR(world[3 * r], -o.globalY[idx[r]] + 10.0f, 1e-3f);
    EXPECT_NEAR(world[3 * r + 1], o.globalX[idx[r]] + 20.0f, 1e-3f);
    EXPECT_EQ(0.0f, world[3 * r + 2]);
  }
}

TEST_F(BlockCalibTest, ClosedYawsLeaveThePairsAndGiveTheSite) {
  const BlockSite site = BlockSite_Four();
  BlockCalib4* o = TruthObject4(site, 0);
  BlockPair before[4];
  for (int c = 0; c < 4; ++c)
    BlockPair_Compute(o->blocks.R[2 * c], o->blocks.T[2 * c], o->blocks.R[2 * c + 1], o->blocks.T[2 * c + 1],
                      &before[c], site.square);
  ASSERT_EQ(0, CalcGlobalPhyCoord(o));
  for (int c = 0; c < 4; ++c) {
    EXPECT_NEAR(before[c].yaw, o->blocks.pair[c].yaw, 1e-5f);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(before[c].corners[i], o->blocks.pair[c].corners[i], 0.05f);
  }
  ExpectGlobalCorners(site, o->globalX, o->globalY, 4, 0.5f);
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, 0.5f);
  EXPECT_NEAR(truth.length, o->lengthTerm, 0.5f);
}

TEST_F(BlockCalibTest, YawErrorIsSharedOutAndTheLoopCloses) {
  const BlockSite site = BlockSite_Four();
  BlockCalib4* o = TruthObject4(site, 0);
  // Turn block 7 (camera 4's view of the rear-right block) by 2 degrees
  // about its centre: the chain through the right side no longer closes.
  float* r = o->blocks.R[7];
  r[2] += 2.0f * kPi / 180.0f;
  ASSERT_EQ(0, CalcGlobalPhyCoord(o));
  const BlockPair* p = o->blocks.pair;
  const float sum = (p[0].yaw + p[3].yaw) - (p[2].yaw + p[1].yaw);
  EXPECT_NEAR(0.0f, std::remainder(sum, 2 * kPi), 1e-4f);
  ExpectGlobalCorners(site, o->globalX, o->globalY, 4, 150.0f);
}

// Configuration word 89 not 0: the frame is turned onto the mean of the
// front-to-back and the (quarter-turned) left-to-right directions and
// centred on the mean of the four cameras; the vehicle is measured between
// opposite cameras all the same (not half of it).
TEST_F(BlockCalibTest, AveragedAlignmentGivesTheSiteAndTheWholeVehicle) {
  const BlockSite site = BlockSite_Four();
  BlockCalib4* o = TruthObject4(site, 0);
  o->alignMethod = 1;
  ASSERT_EQ(0, CalcGlobalPhyCoord(o));
  float p[4][2], mean[2] = {0.0f, 0.0f};
  for (int c = 0; c < 4; ++c) {
    site.CameraXY(c, p[c]);
    mean[0] += p[c][0] / 4.0f;
    mean[1] += p[c][1] / 4.0f;
  }
  for (int g = 0; g < 4; ++g)
    for (int k = 0; k < 4; ++k) {
      float w[3];
      site.Corner(g, k, w);
      EXPECT_NEAR(w[0] - mean[0], o->globalX[4 * g + k], 0.5f) << "block " << g << " corner " << k;
      EXPECT_NEAR(w[1] - mean[1], o->globalY[4 * g + k], 0.5f) << "block " << g << " corner " << k;
    }
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, 0.5f);
  EXPECT_NEAR(truth.length, o->lengthTerm, 0.5f);
}

TEST_F(BlockCalibTest, ModeTwoAndModeOneWithoutACamera) {
  const BlockSite site = BlockSite_Four();
  for (int mode : {1, 2}) {
    BlockCalib4* o = TruthObject4(site, mode);
    memset(o->globalX, 0, sizeof o->globalX);
    const int32_t r = mode == 2 ? CalcGlobalPhyCoord_Mode2(o) : CalcGlobalPhyCoord(o);
    ASSERT_EQ(0, r) << "mode " << mode;
    // Centred between the side cameras and between the front (mode 1) or
    // back (mode 2) camera and the left camera; the axes are the site's.
    float left[2], front[2], back[2];
    site.CameraXY(2, left);
    site.CameraXY(0, front);
    site.CameraXY(1, back);
    const float cy = mode == 2 ? (back[1] + left[1]) / 2.0f : (front[1] + left[1]) / 2.0f;
    for (int g = 0; g < 4; ++g)
      for (int k = 0; k < 4; ++k) {
        float w[3];
        site.Corner(g, k, w);
        EXPECT_NEAR(o->globalX[4 * g + k], w[0], 0.5f) << "mode " << mode;
        EXPECT_NEAR(o->globalY[4 * g + k], w[1] - cy, 0.5f) << "mode " << mode;
      }
    const Extents truth = mode == 2 ? TrueExtents(site, 2, 3, 2, 1) : TrueExtents(site, 2, 3, 0, 2);
    EXPECT_NEAR(truth.width, o->widthTerm, 0.5f);
    EXPECT_NEAR(truth.length, o->lengthTerm, 0.5f);
  }
}

// A site shrunk until the measured vehicle is 500 wide and 1000 long.
TEST_F(BlockCalibTest, VehicleOfExactlyFiveHundredByThousandPasses) {
  BlockSite site = BlockSite_Four();
  float l[2], r[2], f[2], b[2];
  site.CameraXY(2, l);
  site.CameraXY(3, r);
  site.CameraXY(0, f);
  site.CameraXY(1, b);
  for (int extra : {0, -2}) {
    // Move the side cameras to x = -150 and 150 (+ extra), the front and back
    // ones to y = -300 and 300: width 300 + 200, length 600 + 400.
    BlockSite s = site;
    s.cams[2].T[0] = 150.0f + extra / 2.0f;
    s.cams[3].T[0] = -150.0f - extra / 2.0f;
    s.cams[0].T[1] = 300.0f;
    s.cams[1].T[1] = -300.0f;
    BlockCalib4* o = TruthObject4(s, 0);
    // Level cameras keep the arithmetic exact.
    for (auto& r : o->blocks.R) r[0] = r[1] = r[2] = 0.0f;
    const int32_t res = CalcGlobalPhyCoord(o);
    EXPECT_NEAR(500.0f + extra, o->widthTerm, 0.01f);
    EXPECT_NEAR(1000.0f, o->lengthTerm, 0.01f);
    EXPECT_EQ(extra == 0 ? 0 : 17, res);
  }
}

TEST_F(BlockCalibTest, HandCornersThatNeverCloseTheYawsGive33) {
  const BlockSite site = BlockSite_Four();
  std::vector<float> xs, ys;
  BlockSite_HandCorners4(site, &xs, &ys);
  // Camera 4 sees the rear-right block turned by 30 degrees about its
  // centre: no quarter turn of its corners closes the loop of yaws.
  const float t = 30.0f * kPi / 180.0f;
  for (int k = 0; k < 4; ++k) {
    float w[3];
    site.Corner(3, k, w);
    const float dx = w[0] - site.blockX[3], dy = w[1] - site.blockY[3];
    const float turned[3] = {site.blockX[3] + dx * std::cos(t) - dy * std::sin(t),
                             site.blockY[3] + dx * std::sin(t) + dy * std::cos(t), 0.0f};
    site.Project(3, turned, &ys[59 * 3 + 4 + k], &xs[59 * 3 + 4 + k]);
  }
  ConfigureFor(site, 29);
  EXPECT_EQ(33, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
  EXPECT_EQ(0, BlockCalib4_State(gv().blockCalib4));
  // Without the first camera (mode 2) the order check passes at once.
  ConfigureFor(site, 29, 14);
  EXPECT_NE(33, BlockCalib4_RunHand(2, site.camW, site.camH, xs.data(), ys.data()));
}

TEST_F(BlockCalibTest, CornerReadOutAndCopyForTheLayoutFinder) {
  BlockCalib4 o;
  for (int b = 0; b < 8; ++b)
    for (int k = 0; k < 4; ++k) {
      o.blocks.points[b][k][0] = 100.0f * b + k;       // row
      o.blocks.points[b][k][1] = 1000.0f + 10.0f * k;  // column
    }
  o.blocks.counts[1] = 8;
  std::vector<float> xs(4 * 59, -1.0f), ys(4 * 59, -1.0f);
  BlockCalib4_GetCorners(&o, xs.data(), ys.data(), 0);
  EXPECT_EQ(-1.0f, xs[0]);  // camera 1 found nothing
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(o.blocks.points[2 + i / 4][i % 4][1], xs[59 + i]);
    EXPECT_EQ(o.blocks.points[2 + i / 4][i % 4][0], ys[59 + i]);
  }
  EXPECT_EQ(-1.0f, xs[59 + 8]);
  BlockCalib4_GetCorners(&o, xs.data(), ys.data(), 1);
  EXPECT_EQ(o.blocks.points[7][3][0], ys[3 * 59 + 7]);
  float pts[16];
  EXPECT_EQ(8u, BlockCalib4_CopyFoundPoints(&o, 2, pts));
  EXPECT_EQ(0, memcmp(pts, o.blocks.points[2], sizeof pts));
  EXPECT_EQ(0u, BlockCalib4_CopyFoundPoints(&o, 5, pts));
  EXPECT_EQ(0u, BlockCalib4_CopyFoundPoints(nullptr, 1, pts));
}

// Tolerance of the block geometry from detected corners (see below).
constexpr float kDetectedCornerMm = 100.0f;

// The rendered quad frame of the four-block site, made once.
const std::vector<uint8_t>& FourBlockQuad(const BlockSite& site) {
  static const std::vector<uint8_t> quad = BlockSite_RenderQuad(site);
  return quad;
}

TEST_F(BlockCalibTest, RenderedSiteGivesTheSiteAndTheCameraPoses) {
  const BlockSite site = BlockSite_Four();
  std::vector<uint8_t> pixels = FourBlockQuad(site);
  ImageU8 frame{2 * site.camW, 2 * site.camH, pixels.data()};
  ConfigureFor(site, 29);
  ASSERT_EQ(0, BlockCalib4_RunAuto(2, 1, &frame));
  const BlockCalib4* o = gv().blockCalib4;
  EXPECT_EQ(1, BlockCalib4_State(o));
  // The marker-quad finder hands out outline pixels of the dark square: on
  // this site they lie 0.7 to 1.9 px inside the true corners (never
  // outside), up to 2.2 px off. A block seen that much smaller looks that
  // much further away: corners inset by half a pixel on every side move the
  // global corners by about 35 mm (the hand road on the projected corners
  // moved inwards), so these corners give up to some 90 mm and the camera
  // poses up to 0.9 degree and 75 mm. Exact corners give them within 0.5 mm
  // (above), corners rounded to whole pixels within 10 mm.
  ExpectGlobalCorners(site, o->globalX, o->globalY, 4, kDetectedCornerMm);
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, kDetectedCornerMm);
  EXPECT_NEAR(truth.length, o->lengthTerm, kDetectedCornerMm);
  for (uint32_t n = 1; n <= 4; ++n) {
    float image[16];
    ASSERT_EQ(8u, BlockCalib4_CopyFoundPoints(o, n, image));
    int32_t blocks[2];
    BlockSite_CameraBlocks(site, static_cast<int32_t>(n) - 1, blocks);
    for (int i = 0; i < 8; ++i) {
      float w[3], row, col;
      site.Corner(blocks[i / 4], i % 4, w);
      site.Project(static_cast<int32_t>(n) - 1, w, &row, &col);
      EXPECT_LT(std::hypot(image[2 * i] - row, image[2 * i + 1] - col), 2.5f) << "camera " << n << " corner " << i;
    }

    float world[24];
    Matrix W{3, 8, world};
    CalibPose_FromAngles(o, static_cast<int32_t>(n), &W, 0.0f, 0.0f, 0.0f);
    ExpectCameraPose(site, static_cast<int32_t>(n) - 1, world, image, 1.0, kDetectedCornerMm);
  }
  // The float form of the same frame takes the same road.
  std::vector<float> f(pixels.size());
  for (size_t i = 0; i < f.size(); ++i) f[i] = pixels[i] / 255.0f;
  Matrix fm{frame.width, frame.height, f.data()};
  EXPECT_EQ(0, BlockCalib4_RunAuto(2, 0, &fm));
}

TEST_F(BlockCalibTest, AutoRoadWithoutTheFirstCameraNeverSearchesIt) {
  const BlockSite site = BlockSite_Four();
  std::vector<uint8_t> pixels = FourBlockQuad(site);
  // Blank the front camera's quadrant: it must not matter.
  for (int32_t y = 0; y < site.camH; ++y)
    std::fill(pixels.begin() + static_cast<size_t>(y) * 2 * site.camW,
              pixels.begin() + static_cast<size_t>(y) * 2 * site.camW + site.camW, 170);
  ImageU8 frame{2 * site.camW, 2 * site.camH, pixels.data()};
  ConfigureFor(site, 29, 14);
  EXPECT_EQ(0, BlockCalib4_RunAuto(2, 1, &frame));
  EXPECT_EQ(0u, gv().blockCalib4->blocks.counts[0]);
  // With it the blank quadrant fails camera 1; camera order decides the code.
  ConfigureFor(site, 29, 15);
  EXPECT_EQ(17, BlockCalib4_RunAuto(2, 1, &frame));
}

// Two blocks raised on platforms: the block fits see them that much nearer,
// and the depth check of the search judges the two depths of a camera by
// the attempt's limit.
TEST_F(BlockCalibTest, DepthLimitOfTheSearchWidensWithTheAttempts) {
  BlockSite site = BlockSite_Four();
  // Front-left block 150 mm up: depth ratios about 0.17 (front camera, 900
  // mm up) and 0.15 (left camera, 1000 mm): past 0.1, within 0.25 on the
  // next attempt. Rear-right block 480 mm up: about 0.5 for the right
  // camera, past 0.45: its schedule runs out. The back camera (the same) is
  // left out (configuration word 61 without bit 1) to keep the run short.
  site.blockHeight = {150.0f, 0.0f, 0.0f, 480.0f};
  std::vector<uint8_t> pixels = BlockSite_RenderQuad(site);
  ImageU8 frame{2 * site.camW, 2 * site.camH, pixels.data()};
  ConfigureFor(site, 29, 13);
  EXPECT_EQ(20, BlockCalib4_RunAuto(2, 1, &frame));
  const BlockCalib4* o = gv().blockCalib4;
  const uint32_t counts[4] = {8, 0, 8, 0};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(counts[c], o->blocks.counts[c]) << "camera " << c;
    if (counts[c] == 0) continue;
    const float a = o->blocks.T[2 * c][2], b = o->blocks.T[2 * c + 1][2];
    const float ratio = (std::max(a, b) - std::min(a, b)) / std::max(a, b);
    EXPECT_GT(ratio, 0.1f) << "camera " << c;
    EXPECT_LE(ratio, 0.25f) << "camera " << c;
  }
}

// ---- Block checks ----

TEST(BlockChecks, DepthRatioAgainstTheLimit) {
  EXPECT_TRUE(CheckBlockHigh(1000.0f, 900.0f, 0.1f));
  EXPECT_FALSE(CheckBlockHigh(1000.0f, 890.0f, 0.1f));
  EXPECT_TRUE(CheckBlockHigh(890.0f, 1000.0f, 0.25f));
}

TEST(BlockChecks, TiltLimitsTheSecondAndThirdAngle) {
  const float flat[3] = {0.1f, 0.2f, 0.3f};
  float yawed[3] = {0.1f, 0.2f, 0.3f};
  // The same rotation followed by a yaw about the block's normal passes and
  // reports that yaw.
  float Ra[9], Rz[9] = {std::cos(0.5f), -std::sin(0.5f), 0, std::sin(0.5f), std::cos(0.5f), 0, 0, 0, 1}, Rb[9];
  RodriguesArr(flat, Ra, nullptr);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) Rb[3 * i + j] = Ra[3 * i] * Rz[j] + Ra[3 * i + 1] * Rz[3 + j] + Ra[3 * i + 2] * Rz[6 + j];
  RotationMatrixToVector(Rb, yawed);
  float yaw = 0.0f;
  EXPECT_TRUE(CheckBlockAngle(flat, yawed, &yaw, 0.3f));
  EXPECT_NEAR(0.5f, yaw, 1e-4f);
  const float tilted[3] = {0.1f + 0.35f, 0.2f, 0.3f};
  EXPECT_FALSE(CheckBlockAngle(flat, tilted, nullptr, 0.3f));
}

TEST(BlockChecks, RepeatOnlyLateInTheScheduleAndWithinTenPixels) {
  const float stored[8] = {100, 100, 100, 150, 150, 100, 150, 150};
  float near[8], far[8];
  for (int i = 0; i < 8; ++i) {
    near[i] = stored[i] + (i % 2 == 0 ? 6.0f : 7.0f);  // centroid 9.2 px away
    far[i] = stored[i] + (i % 2 == 0 ? 6.0f : 8.0f);   // 10 px away
  }
  struct Case {
    int32_t block, position;
    const float* corners;
    bool repeat;
  } cases[] = {{0, 10, near, false}, {0, 11, near, true}, {1, 9, near, false},
               {1, 10, near, true},  {0, 15, far, false}};
  for (const Case& c : cases)
    EXPECT_EQ(c.repeat, CheckCornerRepeat(stored, c.block, c.position, c.corners))
        << "block " << c.block << " position " << c.position;
}

// Corners of a square of side 10 turned by `angle`, in grid order.
void Square(float angle, float out[8]) {
  const float base[4][2] = {{-5, -5}, {-5, 5}, {5, -5}, {5, 5}};  // (row, column)
  for (int k = 0; k < 4; ++k) {
    const float r = base[k][0], c = base[k][1];
    out[2 * k] = 100 + r * std::cos(angle) + c * std::sin(angle);
    out[2 * k + 1] = 100 - r * std::sin(angle) + c * std::cos(angle);
  }
}

TEST(BlockChecks, CornerOrderTurnsTheSideBlockPastItsLimits) {
  // Kind 2, attempt 1: A's edge (1, 0) against B's edge (3, 1); limits
  // (-pi/2, pi/16).
  float a[8], b[8];
  Square(0.0f, a);
  struct Case {
    float turnB;  // B's edge direction relative to A's
    int32_t result;
  } cases[] = {{0.0f, 0}, {0.5f, 1}, {-0.5f, 0}, {-1.7f, 2}};
  for (const Case& c : cases) {
    // B's edge (3, 1) points at A's edge direction minus turnB.
    Square(-kPi / 2 - c.turnB, b);
    float copy[8];
    memcpy(copy, b, sizeof copy);
    EXPECT_EQ(c.result, CheckBlockCornerOrder(2, a, b, 1)) << "turn " << c.turnB;
    if (c.result == 0) {
      EXPECT_EQ(0, memcmp(copy, b, sizeof b));
    }
    if (c.result == 1) {
      const int order[4] = {1, 3, 0, 2};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(copy[2 * order[k]], b[2 * k]);
    }
    if (c.result == 2) {
      const int order[4] = {2, 0, 3, 1};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(copy[2 * order[k]], b[2 * k]);
    }
  }
}

TEST(BlockChecks, EdgeDifferenceOnALimitLeavesTheOrder) {
  // Kind 1, attempt 0 on a block seen square by both: A's edge (1, 0) runs
  // along the columns, B's (2, 3) a quarter turn off, so d is exactly 0 =
  // the lower limit.
  float a[8] = {0, 0, 0, 10, 10, 0, 10, 10};
  float b[8] = {0, 0, 0, 10, 10, 0, 10, 10};
  // B: corners 2 and 3 one above the other.
  const float bSide[8] = {0, 10, 10, 10, 0, 0, 10, 0};
  memcpy(b, bSide, sizeof b);
  float copy[8];
  memcpy(copy, b, sizeof copy);
  EXPECT_EQ(0, CheckBlockCornerOrder(1, a, b, 0));
  EXPECT_EQ(0, memcmp(copy, b, sizeof b));
}

// ---- Six blocks ----

TEST_F(BlockCalibTest, SixBlocksFromHandCorners) {
  const BlockSite site = BlockSite_Six();
  std::vector<float> xs1, ys1, xs2, ys2;
  BlockSite_HandCorners6(site, 1, &xs1, &ys1);
  BlockSite_HandCorners6(site, 2, &xs2, &ys2);
  ConfigureFor(site, 52);
  ASSERT_EQ(0, BlockCalib6_RunHand(2, site.camW, site.camH, xs1.data(), ys1.data(), xs2.data(), ys2.data()));
  const BlockCalib6* o = gv().blockCalib6;
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(1, BlockCalib6_State(o));
  ExpectGlobalCorners(site, o->globalX, o->globalY, 6, 20.0f);
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, 20.0f);
  EXPECT_NEAR(truth.length, o->lengthTerm, 20.0f);
  const int32_t frames[6] = {1, 1, 1, 1, 2, 2}, cams[6] = {1, 2, 3, 4, 3, 4};
  for (int c = 0; c < 6; ++c) {
    float world[24];
    Matrix W{3, 8, world};
    CalibPose6_FromAngles(o, frames[c], cams[c], &W, 0.0f, 0.0f, 0.0f);
    const std::vector<float>& xs = frames[c] == 1 ? xs1 : xs2;
    const std::vector<float>& ys = frames[c] == 1 ? ys1 : ys2;
    float image[16];
    for (int i = 0; i < 8; ++i) {
      image[2 * i] = ys[59 * (cams[c] - 1) + i];
      image[2 * i + 1] = xs[59 * (cams[c] - 1) + i];
    }
    ExpectCameraPose(site, c, world, image);
  }
}

TEST_F(BlockCalibTest, SixBlocksFromRenderedFrames) {
  const BlockSite site = BlockSite_Six();
  std::vector<uint8_t> p1 = BlockSite_RenderQuad(site), p2 = BlockSite_RenderRear(site);
  ImageU8 frame1{2 * site.camW, 2 * site.camH, p1.data()}, frame2{2 * site.camW, site.camH, p2.data()};
  ConfigureFor(site, 52);
  ASSERT_EQ(0, BlockCalib6_RunAuto(2, &frame1, &frame2));
  const BlockCalib6* o = gv().blockCalib6;
  EXPECT_EQ(1, BlockCalib6_State(o));
  ExpectGlobalCorners(site, o->globalX, o->globalY, 6, kDetectedCornerMm);
  const Extents truth = TrueExtents(site, 2, 3, 0, 1);
  EXPECT_NEAR(truth.width, o->widthTerm, kDetectedCornerMm);
  EXPECT_NEAR(truth.length, o->lengthTerm, 2 * kDetectedCornerMm);
  // The front set holds the whole first frame, the back camera included;
  // the group read-out gives each camera's eight corners.
  for (int32_t group = 0; group < 2; ++group)
    for (int32_t slot = 1; slot <= 4; ++slot) {
      float pts[16];
      EXPECT_EQ(8, BlockCalib6_GetGroupPoints(group, slot, pts)) << group << " " << slot;
      const int32_t camera = group == 0 ? slot - 1 : (slot <= 2 ? slot - 1 : slot + 1);
      int32_t blocks[2];
      BlockSite_CameraBlocks(site, camera, blocks);
      float w[3], row, col;
      site.Corner(blocks[0], 0, w);
      site.Project(camera, w, &row, &col);
      EXPECT_NEAR(col, pts[0], 3.0f) << group << " " << slot;
      EXPECT_NEAR(row, pts[1], 3.0f) << group << " " << slot;
    }
  // The six-camera LUT build hands a second quad frame of the first one's
  // size, the rear cameras in its top half: the same result.
  const float width = o->widthTerm;
  std::vector<uint8_t> padded(p1.size(), 170);
  std::copy(p2.begin(), p2.end(), padded.begin());
  ImageU8 quad2{2 * site.camW, 2 * site.camH, padded.data()};
  ASSERT_EQ(0, BlockCalib6_RunAuto(2, &frame1, &quad2));
  EXPECT_NEAR(width, gv().blockCalib6->widthTerm, 0.5f);
}

// The rear-left camera's rear block moved (by shifting its picture) across
// the edge of its first, narrower band: only the second band finds it.
TEST_F(BlockCalibTest, RearSideBlockOnTheFirstBandsEdgeIsFoundWithTheSecond) {
  const BlockSite site = BlockSite_Six();
  const std::vector<uint8_t> pic = site.Render(4);
  float c0 = 1e9f, c1 = -1e9f;
  for (int k = 0; k < 4; ++k) {
    float w[3], row, col;
    site.Corner(4, k, w);
    site.Project(4, w, &row, &col);
    c0 = std::min(c0, col);
    c1 = std::max(c1, col);
  }
  const int32_t W = site.camW, H = site.camH;
  const int32_t shift = static_cast<int32_t>(0.36f * W - (c0 + c1) / 2.0f);
  ASSERT_GT(shift, 0);
  std::vector<uint8_t> frame(static_cast<size_t>(2) * W * H, 170);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x + shift < W; ++x) frame[static_cast<size_t>(y) * 2 * W + x + shift] = pic[y * W + x];
  ImageU8 rear{2 * W, H, frame.data()};
  BlockCalib6* o = BlockCalib6_Instance();
  const int32_t values[6] = {};
  BlockCalib6_Setup(o, 0, W, H, 2, values, 5, 1000, 10, 1000, site.square);
  int32_t position = 0;
  EXPECT_EQ(0, FindFourCorners(o->header, &o->rearSet, 1, &rear, 9, &position, 0, 0));
  EXPECT_EQ(16, position);
  position = 0;
  ASSERT_EQ(1, FindFourCorners(o->header, &o->rearSet, 1, &rear, 9, &position, 0, 1));
  float w[3], row, col;
  site.Corner(4, 0, w);  // block 9's first corner is the block frame's first
  site.Project(4, w, &row, &col);
  EXPECT_NEAR(row, o->rearSet.points[5][0][0], 3.0f);
  EXPECT_NEAR(col + shift, o->rearSet.points[5][0][1], 3.0f);
}

TEST(BlockBands, SearchFromPositionSixteenFindsNothing) {
  BlockHeader header;
  header.halfWidth = 2;
  header.halfHeight = 2;
  BlockSet set;
  uint8_t px[16] = {};
  ImageU8 frame{4, 4, px};
  for (int32_t start : {16, 40}) {
    int32_t position = start;
    EXPECT_EQ(0, FindFourCorners(header, &set, 1, &frame, 0, &position, 0, 0));
    EXPECT_EQ(16, position);
  }
}

TEST(BlockBands, SideBlockBandsOfTheRearFrame) {
  std::vector<uint8_t> pixels(200 * 50);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i % 200);
  ImageU8 frame{200, 50, pixels.data()};
  struct Case {
    int32_t block, percent, width, first, offset;
  } cases[] = {{8, 65, 65, 35, 35}, {8, 56, 56, 44, 44}, {9, 36, 36, 0, 0},
               {9, 45, 45, 0, 0},   {10, 65, 65, 100, 0}, {11, 36, 36, 164, 64}};
  for (const Case& c : cases) {
    BlockBand band;
    float xs = 0, ys = 0;
    int32_t offset = -1;
    ASSERT_TRUE(CutSideBlockRegionGray(&frame, c.block, c.percent, 0, &band, &xs, &ys, &offset));
    EXPECT_EQ(c.width, band.image.cols) << c.block << " " << c.percent;
    EXPECT_EQ(50, band.image.rows);
    EXPECT_EQ(c.offset, offset) << c.block << " " << c.percent;
    EXPECT_FLOAT_EQ(c.first / 255.0f, band.image.data[0]) << c.block << " " << c.percent;
    EXPECT_EQ(1.0f, xs);
    EXPECT_EQ(1.0f, ys);
  }
  // A quad frame whose top half holds the rear cameras: the top rows only.
  BlockBand band;
  float xs, ys;
  int32_t offset;
  ASSERT_TRUE(CutSideBlockRegionGray(&frame, 9, 36, 25, &band, &xs, &ys, &offset));
  EXPECT_EQ(25, band.image.rows);
}

TEST_F(BlockCalibTest, SixBlocksWithoutTheBackCamera) {
  const BlockSite site = BlockSite_Six();
  std::vector<float> xs1, ys1, xs2, ys2;
  BlockSite_HandCorners6(site, 1, &xs1, &ys1);
  BlockSite_HandCorners6(site, 2, &xs2, &ys2);
  // The back camera's corners are garbage: it must not be used.
  for (int k = 0; k < 8; ++k) xs1[59 + k] = ys1[59 + k] = xs2[59 + k] = ys2[59 + k] = 5.0f;
  ConfigureFor(site, 52, 13);  // bit 1 clear
  ASSERT_EQ(0, BlockCalib6_RunHand(2, site.camW, site.camH, xs1.data(), ys1.data(), xs2.data(), ys2.data()));
  const BlockCalib6* o = gv().blockCalib6;
  EXPECT_EQ(1, o->mode);
  // Aligned on the front side cameras, centred between the front camera
  // and the rear-left one.
  float front[2], rearLeft[2];
  site.CameraXY(0, front);
  site.CameraXY(4, rearLeft);
  const float cy = (front[1] + rearLeft[1]) / 2.0f;
  for (int g = 0; g < 6; ++g)
    for (int k = 0; k < 4; ++k) {
      float w[3];
      site.Corner(g, k, w);
      EXPECT_NEAR(o->globalX[4 * g + k], w[0], 20.0f);
      EXPECT_NEAR(o->globalY[4 * g + k], w[1] - cy, 20.0f);
    }
}

}  // namespace
