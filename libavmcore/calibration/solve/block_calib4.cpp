// Four-block calibration (board layout 29): the object's set-up, the road
// from a quad frame and the road from hand-entered corners.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "calibration/detect/detect_services.h"
#include "calibration/solve/block_calib_run.h"
#include "calibration/solve/block_pose_services.h"
#include "calibration/solve/block_solve.h"
#include "frame/geometry_utils.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "surround/calibration_services.h"

namespace {

// Depth limits of the corner search by attempt; the angle limit is 0.3 for
// all of them. A camera whose attempts run past the table fails.
constexpr float kDepthLimits[14] = {0.1f, 0.25f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f,
                                    0.45f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f};
constexpr int32_t kAttempts = 14;
constexpr float kAngleLimit = 0.3f;

bool Takes(int32_t mode, int32_t camera) { return !(mode == 2 && camera == 0) && !(mode == 1 && camera == 1); }

// Side-camera corner order: up to four attempts at making each shared block's
// corners agree between its two cameras, each followed by refits of the
// turned side blocks and, with all four cameras, the yaw-sum test.
bool CheckLRBlockCorner(BlockCalib4* o) {
  BlockSet& s = o->blocks;
  float saved[8][4][2];
  memcpy(saved, s.points, sizeof saved);
  for (int u = 0; u < 4; ++u) {
    bool flag[4] = {false, false, false, false};  // blocks 4..7
    if (u < 3) {
      float* p = &s.points[0][0][0];
      if (o->mode == 0 || o->mode == 1) {
        flag[0] = CheckBlockCornerOrder(1, p + 0 * 8, p + 4 * 8, u) != 0;
        flag[2] = CheckBlockCornerOrder(2, p + 1 * 8, p + 6 * 8, u) != 0;
      }
      if (o->mode == 0 || o->mode == 2) {
        flag[1] = CheckBlockCornerOrder(3, p + 2 * 8, p + 5 * 8, u) != 0;
        flag[3] = CheckBlockCornerOrder(4, p + 3 * 8, p + 7 * 8, u) != 0;
      }
    } else {
      memcpy(s.points, saved, sizeof saved);
      std::fill(flag, flag + 4, true);
    }
    for (int b = 4; b < 8; ++b)
      if (flag[b - 4]) BlockFit_Refit(o->header, &s, b, b, o->cameraValue[b / 2]);
    if (o->mode != 0) return true;
    for (int c = 0; c < 4; ++c)
      BlockPair_Compute(s.R[2 * c], s.T[2 * c], s.R[2 * c + 1], s.T[2 * c + 1], &s.pair[c], o->header.squareSize);
    const float y0 = s.pair[0].yaw, y1 = s.pair[1].yaw, y2 = s.pair[2].yaw, y3 = s.pair[3].yaw;
    const float sub = AngleDiffWrapped(y0 + y3, y2 + y1);
    AvmLog("CL~~~~~~~~~~~~ %f %f %f %f Sub:%f \n", y0, y1, y2, y3, sub);
    if (sub > -kPi / 8 && sub < kPi / 8) return true;
  }
  AvmLog("CheckLRBlockCorner Error \n");
  return false;
}

// Steps common to both roads once the corners are in order.
int32_t AdjustAndPlace(BlockCalib4* o) {
  for (int c = 0; c < 4; ++c) {
    if (!Takes(o->mode, c)) continue;
    if (AdjustCalibResult(o->header, &o->blocks, c, o->cameraValue[c], 1) == 0) {
      AvmLog("AdjustCalibResult Error %d \n", 17 + c);
      return 17 + c;
    }
  }
  int32_t r = o->mode == 2 ? CalcGlobalPhyCoord_Mode2(o) : CalcGlobalPhyCoord(o);
  if (r != 0) {
    AvmLog("CalcGlobalPhyCoord Error %d \n", r);
    return r;
  }
  r = BestCalibResult(o);
  if (r != 0) {
    AvmLog("BestCalibResult Error %d \n", r);
    return r;
  }
  o->state = 1;
  return 0;
}

// Set-up shared by the two run entries.
BlockCalib4* SetupFromConfig(int32_t cameraModel, int32_t halfWidth, int32_t halfHeight) {
  const GlobalVariables& g = gv();
  BlockCalib4* o = BlockCalib4_Instance();
  BlockCalib4_Setup(o, BlockCalib4_ModeFromMask(g.cameraMask), halfWidth, halfHeight, g.advValue15, cameraModel,
                    g.cameraEnabled, 5.0f, 1000.0f, 10.0f, 1000.0f, static_cast<float>(g.targetDimA));
  return o;
}

}  // namespace

int32_t BlockCalib4_ModeFromMask(int32_t mask) {
  if ((mask & 1) == 0) return 2;
  return (mask & 2) == 0 ? 1 : 0;
}

void BlockCalib4_Setup(BlockCalib4* obj, int32_t mode, int32_t halfWidth, int32_t halfHeight, int32_t alignMethod,
                       int32_t cameraModel, const int32_t cameraValues[4], float tol1, float tol2, float tol3,
                       float tol4, float squareSize) {
  obj->mode = mode;
  for (int c = 0; c < 4; ++c) obj->cameraValue[c] = cameraValues[c];
  BlockHeader& h = obj->header;
  h.sideGate = 0;
  h.halfWidth = halfWidth;
  h.halfHeight = halfHeight;
  h.quadTol[0] = tol1;
  h.quadTol[1] = tol2;
  h.quadTol[2] = tol3;
  h.quadTol[3] = tol4;
  h.squareSize = squareSize;
  h.cameraModel = cameraModel;
  obj->alignMethod = alignMethod;
}

int32_t BlockCalib4_FindAndSolve(BlockCalib4* o, int32_t imageKind, const void* image) {
  if (o == nullptr || image == nullptr) return 17;
  BlockSet& s = o->blocks;
  int32_t code = 0;
  for (int c = 0; c < 4; ++c) {
    if (!Takes(o->mode, c)) continue;
    AvmLog("begin4======================================== %d \n", c);
    s.counts[c] = 0;
    int32_t attempt = 0, start = 0;
    bool found = false;
    while (attempt < kAttempts) {
      int32_t p0 = start, p1 = start;
      if (FindFourCorners(o->header, &s, imageKind, image, 2 * c, &p0, o->cameraValue[c], 0) == 0 ||
          FindFourCorners(o->header, &s, imageKind, image, 2 * c + 1, &p1, o->cameraValue[c], 0) == 0)
        break;
      start = 1 + std::max(p0, p1);
      if (attempt == 0 && start > 3) attempt = 1;
      const bool depthOk = CheckBlockHigh(s.T[2 * c][2], s.T[2 * c + 1][2], kDepthLimits[attempt]);
      float yaw = 0.0f;
      const bool angleOk = CheckBlockAngle(s.R[2 * c], s.R[2 * c + 1], &yaw, kAngleLimit);
      if (depthOk && angleOk) {
        AvmLog("ok4======================================== %d %d %d %f \n", p0, p1, c, yaw);
        s.counts[c] = 8;
        found = true;
        break;
      }
      ++attempt;
    }
    if (!found && code == 0) code = 17 + c;
  }
  if (code != 0) {
    AvmLog("FindFourCorners Error %d \n", code);
    return code;
  }
  if (!CheckLRBlockCorner(o)) return 17;
  return AdjustAndPlace(o);
}

int32_t BlockCalib4_SolveHand(BlockCalib4* o, const float* xs, const float* ys) {
  if (o == nullptr || xs == nullptr || ys == nullptr) return 17;
  BlockSet& s = o->blocks;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 8; ++k) {
      s.points[2 * c + k / 4][k % 4][0] = ys[kBlockCornerStride * c + k];
      s.points[2 * c + k / 4][k % 4][1] = xs[kBlockCornerStride * c + k];
    }
  for (int b = 0; b < 8; ++b) BlockFit_Refit(o->header, &s, b, b, o->cameraValue[b / 2]);
  if (!CheckLRBlockCorner(o)) return 33;
  return AdjustAndPlace(o);
}

void BlockCalib4_GetCorners(BlockCalib4* block, float* xs, float* ys, int32_t all) {
  if (block == nullptr || xs == nullptr || ys == nullptr) return;
  const BlockSet& s = block->blocks;
  for (int c = 0; c < 4; ++c) {
    const int32_t n = all != 0 ? 8 : static_cast<int32_t>(std::min<uint32_t>(s.counts[c], 8));
    for (int i = 0; i < n; ++i) {
      const float* p = s.points[2 * c + i / 4][i % 4];
      xs[kBlockCornerStride * c + i] = p[1];
      ys[kBlockCornerStride * c + i] = p[0];
    }
  }
}

// ---- Services of the lower layers ----

int32_t BlockCalib4_RunAuto(int32_t cameraModel, int32_t imageKind, const void* image) {
  if (gv().CalibLayoutCode != 29) return 0;
  if (image == nullptr) return 17;
  // Both image records start with their width and height.
  const int32_t* size = static_cast<const int32_t*>(image);
  BlockCalib4* o = SetupFromConfig(cameraModel, size[0] / 2, size[1] / 2);
  return BlockCalib4_FindAndSolve(o, imageKind, image);
}

int32_t BlockCalib4_RunHand(int32_t cameraModel, int32_t cameraWidth, int32_t cameraHeight, const float* xs,
                            const float* ys) {
  if (gv().CalibLayoutCode != 29) return 0;
  BlockCalib4* o = SetupFromConfig(cameraModel, cameraWidth, cameraHeight);
  return BlockCalib4_SolveHand(o, xs, ys);
}

int32_t BlockCalib4_State(const BlockCalib4* block) { return block != nullptr ? block->state : 0; }

uint32_t BlockCalib4_CopyFoundPoints(const BlockCalib4* block, uint32_t camera, float* points) {
  if (block == nullptr || points == nullptr || camera < 1 || camera > 4) return 0;
  const uint32_t c = camera - 1;
  memcpy(points, block->blocks.points[2 * c], 16 * sizeof(float));
  return block->blocks.counts[c];
}

void CalibPose_FromAngles(const BlockCalib4* block, int32_t camera, Matrix* out, float angle, float dx, float dy) {
  static const int32_t kGlobal[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
  if (block == nullptr || out == nullptr || out->data == nullptr || camera < 1 || camera > 4 || out->cols < 3 ||
      out->rows < 8)
    return;
  const float c = std::cos(angle), s = std::sin(angle);
  for (int half = 0; half < 2; ++half)
    for (int k = 0; k < 4; ++k) {
      const int32_t i = 4 * kGlobal[camera - 1][half] + k;
      float* row = out->data + static_cast<size_t>(4 * half + k) * out->cols;
      row[0] = c * block->globalX[i] - s * block->globalY[i] + dx;
      row[1] = s * block->globalX[i] + c * block->globalY[i] + dy;
      row[2] = 0.0f;
    }
}
