// Corner tracker: parameter file, calibration, per-frame pose and height.
#include "calibration/solve/corner_tracker.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "calibration/detect/corner_resample.h"
#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "calibration/solve/am_measure.h"
#include "camera/camera_model.h"
#include "frame/log.h"
#include "toolkit/bmp_file.h"
#include "toolkit/frame_statistics.h"

namespace {

constexpr int32_t kModel = 3, kSlot = 1;
constexpr int32_t kSmallW = 640, kSmallH = 360;
constexpr float kFitEpsilon = 1.1920929e-07f;
constexpr float kAcceptError = 11.5f;
constexpr int32_t kFrameSchedule[3] = {3, 8, 11};
int32_t g_trackerSchedule = 0;

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutF32(std::vector<uint8_t>* out, const float* v, int n) {
  for (int i = 0; i < n; ++i) {
    uint32_t u;
    memcpy(&u, &v[i], 4);
    PutU32(out, u);
  }
}
uint32_t GetU32(const uint8_t* p, size_t* at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[(*at)++]) << (8 * i);
  return v;
}
void GetF32(const uint8_t* p, size_t* at, float* v, int n) {
  for (int i = 0; i < n; ++i) {
    const uint32_t u = GetU32(p, at);
    memcpy(&v[i], &u, 4);
  }
}

// Left marker first (smaller column of corner 0), both in grid order.
void OrderPair(float q0[8], float q1[8]) {
  AM_SortQuadCorners(q0);
  AM_SortQuadCorners(q1);
  if (q0[1] > q1[1]) {
    float t[8];
    memcpy(t, q0, sizeof t);
    memcpy(q0, q1, sizeof t);
    memcpy(q1, t, sizeof t);
  }
}

float Fit(CornerTracker* o, const float left[8], const float right[8], float* K, float* D, float* R, float* T,
          int32_t mode) {
  float img[16];
  for (int k = 0; k < 4; ++k) {
    img[2 * k] = left[2 * k + 1];
    img[2 * k + 1] = left[2 * k];
    img[8 + 2 * k] = right[2 * k + 1];
    img[8 + 2 * k + 1] = right[2 * k];
  }
  Matrix W{3, 8, &o->world[0][0]}, I{2, 8, img}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
  return CameraModel_Calibrate(kSmallW, kSmallH, kModel, &W, &I, &Km, &Dm, &Rm, kFitEpsilon, &Tm, mode, 100, 1,
                               kSlot);
}

// Pose from the ordered pair; 1 keeps the new pose and quads.
int32_t SolvePose(CornerTracker* o, const float left[8], const float right[8]) {
  float K[9], D[8], R[3], T[3];
  memcpy(K, o->K, sizeof K);
  memcpy(D, o->D, sizeof D);
  float err;
  if (o->tracking == 0) {
    memcpy(R, o->R, sizeof R);
    memcpy(T, o->T, sizeof T);
    err = Fit(o, left, right, K, D, R, T, 3);
    AvmLog("T4A~~~~~~~~ %f %f %f %f %f %f %f \n", err, D[0], D[1], K[0], K[2], K[5], T[2]);
    if (!(err < kAcceptError)) return 0;
    // The first fit frees the lens, which two small markers hold poorly (it
    // trades focal length for depth): the pose is refitted with the
    // calibrated lens, as while tracking, from its translation.
    memcpy(K, o->K, sizeof K);
    memcpy(D, o->D, sizeof D);
    memcpy(R, o->R, sizeof R);
    err = Fit(o, left, right, K, D, R, T, 9);
  } else {
    memcpy(R, o->R, sizeof R);
    memcpy(T, o->t, sizeof T);
    err = Fit(o, left, right, K, D, R, T, 9);
    AvmLog("T4B~~~~~~~~ %f %f %f %f %f %f %f \n", err, D[0], D[1], K[0], K[2], K[5], T[2]);
  }
  if (!(err < kAcceptError)) return 0;
  memcpy(o->r, R, sizeof R);
  memcpy(o->t, T, sizeof T);
  memcpy(o->quads[0], left, 8 * sizeof(float));
  memcpy(o->quads[1], right, 8 * sizeof(float));
  return 1;
}

// Follows one quad inside its box with a 30-pixel margin.
bool FollowQuad(const Matrix& img, const float quad[8], float out[8]) {
  float minR = quad[0], maxR = quad[0], minC = quad[1], maxC = quad[1];
  for (int k = 1; k < 4; ++k) {
    minR = std::min(minR, quad[2 * k]);
    maxR = std::max(maxR, quad[2 * k]);
    minC = std::min(minC, quad[2 * k + 1]);
    maxC = std::max(maxC, quad[2 * k + 1]);
  }
  const int32_t r0 = std::max(static_cast<int32_t>(minR) - 30, 0), r1 = std::min(static_cast<int32_t>(maxR) + 30, img.rows);
  const int32_t c0 = std::max(static_cast<int32_t>(minC) - 30, 0), c1 = std::min(static_cast<int32_t>(maxC) + 30, img.cols);
  if (r1 - r0 < 2 || c1 - c0 < 2) return false;
  std::vector<float> box(static_cast<size_t>(r1 - r0) * (c1 - c0));
  for (int32_t r = r0; r < r1; ++r)
    std::copy(img.data + static_cast<size_t>(r) * img.cols + c0, img.data + static_cast<size_t>(r) * img.cols + c1,
              box.begin() + static_cast<size_t>(r - r0) * (c1 - c0));
  Matrix bm{c1 - c0, r1 - r0, box.data()};
  std::vector<float> quads(static_cast<size_t>(kQuadSearchMax) * 8);
  const int32_t n = Chessboard_FindQuads(&bm, 1, 7, 0, quads.data(), 1, 0, 3.0f, 1000.0f, 10.0f, 1000.0f, 0.0f);
  for (int32_t q = 0; q < n; ++q) {
    // The window's own outline comes back as a quad: a marker lies inside,
    // clear of the edges by the margin.
    bool inside = true;
    for (int k = 0; k < 4; ++k) {
      const float r = quads[8 * q + 2 * k], c = quads[8 * q + 2 * k + 1];
      inside = inside && r >= 2.0f && c >= 2.0f && r <= bm.rows - 3.0f && c <= bm.cols - 3.0f;
    }
    float minSide = 0, maxSide = 0;
    Quad_Measure(&quads[8 * q], &minSide, &maxSide, nullptr, nullptr, nullptr);
    if (!inside) continue;
    if (!(maxSide > 0.0f) || minSide / maxSide < 0.9f) continue;
    for (int k = 0; k < 4; ++k) {
      out[2 * k] = quads[8 * q + 2 * k] + r0;
      out[2 * k + 1] = quads[8 * q + 2 * k + 1] + c0;
    }
    AM_SortQuadCorners(out);
    return true;
  }
  return false;
}

void Ground(const CornerTracker* o, int32_t n, const float* xs, const float* ys, float* X, float* Y) {
  std::vector<float> img(2 * static_cast<size_t>(n)), out(3 * static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    img[2 * i] = xs[i];
    img[2 * i + 1] = ys[i];
  }
  const float offset = o->refDepth != 0.0f ? (o->h / o->refDepth) * (o->h - o->m) : 0.0f;
  Matrix I{2, n, img.data()}, O{3, n, out.data()}, K{3, 3, const_cast<float*>(o->K)},
      D{1, 8, const_cast<float*>(o->D)}, R{1, 3, const_cast<float*>(o->r)}, T{1, 3, const_cast<float*>(o->t)};
  CameraModel_ImageToRay(kModel, &I, &O, &K, &D, &R, &T, kSlot, offset);
  for (int32_t i = 0; i < n; ++i) {
    X[i] = out[3 * i];
    Y[i] = out[3 * i + 1];
  }
}

}  // namespace

bool CornerTracker_Save(const CornerTracker& o, const char* path) {
  if (path == nullptr) return false;
  std::vector<uint8_t> b;
  PutU32(&b, kCornerTrackerMagic);
  PutU32(&b, static_cast<uint32_t>(o.width));
  PutU32(&b, static_cast<uint32_t>(o.height));
  PutU32(&b, o.tag);
  PutU32(&b, static_cast<uint32_t>(o.a));
  PutU32(&b, static_cast<uint32_t>(o.b));
  PutF32(&b, &o.h, 1);
  PutF32(&b, &o.image[0][0], 16);
  PutF32(&b, &o.world[0][0], 24);
  PutF32(&b, o.K, 9);
  PutF32(&b, o.D, 8);
  PutF32(&b, o.R, 3);
  PutF32(&b, o.T, 3);
  const std::string tmp = std::string(path) + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (ok) ok = rename(tmp.c_str(), path) == 0;
  if (!ok) remove(tmp.c_str());
  return ok;
}

int32_t CornerTracker_Load(CornerTracker* o, const char* path) {
  if (o == nullptr || path == nullptr) return 0;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  uint8_t p[kCornerTrackerFileSize + 1];
  const size_t n = fread(p, 1, sizeof p, f);
  fclose(f);
  if (n != static_cast<size_t>(kCornerTrackerFileSize)) return 0;
  size_t at = 0;
  if (GetU32(p, &at) != kCornerTrackerMagic) return 0;
  const int32_t width = static_cast<int32_t>(GetU32(p, &at)), height = static_cast<int32_t>(GetU32(p, &at));
  if (width < 1 || height < 1 || width > kAMModelMaxSide || height > kAMModelMaxSide) return 0;
  o->width = width;
  o->height = height;
  o->tag = GetU32(p, &at);
  o->a = static_cast<int32_t>(GetU32(p, &at));
  o->b = static_cast<int32_t>(GetU32(p, &at));
  GetF32(p, &at, &o->h, 1);
  GetF32(p, &at, &o->image[0][0], 16);
  GetF32(p, &at, &o->world[0][0], 24);
  GetF32(p, &at, o->K, 9);
  GetF32(p, &at, o->D, 8);
  GetF32(p, &at, o->R, 3);
  GetF32(p, &at, o->T, 3);
  return 1;
}

CornerTracker* CornerTracker_Create(const char* path) {
  std::unique_ptr<CornerTracker> o(new CornerTracker);
  if (CornerTracker_Load(o.get(), path) == 0) return nullptr;
  o->m = 0.0f;
  o->valid = 0;
  o->failures = 1000;
  o->refDepth = o->T[2];
  memcpy(o->r, o->R, sizeof o->r);
  memcpy(o->t, o->T, sizeof o->t);
  const size_t n = static_cast<size_t>(o->width) * o->height;
  o->frame.assign(n, 0.0f);
  o->small.assign(std::max(n, static_cast<size_t>(kSmallW) * kSmallH), 0.0f);
  return o.release();
}

int32_t CornerTracker_Release(CornerTracker* o) {
  delete o;
  return 0;
}

int32_t CornerTracker_Calibrate(const char* bmpPath, uint32_t tag, int32_t a, int32_t b, const char* path) {
  if (bmpPath == nullptr || path == nullptr) return 1;
  MatrixPtr image(Bmp_LoadGrayFloat(bmpPath, 0));
  if (image == nullptr) return 1;
  float sx = 1.0f, sy = 1.0f;
  MatrixPtr small(ResampleToSize(image.get(), kSmallW, kSmallH, &sx, &sy));
  if (small == nullptr) return 1;
  CornerTracker o;
  o.width = image->cols;
  o.height = image->rows;
  o.tag = tag;
  o.a = a;
  o.b = b;
  AM_WorldCorners(a, b, o.world);
  for (int32_t k = 0; k < kMarkerScheduleSize; ++k) {
    float quads[kMarkerQuadMax * 8];
    const int32_t n = Chessboard_FindMarkerQuads(small.get(), 1, k, quads, 5.0f, 1000.0f, 10.0f, 1000.0f);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = i + 1; j < n; ++j) {
        float left[8], right[8];
        memcpy(left, quads + 8 * i, sizeof left);
        memcpy(right, quads + 8 * j, sizeof right);
        OrderPair(left, right);
        float K[9] = {}, D[8] = {}, R[3] = {}, T[3] = {};
        const float err = Fit(&o, left, right, K, D, R, T, 0);
        AvmLog("T4C~~~~~~~~ %d %f %f %f %f %f %f %f \n", k, err, D[0], D[1], K[0], K[2], K[5], T[2]);
        if (!(err < kAcceptError)) continue;
        memcpy(&o.image[0][0], left, sizeof left);
        memcpy(&o.image[4][0], right, sizeof right);
        memcpy(o.K, K, sizeof K);
        memcpy(o.D, D, sizeof D);
        memcpy(o.R, R, sizeof R);
        memcpy(o.T, T, sizeof T);
        o.h = T[2];
        return CornerTracker_Save(o, path) ? 0 : 1;
      }
  }
  return 1;
}

int32_t CornerTracker_Step(CornerTracker* o, const uint8_t* luma, int32_t stride) {
  if (o == nullptr || luma == nullptr || stride < o->width) return 2;
  for (int32_t y = 0; y < o->height; ++y)
    for (int32_t x = 0; x < o->width; ++x)
      o->frame[static_cast<size_t>(y) * o->width + x] = luma[static_cast<size_t>(y) * stride + x] / 255.0f;
  Matrix full{o->width, o->height, o->frame.data()};
  Matrix img{kSmallW, kSmallH, o->small.data()};
  float sx, sy;
  ResampleToSizeInto(&full, &img, &sx, &sy);
  if (o->width <= kSmallW && o->height <= kSmallH) img = Matrix{o->width, o->height, o->small.data()};
  bool solved = false;
  if (o->tracking != 0) {
    float left[8], right[8];
    if (FollowQuad(img, o->quads[0], left) && FollowQuad(img, o->quads[1], right) && SolvePose(o, left, right) != 0)
      solved = true;
    if (!solved) {
      AvmLog("CornerGeted == FALSE ");
      o->tracking = 0;
    }
  }
  if (!solved) {
    float quads[kMarkerQuadMax * 8];
    const int32_t n = Chessboard_FindMarkerQuads(&img, 1, kFrameSchedule[g_trackerSchedule], quads, 5.0f, 1000.0f,
                                                 10.0f, 1000.0f);
    // A frame without the pair counts as failed, so that the result goes
    // stale (-1) after more than five of them instead of lasting forever.
    if (n < 2) {
      ++o->failures;
      return 1;
    }
    float left[8], right[8];
    memcpy(left, quads, sizeof left);
    memcpy(right, quads + 8, sizeof right);
    OrderPair(left, right);
    solved = SolvePose(o, left, right) != 0;
  }
  if (solved) {
    o->tracking = 1;
    o->failures = 0;
    if (o->refDepth != 0.0f) o->m = (o->t[2] / o->refDepth) * o->h;
    return 0;
  }
  ++o->failures;
  g_trackerSchedule = (g_trackerSchedule + 1) % 3;
  return 2;
}

int32_t CornerTracker_GetResult(const CornerTracker* o, float* m, float* x, float* y, float* angle) {
  if (o == nullptr || (o->failures > 5 && o->tracking == 0) || o->m == 0.0f) return -1;
  float cx[2], cy[2];
  for (int q = 0; q < 2; ++q) {
    cy[q] = (o->quads[q][0] + o->quads[q][2] + o->quads[q][4] + o->quads[q][6]) / 4.0f;
    cx[q] = (o->quads[q][1] + o->quads[q][3] + o->quads[q][5] + o->quads[q][7]) / 4.0f;
  }
  float X[2], Y[2];
  Ground(o, 2, cx, cy, X, Y);
  if (m != nullptr) *m = o->m;
  if (x != nullptr) *x = (X[0] + X[1]) / 2.0f;
  if (y != nullptr) *y = (Y[0] + Y[1]) / 2.0f;
  if (angle != nullptr) *angle = std::atan2(Y[1] - Y[0], X[1] - X[0]);
  return 0;
}

int32_t CornerTracker_ImageToGround(const CornerTracker* o, int32_t n, const float* xs, const float* ys, float* X,
                                    float* Y) {
  if (o == nullptr || o->m == 0.0f || n < 1 || xs == nullptr || ys == nullptr || X == nullptr || Y == nullptr)
    return -1;
  Ground(o, n, xs, ys, X, Y);
  return 0;
}

int32_t CornerTracker_GroundToImage(const CornerTracker* o, int32_t n, const float* X, const float* Y, float* xs,
                                    float* ys) {
  if (o == nullptr || o->m == 0.0f || n < 1 || X == nullptr || Y == nullptr || xs == nullptr || ys == nullptr)
    return -1;
  const float offset = o->refDepth != 0.0f ? (o->h / o->refDepth) * (o->h - o->m) : 0.0f;
  std::vector<float> w(3 * static_cast<size_t>(n)), img(2 * static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    w[3 * i] = X[i];
    w[3 * i + 1] = Y[i];
    w[3 * i + 2] = -offset;
  }
  Matrix W{3, n, w.data()}, I{2, n, img.data()}, K{3, 3, const_cast<float*>(o->K)},
      D{1, 8, const_cast<float*>(o->D)}, R{1, 3, const_cast<float*>(o->r)}, T{1, 3, const_cast<float*>(o->t)};
  CameraModel_ProjectPoints(kModel, &W, &R, &T, &K, &D, &I, nullptr, nullptr, nullptr, nullptr, nullptr, kSlot);
  for (int32_t i = 0; i < n; ++i) {
    xs[i] = img[2 * i];
    ys[i] = img[2 * i + 1];
  }
  return 0;
}

void CornerTracker_DistanceFilter(CornerTracker* o, float first, float second) {
  if (o == nullptr) return;
  const bool firstOk = first >= 10.0f, secondOk = second >= 10.0f;
  // A reading below 10 is no reading: with one or two of them nothing is
  // measured.
  if (!firstOk || !secondOk || std::fabs(first - second) > 250.0f) {
    o->valid = 0;
    return;
  }
  if (o->tracking != 0) {
    o->valid = 0;
    return;
  }
  o->m = std::max(first, second);
  o->valid = 1;
}
