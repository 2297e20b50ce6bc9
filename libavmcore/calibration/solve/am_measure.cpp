// Marker-angle measurement: calibration from a still image, and the
// per-frame search, tracking and filtering of the marker pair's angle.
#include "calibration/solve/am_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "calibration/detect/am_marker_outline.h"
#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "camera/camera_model.h"
#include "frame/geometry_utils.h"
#include "frame/log.h"
#include "toolkit/bmp_file.h"
#include "toolkit/matrix.h"
#include "toolkit/matrix_alloc.h"

namespace {

constexpr int32_t kModel = 3;
constexpr int32_t kSlot = 1;
constexpr float kFitEpsilon = 1.1920929e-07f;
constexpr float kAcceptError = 5.5f;
constexpr int32_t kFrameSchedule[3] = {3, 8, 11};

// Shared by every object, as the search schedule of one camera.
int32_t g_scheduleIndex = 0;

void AdvanceSchedule() { g_scheduleIndex = (g_scheduleIndex + 1) % 3; }

// Interior of a quad's bounding box (coordinates truncated), clipped to the
// frame: columns [c0, c1), rows [r0, r1). False when empty.
bool InteriorBox(const float quad[8], int32_t width, int32_t height, int32_t* c0, int32_t* r0, int32_t* c1,
                 int32_t* r1) {
  float minR = quad[0], maxR = quad[0], minC = quad[1], maxC = quad[1];
  for (int k = 1; k < 4; ++k) {
    minR = std::min(minR, quad[2 * k]);
    maxR = std::max(maxR, quad[2 * k]);
    minC = std::min(minC, quad[2 * k + 1]);
    maxC = std::max(maxC, quad[2 * k + 1]);
  }
  // Far outside the frame (or not a number): nothing to cut.
  if (!(minR > -1e6f && maxR < 1e6f && minC > -1e6f && maxC < 1e6f)) return false;
  *r0 = std::max(static_cast<int32_t>(minR) + 1, 0);
  *r1 = std::min(static_cast<int32_t>(maxR) - 1, height);
  *c0 = std::max(static_cast<int32_t>(minC) + 1, 0);
  *c1 = std::min(static_cast<int32_t>(maxC) - 1, width);
  return *c1 > *c0 && *r1 > *r0;
}

void QuadCentre(const float q[8], float c[2]) {
  c[0] = (q[0] + q[2] + q[4] + q[6]) / 4.0f;
  c[1] = (q[1] + q[3] + q[5] + q[7]) / 4.0f;
}

float CornerSumDistance(const float a[8], const float b[8]) {
  float dr = 0.0f, dc = 0.0f;
  for (int k = 0; k < 4; ++k) {
    dr += b[2 * k] - a[2 * k];
    dc += b[2 * k + 1] - a[2 * k + 1];
  }
  return std::sqrt(dr * dr + dc * dc);
}

// Centres of both current quads from the frame; 1 when both were found.
int32_t FindMarkers(AMObject* o, const uint8_t* frame, int32_t stride) {
  const int32_t W = o->model.width, H = o->model.height;
  float* centres[2] = {o->centreA, o->centreB};
  const float* quads[2] = {o->quadA, o->quadB};
  for (int m = 0; m < 2; ++m) {
    int32_t c0, r0, c1, r1;
    if (!InteriorBox(quads[m], W, H, &c0, &r0, &c1, &r1)) return 0;
    const int32_t w = c1 - c0, h = r1 - r0;
    for (int32_t r = 0; r < h; ++r) {
      const uint8_t* src = frame + static_cast<size_t>(r0 + r) * stride + c0;
      float* dst = o->work.data() + static_cast<size_t>(r) * w;
      for (int32_t c = 0; c < w; ++c) dst[c] = 1.0f - src[c] / 255.0f;
    }
    Matrix box{w, h, o->work.data()};
    float pt[2];
    if (!AM_FindMarkerBlobs(&box, pt, 1)) return 0;
    centres[m][0] = r0 + pt[0];
    centres[m][1] = c0 + pt[1];
  }
  return 1;
}

int32_t UpdateAngle(AMObject* o) {
  if (o->failures > 5 && o->tracking == 0) return -1;
  float X[2], Y[2];
  AM_ImageToGround(o->model, o->centreA, o->centreB, X, Y);
  const float raw = std::atan2(Y[1] - Y[0], X[1] - X[0]) - o->model.baseAngle;
  KalmanFilter& kf = o->filter;
  if (kf.corrections == 0) kf.statePost.data[0] = raw;
  KalmanFilter_Predict(&kf, nullptr);
  float mv = raw;
  Matrix meas{1, 1, &mv};
  const Matrix* post = KalmanFilter_Correct(&kf, &meas);
  o->raw = raw;
  o->filtered = post->data[0];
  return 0;
}

void SquareAround(const float c[2], float d, float q[8]) {
  const float h = d / 2.0f;
  const float v[8] = {c[0] - h, c[1] - h, c[0] - h, c[1] + h, c[0] + h, c[1] - h, c[0] + h, c[1] + h};
  memcpy(q, v, sizeof v);
}

// Step 9 of a frame: no measurement this time.
int32_t FrameFailed(AMObject* o) {
  AdvanceSchedule();
  ++o->failures;
  return 2;
}

}  // namespace

void AM_WorldCorners(int32_t a, int32_t b, float world[8][3]) {
  const float A = static_cast<float>(a), hb = static_cast<float>(b) / 2.0f, ha = A / 2.0f;
  const float xy[8][2] = {{-hb - A, -ha}, {-hb, -ha}, {-hb - A, ha}, {-hb, ha},
                          {hb, -ha},      {hb + A, -ha}, {hb, ha},   {hb + A, ha}};
  for (int i = 0; i < 8; ++i) {
    world[i][0] = xy[i][0];
    world[i][1] = xy[i][1];
    world[i][2] = 0.0f;
  }
}

void AM_SortQuadCorners(float quad[8]) {
  static const int32_t kTurn[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {2, 0, 3, 1}, {3, 2, 1, 0}};
  float centre[2];
  QuadCentre(quad, centre);
  int32_t k = 0;
  float best = 1000.0f;
  for (int i = 0; i < 4; ++i) {
    const float ang = std::atan2(quad[2 * i + 1] - centre[1], quad[2 * i] - centre[0]);
    const float diff = std::fabs(AngleDiffWrapped(ang, 3.926991f));
    if (diff < best) {
      best = diff;
      k = i;
    }
  }
  float old[8];
  memcpy(old, quad, sizeof old);
  for (int j = 0; j < 4; ++j) {
    quad[2 * j] = old[2 * kTurn[k][j]];
    quad[2 * j + 1] = old[2 * kTurn[k][j] + 1];
  }
}

void AM_ImageToGround(const AMModel& m, const float centreA[2], const float centreB[2], float X[2], float Y[2]) {
  float img[4] = {centreA[1], centreA[0], centreB[1], centreB[0]};
  float out[6] = {};
  Matrix I{2, 2, img}, O{3, 2, out}, K{3, 3, const_cast<float*>(m.K)}, D{1, 8, const_cast<float*>(m.D)},
      R{1, 3, const_cast<float*>(m.R)}, T{1, 3, const_cast<float*>(m.T)};
  CameraModel_ImageToRay(kModel, &I, &O, &K, &D, &R, &T, kSlot, 0.0f);
  X[0] = out[0];
  Y[0] = out[1];
  X[1] = out[3];
  Y[1] = out[4];
}

int32_t AM_CheckMarkerQuad(const AMObject* o, const float quad[8], float* score) {
  float img[8], out[12] = {};
  for (int k = 0; k < 4; ++k) {
    img[2 * k] = quad[2 * k + 1];
    img[2 * k + 1] = quad[2 * k];
  }
  const AMModel& m = o->model;
  Matrix I{2, 4, img}, O{3, 4, out}, K{3, 3, const_cast<float*>(m.K)}, D{1, 8, const_cast<float*>(m.D)},
      R{1, 3, const_cast<float*>(m.R)}, T{1, 3, const_cast<float*>(m.T)};
  CameraModel_ImageToRay(kModel, &I, &O, &K, &D, &R, &T, kSlot, 0.0f);
  static const int32_t kCycle[5] = {0, 1, 3, 2, 0};
  float shortest = 1e30f, longest = 0.0f;
  for (int i = 0; i < 4; ++i) {
    const float* p = out + 3 * kCycle[i];
    const float* q = out + 3 * kCycle[i + 1];
    const float len = std::hypot(p[0] - q[0], p[1] - q[1]);
    shortest = std::min(shortest, len);
    longest = std::max(longest, len);
  }
  const float a = static_cast<float>(m.a);
  if (!(longest > 0.0f) || !(shortest / longest > 0.6f) || !(longest / a > 0.8f && longest / a < 1.25f)) return 0;
  if (score != nullptr) *score = shortest / longest;
  return 1;
}

void AM_OrderMarkerPair(const AMObject* o, float quadA[8], float quadB[8]) {
  float ca[2], cb[2];
  QuadCentre(quadA, ca);
  QuadCentre(quadB, cb);
  bool aFirst;
  if (std::atan2(std::fabs(ca[0] - cb[0]), std::fabs(ca[1] - cb[1])) < 0.4f) {
    aFirst = ca[1] <= cb[1];
  } else {
    const float ref = (o->model.image[0][1] + o->model.image[5][1]) / 2.0f;
    const float mean = (ca[1] + cb[1]) / 2.0f;
    aFirst = ref > mean ? ca[0] <= cb[0] : ca[0] >= cb[0];
  }
  if (!aFirst) {
    float t[8];
    memcpy(t, quadA, sizeof t);
    memcpy(quadA, quadB, sizeof t);
    memcpy(quadB, t, sizeof t);
  }
}

int32_t AM_ScheduleIndex() { return g_scheduleIndex; }
void AM_SetScheduleIndex(int32_t index) { g_scheduleIndex = ((index % 3) + 3) % 3; }

int32_t AM_Calib(const char* bmpPath, const int32_t* window, uint32_t tag, int32_t a, int32_t b,
                 const char* modelPath) {
  if (bmpPath == nullptr || modelPath == nullptr) return 1;
  MatrixPtr image(Bmp_LoadGrayFloat(bmpPath, 0));
  if (image == nullptr) {
    AvmLog("AM_Calib: cannot read %s \n", bmpPath);
    return 1;
  }
  const int32_t W = image->cols, H = image->rows;
  AMModel m;
  m.width = W;
  m.height = H;
  m.tag = tag;
  m.a = a;
  m.b = b;
  AM_WorldCorners(a, b, m.world);
  int32_t x0 = 10, y0 = 10, x1 = W - 10, y1 = H - 10;
  if (window != nullptr) {
    x0 = window[0];
    y0 = window[1];
    x1 = window[2];
    y1 = window[3];
  }
  // The search window must lie in the image.
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, W);
  y1 = std::min(y1, H);
  if (x1 <= x0 || y1 <= y0) {
    AvmLog("AM_Calib: empty search window \n");
    return 1;
  }
  const int32_t ww = x1 - x0, wh = y1 - y0;
  std::vector<float> buffer(static_cast<size_t>(ww) * wh);
  Matrix win{ww, wh, buffer.data()};
  Matrix_CopyBlock(image.get(), &win, ww, wh, x0, y0, 0, 0);

  Matrix world{3, 8, &m.world[0][0]};
  bool accepted = false;
  for (int32_t k = 0; k < kMarkerScheduleSize && !accepted; ++k) {
    float quads[kMarkerQuadMax * 8];
    const int32_t n = Chessboard_FindMarkerQuads(&win, 1, k, quads, 5.0f, 150.0f, 7.0f, 150.0f);
    if (n < 2) continue;
    for (int32_t q = 0; q < n; ++q) {
      for (int c = 0; c < 4; ++c) {
        quads[8 * q + 2 * c] += y0;
        quads[8 * q + 2 * c + 1] += x0;
      }
      AM_SortQuadCorners(quads + 8 * q);
    }
    for (int32_t i = 0; i < n && !accepted; ++i)
      for (int32_t j = i + 1; j < n && !accepted; ++j) {
        const float* qi = quads + 8 * i;
        const float* qj = quads + 8 * j;
        const float* left = qi[1] <= qj[1] ? qi : qj;
        const float* right = left == qi ? qj : qi;
        float corners[16], img[16];
        memcpy(corners, left, 8 * sizeof(float));
        memcpy(corners + 8, right, 8 * sizeof(float));
        for (int p = 0; p < 8; ++p) {
          img[2 * p] = corners[2 * p + 1];
          img[2 * p + 1] = corners[2 * p];
        }
        float K[9] = {}, D[8] = {}, R[3] = {}, T[3] = {};
        Matrix I{2, 8, img}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
        const float err = CameraModel_Calibrate(W, H, kModel, &world, &I, &Km, &Dm, &Rm, kFitEpsilon, &Tm, 0, 100,
                                                1, kSlot);
        AvmLog("T4C~~~~~~~~ %d %f %f %f %f %f %f %f \n", k, err, D[0], D[1], K[0], K[2], K[5], T[2]);
        if (err < kAcceptError) {
          memcpy(&m.image[0][0], corners, sizeof corners);
          memcpy(m.K, K, sizeof K);
          memcpy(m.D, D, sizeof D);
          memcpy(m.R, R, sizeof R);
          memcpy(m.T, T, sizeof T);
          accepted = true;
        }
      }
  }
  if (!accepted) return 1;

  // Marker centres: the outline at the middle of each marker.
  float centres[2][2];
  bool found = true;
  for (int mk = 0; mk < 2 && found; ++mk) {
    int32_t c0, r0, c1, r1;
    if (!InteriorBox(&m.image[4 * mk][0], W, H, &c0, &r0, &c1, &r1)) {
      found = false;
      break;
    }
    std::vector<float> block(static_cast<size_t>(c1 - c0) * (r1 - r0));
    Matrix box{c1 - c0, r1 - r0, block.data()};
    Matrix_CopyBlock(image.get(), &box, c1 - c0, r1 - r0, c0, r0, 0, 0);
    float pt[2];
    found = AM_FindMarkerBlobs(&box, pt, 0);
    centres[mk][0] = r0 + pt[0];
    centres[mk][1] = c0 + pt[1];
  }
  m.baseAngle = 0.0f;
  if (found) {
    float X[2], Y[2];
    AM_ImageToGround(m, centres[0], centres[1], X, Y);
    m.baseAngle = std::atan2(Y[1] - Y[0], X[1] - X[0]);
  }
  const float(*c)[2] = m.image;
  m.d = std::hypot(c[0][0] - c[1][0], c[0][1] - c[1][1]);
  float sum[2][2] = {};
  for (int p = 0; p < 4; ++p)
    for (int k = 0; k < 2; ++k) {
      sum[0][k] += c[p][k];
      sum[1][k] += c[4 + p][k];
    }
  m.s = std::hypot(sum[1][0] - sum[0][0], sum[1][1] - sum[0][1]);
  const float d = m.d;
  m.window[0] = std::max(static_cast<int32_t>(c[0][1] - 8.0f * d), 10);
  m.window[1] = std::max(static_cast<int32_t>(std::min(c[1][0], c[4][0]) - 5.0f * d), 10);
  m.window[2] = static_cast<int32_t>(c[5][1] + 8.0f * d);
  if (m.window[2] >= W - 9) m.window[2] = W - 10;
  m.window[3] = static_cast<int32_t>(std::max(c[3][0], c[6][0]) + 0.4f * d);
  if (m.window[3] >= H - 9) m.window[3] = H - 10;
  return AM_SaveModelFile(m, modelPath) ? 0 : 1;
}

AMObject* AM_InitOB(const char* modelPath) {
  std::unique_ptr<AMObject> o(new AMObject);
  if (AM_LoadModelFile(&o->model, modelPath) == 0) return nullptr;
  o->filtered = o->raw = 0.0f;
  o->work.assign(static_cast<size_t>(o->model.width) * o->model.height, 0.0f);
  KalmanFilter& kf = o->filter;
  KalmanFilter_Init(&kf, 2, 1, 0);
  const float A[4] = {1, 1, 0, 1};
  memcpy(kf.transitionMatrix.data, A, sizeof A);
  Matrix_Transpose(&kf.transitionMatrix, &kf.transitionMatrixT);
  kf.measurementMatrix.data[0] = 1.0f;
  kf.measurementMatrix.data[1] = 0.0f;
  Matrix_Transpose(&kf.measurementMatrix, &kf.measurementMatrixT);
  Matrix_SetDiagonal(&kf.processNoiseCov, 1e-5f);
  Matrix_SetDiagonal(&kf.measurementNoiseCov, 0.1f);
  Matrix_SetDiagonal(&kf.errorCovPost, 1.0f);
  return o.release();
}

int32_t AM_InputVideo(AMObject* o, const void* /*unused*/, const uint8_t* luma, int32_t stride) {
  if (o == nullptr || luma == nullptr || stride < o->model.width) return 2;
  if (o->tracking != 0) {
    if (FindMarkers(o, luma, stride) != 0) {
      SquareAround(o->centreA, o->model.d, o->quadA);
      SquareAround(o->centreB, o->model.d, o->quadB);
      o->tracking = 1;
      o->failures = 0;
      UpdateAngle(o);
      return 0;
    }
    AvmLog("CornerGeted == FALSE ");
    o->tracking = 0;
  }
  const int32_t x0 = o->model.window[0], y0 = o->model.window[1];
  const int32_t w = o->model.window[2] - x0, h = o->model.window[3] - y0;
  if (w < 1 || h < 1) return FrameFailed(o);
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* src = luma + static_cast<size_t>(y0 + r) * stride + x0;
    float* dst = o->work.data() + static_cast<size_t>(r) * w;
    for (int32_t c = 0; c < w; ++c) dst[c] = src[c] / 255.0f;
  }
  Matrix win{w, h, o->work.data()};
  float quads[kMarkerQuadMax * 8];
  const int32_t n = Chessboard_FindMarkerQuadsAM(&win, 1, kFrameSchedule[g_scheduleIndex], quads, 5.0f, 150.0f,
                                                 7.0f, 150.0f);
  for (int32_t q = 0; q < n; ++q)
    for (int k = 0; k < 4; ++k) {
      quads[8 * q + 2 * k] += y0;
      quads[8 * q + 2 * k + 1] += x0;
    }
  if (n < 2) {
    AvmLog("CornerGeted FindCnt<2 ");
    AdvanceSchedule();
    return FrameFailed(o);
  }
  int32_t best = -1, second = -1, valid = 0;
  float bestScore = 0.0f, secondScore = 0.0f;
  for (int32_t q = 0; q < n; ++q) {
    float score;
    if (AM_CheckMarkerQuad(o, quads + 8 * q, &score) == 0) continue;
    ++valid;
    if (best < 0 || score > bestScore) {
      second = best;
      secondScore = bestScore;
      best = q;
      bestScore = score;
    } else if (second < 0 || score > secondScore) {
      second = q;
      secondScore = score;
    }
  }
  if (valid < 2) {
    AvmLog("CornerGeted ValidCnt==%d \n", valid);
    AdvanceSchedule();
    return FrameFailed(o);
  }
  memcpy(o->quadA, quads + 8 * best, sizeof o->quadA);
  memcpy(o->quadB, quads + 8 * second, sizeof o->quadB);
  AM_OrderMarkerPair(o, o->quadA, o->quadB);
  if (CornerSumDistance(o->quadA, o->quadB) > 1.3f * o->model.s) return FrameFailed(o);
  if (FindMarkers(o, luma, stride) == 0) return FrameFailed(o);
  o->tracking = 1;
  o->failures = 0;
  UpdateAngle(o);
  return 0;
}

int32_t AM_GetAngle(const AMObject* o, float* filtered, float* raw) {
  if (o == nullptr || o->failures > 5) return -1;
  if (filtered != nullptr) *filtered = o->filtered;
  if (raw != nullptr) *raw = o->raw;
  return 0;
}

int32_t AM_Release(AMObject* o) {
  if (o == nullptr) return 0;
  KalmanFilter_Free(&o->filter);
  delete o;
  return 0;
}
