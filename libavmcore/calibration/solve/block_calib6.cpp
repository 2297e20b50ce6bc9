// Six-block calibration (board layout 52): two overlapping four-camera block
// sets that share the middle blocks, solved into one frame of six blocks.
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

constexpr float kDepthLimits[14] = {0.1f, 0.25f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f,
                                    0.45f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f, 0.45f};
constexpr int32_t kAttempts = 14;
constexpr float kAngleLimit = 0.3f;
constexpr float kBestRefitLimit = 12.21f;

// Where each of the six cameras keeps its two blocks: the set (0 front,
// 1 rear), the first slot, its camera position in that set, its result code
// and its two global blocks.
struct CameraPlace {
  int32_t set, slot, position, code, globalA, globalB;
};
constexpr CameraPlace kPlaces[6] = {
    {0, 0, 0, 17, 0, 1}, {1, 2, 1, 18, 4, 5}, {0, 4, 2, 19, 0, 2},
    {0, 6, 3, 20, 1, 3}, {1, 4, 2, 19, 2, 4}, {1, 6, 3, 20, 3, 5},
};

BlockSet& SetOf(BlockCalib6* o, int32_t set) { return set == 0 ? o->frontSet : o->rearSet; }

bool Takes(const BlockCalib6* o, int32_t camera) { return !(o->mode == 1 && camera == 1); }

BlockPair& PairOf(BlockCalib6* o, int32_t camera) {
  const CameraPlace& p = kPlaces[camera];
  return SetOf(o, p.set).pair[p.position];
}

void ComputePair(BlockCalib6* o, int32_t camera) {
  const CameraPlace& p = kPlaces[camera];
  BlockSet& s = SetOf(o, p.set);
  BlockPair_Compute(s.R[p.slot], s.T[p.slot], s.R[p.slot + 1], s.T[p.slot + 1], &s.pair[p.position],
                    o->header.squareSize);
}

// The loop of yaws: front, front-right, rear-right against front-left,
// rear-left, back.
float YawSum(BlockCalib6* o) {
  const float y0 = PairOf(o, 0).yaw, y3 = PairOf(o, 3).yaw, y5 = PairOf(o, 5).yaw;
  const float y2 = PairOf(o, 2).yaw, y4 = PairOf(o, 4).yaw, y1 = o->mode == 0 ? PairOf(o, 1).yaw : 0.0f;
  const float sub = AngleDiffWrapped(y0 + y3 + y5, y2 + y4 + y1);
  AvmLog("CL~~~~~~~~~~~~ %f %f %f = %f %f %f Sub:%f \n", y0, y3, y5, y2, y4, y1, sub);
  return sub;
}

bool CheckCornerOrder6(BlockCalib6* o) {
  BlockSet& f = o->frontSet;
  BlockSet& r = o->rearSet;
  float savedF[8][4][2], savedR[8][4][2];
  memcpy(savedF, f.points, sizeof savedF);
  memcpy(savedR, r.points, sizeof savedR);
  struct Check {
    int32_t kind;
    BlockSet* a;
    int32_t slotA;
    BlockSet* b;
    int32_t slotB, camera;
  };
  const Check checks[6] = {{1, &f, 0, &f, 4, 2}, {2, &f, 1, &f, 6, 3}, {3, &r, 2, &r, 5, 4},
                           {4, &r, 3, &r, 7, 5}, {5, &f, 5, &r, 4, 4}, {6, &f, 7, &r, 6, 5}};
  for (int u = 0; u < 4; ++u) {
    bool flag[6] = {};
    if (u < 3) {
      for (int i = 0; i < 6; ++i) {
        const Check& c = checks[i];
        if (o->mode == 1 && (c.kind == 3 || c.kind == 4)) continue;
        flag[i] = CheckBlockCornerOrder(c.kind, &c.a->points[c.slotA][0][0], &c.b->points[c.slotB][0][0], u) != 0;
      }
    } else {
      memcpy(f.points, savedF, sizeof savedF);
      memcpy(r.points, savedR, sizeof savedR);
      std::fill(flag, flag + 6, true);
    }
    for (int i = 0; i < 6; ++i)
      if (flag[i]) BlockFit_Refit(o->header, checks[i].b, checks[i].slotB, checks[i].slotB,
                                  o->cameraValue[checks[i].camera]);
    for (int c = 0; c < 6; ++c)
      if (Takes(o, c)) ComputePair(o, c);
    const float sub = YawSum(o);
    if (o->mode == 1 || (sub > -kPi / 6 && sub < kPi / 6)) return true;
  }
  AvmLog("CheckLRBlockCorner Error \n");
  return false;
}

// The corner search of one camera: its two blocks from schedule position 0
// on, judged by depth and tilt.
bool SearchCamera(BlockCalib6* o, int32_t camera, const void* image, int32_t blockA, int32_t bandPass,
                  int32_t* found0, int32_t* found1) {
  const CameraPlace& p = kPlaces[camera];
  BlockSet& s = SetOf(o, p.set);
  int32_t attempt = 0, start = 0;
  while (attempt < kAttempts) {
    int32_t p0 = start, p1 = start;
    if (FindFourCorners(o->header, &s, 1, image, blockA, &p0, o->cameraValue[camera], bandPass) == 0 ||
        FindFourCorners(o->header, &s, 1, image, blockA + 1, &p1, o->cameraValue[camera], bandPass) == 0)
      return false;
    start = 1 + std::max(p0, p1);
    if (attempt == 0 && start > 3) attempt = 1;
    const bool depthOk = CheckBlockHigh(s.T[p.slot][2], s.T[p.slot + 1][2], kDepthLimits[attempt]);
    const bool angleOk = CheckBlockAngle(s.R[p.slot], s.R[p.slot + 1], nullptr, kAngleLimit);
    if (depthOk && angleOk) {
      *found0 = p0;
      *found1 = p1;
      return true;
    }
    ++attempt;
  }
  return false;
}

int32_t AdjustAll(BlockCalib6* o) {
  int32_t code = 0;
  for (int set = 0; set < 2; ++set)
    for (int c = 0; c < 6; ++c) {
      const CameraPlace& p = kPlaces[c];
      if (p.set != set || !Takes(o, c)) continue;
      if (AdjustCalibResult(o->header, &SetOf(o, set), p.position, o->cameraValue[c], 1) == 0) {
        code = p.code;
        break;
      }
    }
  if (code != 0) AvmLog("AdjustCalibResult Error %d \n", code);
  return code;
}

int32_t PlaceAndRefine(BlockCalib6* o) {
  int32_t r = AdjustAll(o);
  if (r != 0) return r;
  r = CalcGlobalPhyCoord6(o);
  if (r != 0) {
    AvmLog("CalcGlobalPhyCoord Error %d \n", r);
    return r;
  }
  r = BestCalibResult6(o);
  if (r != 0) {
    AvmLog("BestCalibResult Error %d \n", r);
    return r;
  }
  return 0;
}

void CopySlot(const BlockSet& from, BlockSet* to, int32_t slot) {
  memcpy(to->K[slot], from.K[slot], sizeof from.K[slot]);
  memcpy(to->D[slot], from.D[slot], sizeof from.D[slot]);
  memcpy(to->R[slot], from.R[slot], sizeof from.R[slot]);
  memcpy(to->T[slot], from.T[slot], sizeof from.T[slot]);
  memcpy(to->points[slot], from.points[slot], sizeof from.points[slot]);
}

BlockCalib6* SetupFromConfig(int32_t cameraModel, int32_t halfWidth, int32_t halfHeight) {
  const GlobalVariables& g = gv();
  BlockCalib6* o = BlockCalib6_Instance();
  const int32_t values[6] = {g.cameraEnabled[0], g.cameraEnabled[1], g.cameraEnabled[2],
                             g.cameraEnabled[3], g.cameraBit4,       g.cameraBit5};
  BlockCalib6_Setup(o, (g.cameraMask & 2) == 0 ? 1 : 0, halfWidth, halfHeight, cameraModel, values, 5.0f, 1000.0f,
                    10.0f, 1000.0f, static_cast<float>(g.targetDimA));
  return o;
}

}  // namespace

void BlockCalib6_Setup(BlockCalib6* obj, int32_t mode, int32_t halfWidth, int32_t halfHeight, int32_t cameraModel,
                       const int32_t cameraValues[6], float tol1, float tol2, float tol3, float tol4,
                       float squareSize) {
  obj->mode = mode;
  for (int c = 0; c < 6; ++c) obj->cameraValue[c] = cameraValues[c];
  BlockHeader& h = obj->header;
  h.sideGate = 1;
  h.halfWidth = halfWidth;
  h.halfHeight = halfHeight;
  h.quadTol[0] = tol1;
  h.quadTol[1] = tol2;
  h.quadTol[2] = tol3;
  h.quadTol[3] = tol4;
  h.squareSize = squareSize;
  h.cameraModel = cameraModel;
}

int32_t BlockCalib6_FindAndSolve(BlockCalib6* o, const ImageU8* frame1, const ImageU8* frame2) {
  if (o == nullptr || frame1 == nullptr || frame2 == nullptr) return 17;
  int32_t code = 0;
  for (int c = 0; c < 6; ++c) {
    if (!Takes(o, c)) continue;
    AvmLog("begin6======================================== %d \n", c);
    const CameraPlace& p = kPlaces[c];
    BlockSet& s = SetOf(o, p.set);
    s.counts[p.position] = 0;
    int32_t p0 = 0, p1 = 0;
    bool found;
    if (c < 4) {
      found = SearchCamera(o, c, frame1, 2 * c, 0, &p0, &p1);
    } else {
      const int32_t blockA = c == 4 ? 8 : 10;
      found = SearchCamera(o, c, frame2, blockA, 0, &p0, &p1) || SearchCamera(o, c, frame2, blockA, 1, &p0, &p1);
    }
    if (found) {
      float yaw = 0.0f;
      CheckBlockAngle(s.R[p.slot], s.R[p.slot + 1], &yaw, kAngleLimit);
      AvmLog("ok6======================================== %d %d %d %f \n", p0, p1, c, yaw);
      s.counts[p.position] = 8;
    } else if (code == 0) {
      code = p.code;
    }
  }
  if (code != 0) {
    AvmLog("FindFourCorners Error %d \n", code);
    return code;
  }
  if (!CheckCornerOrder6(o)) return 33;
  const int32_t r = PlaceAndRefine(o);
  if (r != 0) return r;
  // The front set takes the back camera: it then holds the whole first frame.
  CopySlot(o->rearSet, &o->frontSet, 2);
  CopySlot(o->rearSet, &o->frontSet, 3);
  o->frontSet.counts[1] = o->rearSet.counts[1];
  o->state = 1;
  return 0;
}

int32_t BlockCalib6_SolveHand(BlockCalib6* o, const float* xs1, const float* ys1, const float* xs2,
                              const float* ys2) {
  if (o == nullptr || xs1 == nullptr || ys1 == nullptr || xs2 == nullptr || ys2 == nullptr) return 17;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 8; ++k) {
      const int32_t i = kBlockCornerStride * c + k;
      o->frontSet.points[2 * c + k / 4][k % 4][0] = ys1[i];
      o->frontSet.points[2 * c + k / 4][k % 4][1] = xs1[i];
      o->rearSet.points[2 * c + k / 4][k % 4][0] = ys2[i];
      o->rearSet.points[2 * c + k / 4][k % 4][1] = xs2[i];
    }
  for (int c = 0; c < 6; ++c) {
    if (!Takes(o, c)) continue;
    const CameraPlace& p = kPlaces[c];
    for (int slot = p.slot; slot < p.slot + 2; ++slot)
      BlockFit_Refit(o->header, &SetOf(o, p.set), slot, slot, o->cameraValue[c]);
  }
  if (!CheckCornerOrder6(o)) return 33;
  const int32_t r = PlaceAndRefine(o);
  if (r != 0) return r;
  o->state = 1;
  return 0;
}

int32_t CalcGlobalPhyCoord6(BlockCalib6* o) {
  const float sq = o->header.squareSize;
  const bool full = o->mode == 0;
  for (int c = 0; c < 6; ++c)
    if (Takes(o, c)) ComputePair(o, c);
  if (full) {
    const float d = AngleDiffWrapped(PairOf(o, 0).yaw + PairOf(o, 3).yaw + PairOf(o, 5).yaw,
                                     PairOf(o, 2).yaw + PairOf(o, 4).yaw + PairOf(o, 1).yaw);
    float S = 0.0f;
    for (int c = 0; c < 6; ++c) S += PairOf(o, c).length;
    if (S > 0.0f) {
      const float sign[6] = {-1.0f, 1.0f, 1.0f, -1.0f, 1.0f, -1.0f};
      for (int c = 0; c < 6; ++c) {
        const CameraPlace& p = kPlaces[c];
        BlockSet& s = SetOf(o, p.set);
        BlockPair_AddYaw(&s.pair[p.position], s.T[p.slot], s.T[p.slot + 1], sign[c] * s.pair[p.position].length / S * d,
                         sq);
      }
    }
  }
  const BlockSet& f = o->frontSet;
  const BlockSet& r = o->rearSet;
  float g[6][12];
  Block_Square(sq, g[0]);
  memcpy(g[1], PairOf(o, 0).corners, sizeof g[1]);
  memcpy(g[2], PairOf(o, 2).corners, sizeof g[2]);
  BlockPair_TransformCorners(PairOf(o, 0).rot, f.T[0], f.T[1], PairOf(o, 3).corners, g[3]);
  BlockPair_TransformCorners(PairOf(o, 2).rot, f.T[4], f.T[5], PairOf(o, 4).corners, g[4]);
  float B[12];
  BlockPair_TransformCorners(PairOf(o, 3).rot, f.T[6], f.T[7], PairOf(o, 5).corners, B);
  BlockPair_TransformCorners(PairOf(o, 0).rot, f.T[0], f.T[1], B, B);
  float delta[12] = {};
  float wA = 0.0f;
  if (full) {
    float A[12];
    BlockPair_TransformCorners(PairOf(o, 4).rot, r.T[4], r.T[5], PairOf(o, 1).corners, A);
    BlockPair_TransformCorners(PairOf(o, 2).rot, f.T[4], f.T[5], A, A);
    const float l2 = PairOf(o, 2).length, l3 = PairOf(o, 3).length, l4 = PairOf(o, 4).length,
                l5 = PairOf(o, 5).length;
    wA = l2 + l4 > 0.0f ? l2 / (l2 + l4) : 0.5f;
    const float wB = l3 + l5 > 0.0f ? l3 / (l3 + l5) : 0.5f;
    for (int i = 0; i < 12; ++i) {
      delta[i] = (B[i] - A[i]) / 2.0f;
      g[5][i] = (A[i] + B[i]) / 2.0f;
      g[4][i] += delta[i];
      g[2][i] += wA * delta[i];
      g[3][i] -= wB * delta[i];
    }
  } else {
    memcpy(g[5], B, sizeof B);
  }
  for (int b = 0; b < 6; ++b)
    for (int k = 0; k < 4; ++k) {
      o->globalX[4 * b + k] = g[b][3 * k];
      o->globalY[4 * b + k] = g[b][3 * k + 1];
      o->globalZ[4 * b + k] = g[b][3 * k + 2];
    }

  // Reference points: camera positions in the frame of global block 0 (the
  // front camera, the two front side cameras, the back camera, and in mode 1
  // the rear-left camera), carried along the chains as the corners were.
  float front[2], left[2], right[2], back[2] = {0, 0}, rearLeft[2];
  front[0] = -f.T[0][0];
  front[1] = -f.T[0][1];
  left[0] = -f.T[4][0];
  left[1] = -f.T[4][1];
  {
    // Camera 3 sits at -T[6] in global block 1's frame.
    float pts[12] = {-f.T[6][0], -f.T[6][1], -f.T[6][2]};
    BlockPair_TransformCorners(PairOf(o, 0).rot, f.T[0], f.T[1], pts, pts);
    right[0] = pts[0];
    right[1] = pts[1];
  }
  {
    float pts[12] = {-r.T[4][0], -r.T[4][1], -r.T[4][2]};
    BlockPair_TransformCorners(PairOf(o, 2).rot, f.T[4], f.T[5], pts, pts);
    rearLeft[0] = pts[0] + wA * delta[0];
    rearLeft[1] = pts[1] + wA * delta[1];
  }
  if (full) {
    float pts[12] = {-r.T[2][0], -r.T[2][1], -r.T[2][2]};
    BlockPair_TransformCorners(PairOf(o, 4).rot, r.T[4], r.T[5], pts, pts);
    BlockPair_TransformCorners(PairOf(o, 2).rot, f.T[4], f.T[5], pts, pts);
    back[0] = pts[0] + delta[0];
    back[1] = pts[1] + delta[1];
  }
  const float* far = full ? back : rearLeft;
  float theta;
  if (full)
    theta = kPi / 2.0f - std::atan2(far[1] - front[1], far[0] - front[0]);
  else
    theta = -std::atan2(right[1] - left[1], right[0] - left[0]);
  const float cx = (left[0] + right[0]) / 2.0f, cy = (front[1] + far[1]) / 2.0f;
  const float c = std::cos(theta), s = std::sin(theta);
  auto turn = [&](float* x, float* y) {
    const float x0 = *x - cx, y0 = *y - cy;
    *x = x0 * c - y0 * s;
    *y = y0 * c + x0 * s;
  };
  for (int i = 0; i < 24; ++i) turn(&o->globalX[i], &o->globalY[i]);
  float P[4][2] = {{front[0], front[1]}, {far[0], far[1]}, {left[0], left[1]}, {right[0], right[1]}};
  for (auto& q : P) turn(&q[0], &q[1]);
  o->widthTerm = P[3][0] - P[2][0] + 200.0f;
  o->lengthTerm = P[1][1] - P[0][1] + 400.0f;
  return (o->widthTerm < 500.0f || o->lengthTerm < 1000.0f) ? 17 : 0;
}

int32_t BestCalibResult6(BlockCalib6* o) {
  if (o->mode != 0) return 0;
  AvmLog("============================================================== \n");
  float worst = 0.0f;
  for (int cam = 0; cam < 6; ++cam) {
    const CameraPlace& p = kPlaces[cam];
    BlockSet& s = SetOf(o, p.set);
    const int32_t a = p.slot, b = a + 1;
    float world[8 * 3];
    Matrix W{3, 8, world};
    const int32_t frame = cam >= 4 ? 2 : 1;
    const int32_t camera = cam >= 4 ? cam - 1 : cam + 1;
    CalibPose6_FromAngles(o, frame, camera, &W, 0.0f, 0.0f, 0.0f);
    float image[16];
    memcpy(image, s.points[a], 8 * sizeof(float));
    memcpy(image + 8, s.points[b], 8 * sizeof(float));
    const float err = BlockFit_Points(o->header, &s, a, world, image, 8, 0, 1, o->cameraValue[cam]);
    AvmLog("T61~~~~~~~~ %d %f %f %f %f %f %f %f \n", cam, err, s.D[a][0], s.D[a][1], s.K[a][0], s.K[a][2],
           s.K[a][5], s.T[a][2]);
    memcpy(s.K[b], s.K[a], sizeof s.K[a]);
    memcpy(s.D[b], s.D[a], sizeof s.D[a]);
    memcpy(s.R[b], s.R[a], sizeof s.R[a]);
    memcpy(s.T[b], s.T[a], sizeof s.T[a]);
    for (int half = 0; half < 2; ++half) {
      const int32_t slot = a + half;
      float corners[8];
      memcpy(corners, s.points[slot], sizeof corners);
      const float e = BlockFit_Square(o->header, &s, slot, corners, 3, 0, o->cameraValue[cam]);
      AvmLog("%s %d %f %f %f %f %f %f %f \n", half == 0 ? "T62~~~~~~~~" : "T63~~~~~~~~", cam, e, s.D[slot][0],
             s.D[slot][1], s.K[slot][0], s.K[slot][2], s.K[slot][5], s.T[slot][2]);
      if (!(e <= worst)) worst = e;
    }
  }
  if (worst < kBestRefitLimit) return CalcGlobalPhyCoord6(o);
  return 0;
}

// ---- Services of the lower layers ----

int32_t BlockCalib6_RunAuto(int32_t model, const ImageU8* image1, const ImageU8* image2) {
  if (gv().CalibLayoutCode != 52) return 0;
  if (image1 == nullptr || image2 == nullptr) return 17;
  BlockCalib6* o = SetupFromConfig(model, image1->width / 2, image1->height / 2);
  return BlockCalib6_FindAndSolve(o, image1, image2);
}

int32_t BlockCalib6_RunHand(int32_t model, int32_t cameraWidth, int32_t cameraHeight, const float* pointsA1,
                            const float* pointsA2, const float* pointsB1, const float* pointsB2) {
  if (gv().CalibLayoutCode != 52) return 0;
  BlockCalib6* o = SetupFromConfig(model, cameraWidth, cameraHeight);
  return BlockCalib6_SolveHand(o, pointsA1, pointsA2, pointsB1, pointsB2);
}

int32_t BlockCalib6_GetGroupPoints(int32_t group, int32_t slot, float points[2 * kBlockCalib6Points]) {
  const BlockCalib6* o = gv().blockCalib6;
  if (o == nullptr || points == nullptr || group < 0 || group > 1 || slot < 1 || slot > 4) return 0;
  // Group B's front camera is the front camera of the first frame.
  const BlockSet& s = (group == 0 || slot == 1) ? o->frontSet : o->rearSet;
  const int32_t c = slot - 1;
  for (int i = 0; i < kBlockCalib6Points; ++i) {
    const float* p = s.points[2 * c + i / 4][i % 4];
    points[2 * i] = p[1];
    points[2 * i + 1] = p[0];
  }
  return static_cast<int32_t>(s.counts[c]);
}

int32_t BlockCalib6_State(const BlockCalib6* block) { return block != nullptr ? block->state : 0; }

void CalibPose6_FromAngles(const BlockCalib6* block, int32_t frame, int32_t camera, Matrix* out, float angle,
                           float dx, float dy) {
  static const int32_t kGlobal[2][4][2] = {{{0, 1}, {4, 5}, {0, 2}, {1, 3}}, {{0, 1}, {4, 5}, {2, 4}, {3, 5}}};
  if (block == nullptr || out == nullptr || out->data == nullptr || frame < 1 || frame > 2 || camera < 1 ||
      camera > 4 || out->cols < 3 || out->rows < 8)
    return;
  const float c = std::cos(angle), s = std::sin(angle);
  for (int half = 0; half < 2; ++half)
    for (int k = 0; k < 4; ++k) {
      const int32_t i = 4 * kGlobal[frame - 1][camera - 1][half] + k;
      float* row = out->data + static_cast<size_t>(4 * half + k) * out->cols;
      row[0] = c * block->globalX[i] - s * block->globalY[i] + dx;
      row[1] = s * block->globalX[i] + c * block->globalY[i] + dy;
      row[2] = 0.0f;
    }
}

uint32_t BlockCalib6_CopyFoundPoints(const BlockCalib6* block, int32_t firstSet, uint32_t camera, float* points) {
  if (block == nullptr || points == nullptr || camera < 1 || camera > 4) return 0;
  const BlockSet& set = firstSet != 0 ? block->frontSet : block->rearSet;
  const uint32_t c = camera - 1;
  memcpy(points, set.points[2 * c], 16 * sizeof(float));
  return set.counts[c];
}
