// Camera-pair records, the depth adjustment, the global block corners of
// the four-block layout and the final refits.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "calibration/solve/block_solve.h"
#include "camera/camera_model.h"
#include "camera/rotation.h"
#include "frame/geometry_utils.h"
#include "frame/log.h"
#include "frame/mat3.h"
#include "frame/numeric_constants.h"

namespace {

constexpr float kAdjustLimit = 15.4f;
constexpr float kBestRefitLimit = 12.21f;

// Corners, vector and length from the record's rotation.
void PairFromRotation(BlockPair* p, const float tA[3], const float tB[3], float squareSize) {
  float v[3];
  Mat3_MulVec(p->rot, tB, v);
  for (int i = 0; i < 3; ++i) p->vec[i] = v[i] - tA[i];
  float sq[12];
  Block_Square(squareSize, sq);
  for (int k = 0; k < 4; ++k) {
    const float q[3] = {sq[3 * k] + tB[0], sq[3 * k + 1] + tB[1], sq[3 * k + 2] + tB[2]};
    Mat3_MulVec(p->rot, q, v);
    for (int i = 0; i < 3; ++i) p->corners[3 * k + i] = v[i] - tA[i];
  }
  p->length = std::sqrt(p->vec[0] * p->vec[0] + p->vec[1] * p->vec[1] + p->vec[2] * p->vec[2]);
}

void LogFit(const char* tag, int32_t camera, float err, const BlockSet& s, int32_t slot) {
  AvmLog("%s %d %f %f %f %f %f %f %f \n", tag, camera, err, s.D[slot][0], s.D[slot][1], s.K[slot][0],
         s.K[slot][2], s.K[slot][5], s.T[slot][2]);
}

}  // namespace

float BlockFit_Points(const BlockHeader& h, BlockSet* s, int32_t slot, const float* world, const float* image,
                      int32_t n, int32_t mode, int32_t freeCentre, int32_t cameraValue) {
  if (n < 1 || n > 8) return FLT_MAX;
  float obj[8 * 3], img[8 * 2];
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < 3; ++k) obj[3 * i + k] = world[3 * i + k];
    img[2 * i] = image[2 * i + 1];
    img[2 * i + 1] = image[2 * i];
  }
  Matrix W{3, n, obj}, I{2, n, img}, K{3, 3, s->K[slot]}, D{1, 8, s->D[slot]}, R{1, 3, s->R[slot]},
      T{1, 3, s->T[slot]};
  return CameraModel_Calibrate(h.halfWidth, h.halfHeight, h.cameraModel, &W, &I, &K, &D, &R, kBlockFitEpsilon, &T,
                               mode, 100, freeCentre, cameraValue);
}

namespace {

void Turn(float x, float y, float cx, float cy, float c, float s, float* ox, float* oy) {
  *ox = (x - cx) * c - (y - cy) * s;
  *oy = (y - cy) * c + (x - cx) * s;
}

struct Pt {
  float x, y;
};

void SetGlobal(BlockCalib4* o, int32_t g, const float corners[12]) {
  for (int k = 0; k < 4; ++k) {
    o->globalX[4 * g + k] = corners[3 * k];
    o->globalY[4 * g + k] = corners[3 * k + 1];
    o->globalZ[4 * g + k] = corners[3 * k + 2];
  }
}

void GetGlobal(const BlockCalib4* o, int32_t g, float corners[12]) {
  for (int k = 0; k < 4; ++k) {
    corners[3 * k] = o->globalX[4 * g + k];
    corners[3 * k + 1] = o->globalY[4 * g + k];
    corners[3 * k + 2] = o->globalZ[4 * g + k];
  }
}

// Turns the global corners and the reference points about the centre, then
// measures the vehicle.
int32_t AlignAndMeasure(float* gx, float* gy, int32_t n, float theta, Pt centre, Pt* P, int32_t np) {
  const float c = std::cos(theta), s = std::sin(theta);
  for (int i = 0; i < n; ++i) Turn(gx[i], gy[i], centre.x, centre.y, c, s, &gx[i], &gy[i]);
  for (int i = 0; i < np; ++i) Turn(P[i].x, P[i].y, centre.x, centre.y, c, s, &P[i].x, &P[i].y);
  return 0;
}

int32_t Extents(float width, float length, float* widthTerm, float* lengthTerm) {
  *widthTerm = width;
  *lengthTerm = length;
  return (width < 500.0f || length < 1000.0f) ? 17 : 0;
}

}  // namespace

void Block_Square(float squareSize, float out[12]) {
  const float h = squareSize / 2.0f;
  const float c[12] = {-h, -h, 0, h, -h, 0, -h, h, 0, h, h, 0};
  memcpy(out, c, sizeof c);
}

float BlockFit_Square(const BlockHeader& header, BlockSet* set, int32_t slot, const float corners[8], int32_t mode,
                      int32_t freeCentre, int32_t cameraValue) {
  float sq[12];
  Block_Square(header.squareSize, sq);
  return BlockFit_Points(header, set, slot, sq, corners, 4, mode, freeCentre, cameraValue);
}

float BlockFit_Refit(const BlockHeader& header, BlockSet* set, int32_t slot, int32_t label, int32_t cameraValue) {
  float corners[8];
  memcpy(corners, set->points[slot], sizeof corners);
  const float err = BlockFit_Square(header, set, slot, corners, 0, 0, cameraValue);
  AvmLog("T3~~~~~~~~ %d %f %f %f %f %f %f \n", label, err, set->D[slot][0], set->D[slot][1], set->K[slot][0],
         set->K[slot][2], set->K[slot][5]);
  return err;
}

void BlockPair_Compute(const float rA[3], const float tA[3], const float rB[3], const float tB[3], BlockPair* pair,
                       float squareSize) {
  const float negA[3] = {-rA[0], -rA[1], -rA[2]};
  float Ra[9], Rb[9];
  RodriguesArr(negA, Ra, nullptr);
  RodriguesArr(rB, Rb, nullptr);
  Mat3_Mul(Ra, Rb, pair->rot);
  float angles[3];
  Matrix M{3, 3, pair->rot};
  AnglesFromRotation(&M, angles);
  pair->yaw = angles[0];
  PairFromRotation(pair, tA, tB, squareSize);
}

void BlockPair_AddYaw(BlockPair* pair, const float tA[3], const float tB[3], float yawOffset, float squareSize) {
  float angles[3];
  Matrix M{3, 3, pair->rot};
  AnglesFromRotation(&M, angles);
  angles[0] += yawOffset;
  pair->yaw = angles[0];
  RotationFromAngles(angles, &M);
  PairFromRotation(pair, tA, tB, squareSize);
}

void BlockPair_TransformCorners(const float rotation[9], const float tA[3], const float tB[3],
                                const float corners[12], float out[12]) {
  float tmp[12];
  for (int k = 0; k < 4; ++k) {
    const float q[3] = {corners[3 * k] + tB[0], corners[3 * k + 1] + tB[1], corners[3 * k + 2] + tB[2]};
    float v[3];
    Mat3_MulVec(rotation, q, v);
    for (int i = 0; i < 3; ++i) tmp[3 * k + i] = v[i] - tA[i];
  }
  memcpy(out, tmp, sizeof tmp);  // out may be corners
}

int32_t AdjustCalibResult(const BlockHeader& header, BlockSet* set, int32_t camera, int32_t cameraValue,
                          int32_t joint) {
  const int32_t a = 2 * camera, b = a + 1;
  if (joint != 1) {
    for (int32_t slot : {a, b}) {
      float corners[8];
      memcpy(corners, set->points[slot], sizeof corners);
      const float err = BlockFit_Square(header, set, slot, corners, 0, 0, cameraValue);
      LogFit("T5~~~~~~~~", camera, err, *set, slot);
      if (!(err <= kAdjustLimit)) return 0;
    }
  }
  const float depth = (set->T[a][2] + set->T[b][2]) / 2.0f;
  set->T[a][2] = set->T[b][2] = depth;
  float corners[8];
  memcpy(corners, set->points[b], sizeof corners);
  const float err = BlockFit_Square(header, set, b, corners, 7, 0, cameraValue);
  LogFit("T5~~~~~~~~", camera, err, *set, b);
  return err <= kAdjustLimit ? 1 : 0;
}

int32_t CalcGlobalPhyCoord(BlockCalib4* o) {
  BlockSet& s = o->blocks;
  const float sq = o->header.squareSize;
  const bool full = o->mode == 0;
  for (int c = 0; c < 4; ++c) {
    if (c == 1 && !full) continue;
    BlockPair_Compute(s.R[2 * c], s.T[2 * c], s.R[2 * c + 1], s.T[2 * c + 1], &s.pair[c], sq);
  }
  if (full) {
    const float d = AngleDiffWrapped(s.pair[0].yaw + s.pair[3].yaw, s.pair[2].yaw + s.pair[1].yaw);
    const float S = s.pair[0].length + s.pair[1].length + s.pair[2].length + s.pair[3].length;
    if (S > 0.0f) {
      const float sign[4] = {-1.0f, 1.0f, 1.0f, -1.0f};
      for (int c = 0; c < 4; ++c)
        BlockPair_AddYaw(&s.pair[c], s.T[2 * c], s.T[2 * c + 1], sign[c] * s.pair[c].length / S * d, sq);
    }
  }
  float g[12];
  Block_Square(sq, g);
  SetGlobal(o, 0, g);
  SetGlobal(o, 1, s.pair[0].corners);
  float g2[12];
  memcpy(g2, s.pair[2].corners, sizeof g2);
  float B[12], A[12], g3[12];
  BlockPair_TransformCorners(s.pair[0].rot, s.T[0], s.T[1], s.pair[3].corners, B);
  float delta[2] = {0.0f, 0.0f};
  if (full) {
    BlockPair_TransformCorners(s.pair[2].rot, s.T[4], s.T[5], s.pair[1].corners, A);
    for (int i = 0; i < 12; ++i) {
      g3[i] = (A[i] + B[i]) / 2.0f;
      g2[i] += (B[i] - A[i]) / 2.0f;
    }
    delta[0] = (B[9] - A[9]) / 2.0f;
    delta[1] = (B[10] - A[10]) / 2.0f;
  } else {
    memcpy(g3, B, sizeof g3);
  }
  SetGlobal(o, 2, g2);
  SetGlobal(o, 3, g3);

  // Camera positions (the block fits' -T) in the frame of global block 0.
  Pt P[4];
  P[0] = {-s.T[0][0], -s.T[0][1]};
  P[2] = {-s.T[4][0], -s.T[4][1]};
  float v[3];
  const float d3[3] = {s.T[1][0] - s.T[6][0], s.T[1][1] - s.T[6][1], s.T[1][2] - s.T[6][2]};
  Mat3_MulVec(s.pair[0].rot, d3, v);
  P[3] = {v[0] - s.T[0][0], v[1] - s.T[0][1]};
  P[1] = {0.0f, 0.0f};
  if (full) {
    const float d1[3] = {s.T[5][0] - s.T[2][0], s.T[5][1] - s.T[2][1], s.T[5][2] - s.T[2][2]};
    Mat3_MulVec(s.pair[2].rot, d1, v);
    P[1] = {v[0] - s.T[4][0] + delta[0], v[1] - s.T[4][1] + delta[1]};
    P[3].x -= delta[0];
    P[3].y -= delta[1];
  }

  float theta;
  Pt centre;
  if (full && o->alignMethod != 0) {
    // The front-to-back direction, averaged with the left-to-right one
    // turned by a quarter turn.
    const Pt fb = {P[1].x - P[0].x, P[1].y - P[0].y}, lr = {P[3].x - P[2].x, P[3].y - P[2].y};
    const Pt mean = {(fb.x - lr.y) / 2.0f, (fb.y + lr.x) / 2.0f};
    theta = kPi / 2.0f - std::atan2(mean.y, mean.x);
    centre = {(P[0].x + P[1].x + P[2].x + P[3].x) / 4.0f, (P[0].y + P[1].y + P[2].y + P[3].y) / 4.0f};
  } else if (full) {
    theta = kPi / 2.0f - std::atan2(P[1].y - P[0].y, P[1].x - P[0].x);
    centre = {(P[2].x + P[3].x) / 2.0f, (P[0].y + P[1].y) / 2.0f};
  } else {
    // Turn the left-to-right direction onto the x axis.
    theta = -std::atan2(P[3].y - P[2].y, P[3].x - P[2].x);
    centre = {(P[2].x + P[3].x) / 2.0f, (P[0].y + P[2].y) / 2.0f};
  }
  AlignAndMeasure(o->globalX, o->globalY, 16, theta, centre, P, 4);
  // The extents are the spans between opposite cameras with either
  // alignment. (Halving the sums of two such differences, as for four points
  // at the corners of a rectangle, measures half the vehicle here: the
  // reference points are the cameras, one on each side.)
  const float width = P[3].x - P[2].x + 200.0f;
  const float length = (full ? P[1].y : P[2].y) - P[0].y + 400.0f;
  return Extents(width, length, &o->widthTerm, &o->lengthTerm);
}

int32_t CalcGlobalPhyCoord_Mode2(BlockCalib4* o) {
  BlockSet& s = o->blocks;
  const float sq = o->header.squareSize;
  BlockPair_Compute(s.R[2], s.T[2], s.R[3], s.T[3], &s.pair[1], sq);
  BlockPair_Compute(s.R[5], s.T[5], s.R[4], s.T[4], &s.pair[2], sq);
  BlockPair_Compute(s.R[7], s.T[7], s.R[6], s.T[6], &s.pair[3], sq);
  float g[12];
  Block_Square(sq, g);
  SetGlobal(o, 2, g);
  SetGlobal(o, 0, s.pair[2].corners);
  SetGlobal(o, 3, s.pair[1].corners);
  BlockPair_TransformCorners(s.pair[1].rot, s.T[2], s.T[3], s.pair[3].corners, g);
  SetGlobal(o, 1, g);
  Pt P[4];
  P[0] = {0.0f, 0.0f};
  P[1] = {-s.T[2][0], -s.T[2][1]};
  P[2] = {-s.T[5][0], -s.T[5][1]};
  float v[3];
  const float d3[3] = {s.T[3][0] - s.T[7][0], s.T[3][1] - s.T[7][1], s.T[3][2] - s.T[7][2]};
  Mat3_MulVec(s.pair[1].rot, d3, v);
  P[3] = {v[0] - s.T[2][0], v[1] - s.T[2][1]};
  const float theta = -std::atan2(P[3].y - P[2].y, P[3].x - P[2].x);
  const Pt centre = {(P[2].x + P[3].x) / 2.0f, (P[1].y + P[2].y) / 2.0f};
  AlignAndMeasure(o->globalX, o->globalY, 16, theta, centre, P, 4);
  return Extents(P[3].x - P[2].x + 200.0f, P[1].y - P[2].y + 400.0f, &o->widthTerm, &o->lengthTerm);
}

int32_t BestCalibResult(BlockCalib4* o) {
  if (o->mode != 0) return 0;
  BlockSet& s = o->blocks;
  AvmLog("============================================================== \n");
  static const int32_t kGlobal[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
  float worst = 0.0f;
  for (int c = 0; c < 4; ++c) {
    const int32_t a = 2 * c, b = a + 1;
    float world[8 * 3], image[8 * 2];
    for (int half = 0; half < 2; ++half) {
      float g[12];
      GetGlobal(o, kGlobal[c][half], g);
      for (int k = 0; k < 4; ++k) {
        world[3 * (4 * half + k)] = g[3 * k];
        world[3 * (4 * half + k) + 1] = g[3 * k + 1];
        world[3 * (4 * half + k) + 2] = 0.0f;
      }
    }
    memcpy(image, s.points[a], 8 * sizeof(float));
    memcpy(image + 8, s.points[b], 8 * sizeof(float));
    const float err = BlockFit_Points(o->header, &s, a, world, image, 8, 0, 1, o->cameraValue[c]);
    AvmLog("T61~~~~~~~~ 0%d %f %f %f %f %f %f %f \n", c, err, s.D[a][0], s.D[a][1], s.K[a][0], s.K[a][2],
           s.K[a][5], s.T[a][2]);
    memcpy(s.K[b], s.K[a], sizeof s.K[a]);
    memcpy(s.D[b], s.D[a], sizeof s.D[a]);
    memcpy(s.R[b], s.R[a], sizeof s.R[a]);
    memcpy(s.T[b], s.T[a], sizeof s.T[a]);
    for (int half = 0; half < 2; ++half) {
      const int32_t slot = a + half;
      float corners[8];
      memcpy(corners, s.points[slot], sizeof corners);
      const float e = BlockFit_Square(o->header, &s, slot, corners, 3, 0, o->cameraValue[c]);
      AvmLog("T62~~~~~~~~ %d%d %f %f %f %f %f %f %f \n", c, half, e, s.D[slot][0], s.D[slot][1], s.K[slot][0],
             s.K[slot][2], s.K[slot][5], s.T[slot][2]);
      // A failed fit (NaN, FLT_MAX) counts as the worst.
      if (!(e <= worst)) worst = e;
    }
  }
  if (worst < kBestRefitLimit) return CalcGlobalPhyCoord(o);
  return 0;
}
