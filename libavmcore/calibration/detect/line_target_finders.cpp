#include "calibration/detect/line_target_finders.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pose_solve_services.h"
#include "camera/camera_model.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "toolkit/border_filters.h"
#include "toolkit/edges.h"
#include "toolkit/hough.h"
#include "toolkit/sampling.h"
#include "toolkit/thresholds.h"

namespace {

constexpr int32_t kLinePoints = kLineTargetPoints / 2;
constexpr int32_t kPairSlots = 8;

struct LineLevel {
  float scale;  // mm per view pixel
  float edgeLow, edgeHigh;
  float offset;  // adaptive-threshold offset
};

// The ground region of a top view and what its lines are looked for with.
struct ViewSpec {
  float x0, y0;          // origin, mm
  int32_t extentX, extentY;  // mm
  int32_t voteDivisor;   // Hough votes: rows / voteDivisor
  int32_t maxSegments;
  bool binariseSmoothed;
};

struct TopView {
  int32_t cols = 0, rows = 0;
  float scale = 0.0f;
  std::vector<float> binary;
  std::vector<GroundLineRec> lines;
};

bool CameraValid(const CameraParamBlock* block, const Matrix* image, int32_t camera) {
  return block != nullptr && image != nullptr && image->data != nullptr && image->cols > 0 && image->rows > 0 &&
         camera >= 1 && camera <= 4;
}

// The remap maps of a top view depend only on the region, the scale and the
// camera's model and pose; building them (projecting a quarter of the view's
// ground points) is the bulk of a level's work, so they are kept while the
// pose stays the same. Finders of different cameras share the cache.
struct MapKey {
  int32_t camera, cols, rows, x0, y0, width, height, model, slot;
  float scale;
  float k[9], d[8], r[3], t[3];
};

struct GroundMaps {
  MapKey key;
  std::vector<float> u, v;
};

// Copies a parameter header's values into dst (count floats); false when the
// header holds fewer.
bool TakeValues(const Matrix& m, float* dst, int32_t count) {
  if (m.data == nullptr || m.cols < 0 || m.rows < 0 || static_cast<int64_t>(m.cols) * m.rows < count) return false;
  std::memcpy(dst, m.data, sizeof(float) * static_cast<size_t>(count));
  return true;
}

std::shared_ptr<const GroundMaps> TopViewMaps(const CameraParamBlock* block, const Matrix* image, int32_t camera,
                                              const ViewSpec& spec, float scale, int32_t cols, int32_t rows) {
  constexpr size_t kCacheEntries = 8;  // about 1 MB each: the usual level of each camera, and spares
  static std::mutex mutex;
  static std::vector<std::shared_ptr<const GroundMaps>> cache;
  const int32_t c = camera - 1;
  const CameraParamHeaders& h = block->headers;
  auto maps = std::make_shared<GroundMaps>();
  MapKey& key = maps->key;
  std::memset(&key, 0, sizeof key);  // compared bytewise
  key.camera = camera;
  key.cols = cols;
  key.rows = rows;
  key.x0 = static_cast<int32_t>(spec.x0);
  key.y0 = static_cast<int32_t>(spec.y0);
  key.width = image->cols;
  key.height = image->rows;
  key.model = static_cast<int32_t>(block->model[c]);
  key.slot = static_cast<int32_t>(block->lensSlot[c]);
  key.scale = scale;
  if (!TakeValues(h.K[c], key.k, 9) || !TakeValues(h.D[c], key.d, 8) || !TakeValues(h.R[c], key.r, 3) ||
      !TakeValues(h.T[c], key.t, 3))
    return nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& e : cache)
      if (std::memcmp(&e->key, &key, sizeof key) == 0) return e;
  }
  const size_t n = static_cast<size_t>(cols) * rows;
  maps->u.resize(n);
  maps->v.resize(n);
  Matrix U{cols, rows, maps->u.data()}, V{cols, rows, maps->v.data()};
  Calib_MatchTargetPoints(image->cols, image->rows, cols, rows, key.x0, key.y0, &h.R[c], &h.T[c], &h.K[c], &h.D[c],
                          &U, &V, key.model, key.slot, scale, scale);
  std::lock_guard<std::mutex> lock(mutex);
  // A new pose replaces the camera's maps of the same level.
  for (auto& e : cache)
    if (e->key.camera == camera && e->key.scale == scale && e->key.x0 == key.x0 && e->key.y0 == key.y0) {
      e = maps;
      return maps;
    }
  if (cache.size() >= kCacheEntries) cache.erase(cache.begin());
  cache.push_back(maps);
  return maps;
}

// Top view of one level, its binarised copy and its near-vertical lines.
void BuildTopView(const CameraParamBlock* block, const Matrix* image, int32_t camera, const ViewSpec& spec,
                  const LineLevel& level, TopView* out) {
  const int32_t s = static_cast<int32_t>(level.scale);
  out->scale = level.scale;
  out->cols = spec.extentX / s;
  out->rows = spec.extentY / s;
  out->lines.clear();
  const int32_t cols = out->cols, rows = out->rows;
  const size_t n = static_cast<size_t>(cols) * rows;
  const std::shared_ptr<const GroundMaps> maps = TopViewMaps(block, image, camera, spec, level.scale, cols, rows);
  if (!maps) return;
  Matrix U{cols, rows, const_cast<float*>(maps->u.data())}, V{cols, rows, const_cast<float*>(maps->v.data())};
  std::vector<float> view(n), smooth(n);
  Matrix viewM{cols, rows, view.data()}, smoothM{cols, rows, smooth.data()};
  Image_RemapBilinear(image, &U, &V, &viewM, 0, 0);
  Image_BoxMean(&viewM, &smoothM, 1, 3);
  std::vector<uint8_t> edges(n);
  ImageU8 edgeImg{cols, rows, edges.data()};
  std::vector<float> work(Image_DetectEdgesWorkFloats(cols, rows));
  Image_DetectEdges(&smoothM, work.data(), &edgeImg, level.edgeLow, level.edgeHigh);
  out->binary = spec.binariseSmoothed ? smooth : view;
  Matrix bin{cols, rows, out->binary.data()};
  Image_AdaptiveThreshold(&bin, 21, level.offset);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t k = 0; k < cols; ++k)
      if (r < 4 || r >= rows - 4 || k < 4 || k >= cols - 4) edges[static_cast<size_t>(r) * cols + k] = 0;

  Hough hough{};
  // Angles of lines running down the view (along world y), a quarter degree apart.
  if (Hough_Create(&hough, cols, rows, 80, rows / spec.voteDivisor, rows, 0.5f, 0.0043633231f, 1.3984451f) == 0)
    return;
  Hough_CollectPointsU8(&hough, &edgeImg);
  std::vector<HoughSegment> segs(static_cast<size_t>(spec.maxSegments));
  int32_t count = spec.maxSegments;
  Hough_Detect(&hough, segs.data(), &count);
  Hough_Destroy(&hough);
  for (int32_t i = 0; i < count; ++i) {
    const HoughSegment& g = segs[static_cast<size_t>(i)];
    if (g.row1 == g.row0) continue;  // not a line along the view
    GroundLineRec l{};
    l.row1 = static_cast<float>(g.row0);
    l.col1 = static_cast<float>(g.col0);
    l.row2 = static_cast<float>(g.row1);
    l.col2 = static_cast<float>(g.col1);
    l.slope = (l.col2 - l.col1) / (l.row2 - l.row1);
    l.intercept = l.col1 - l.slope * l.row1;
    out->lines.push_back(l);
  }
}

// 54 ground points (x, y, 0) through the camera into (row, column) pairs.
void ProjectGround(const CameraParamBlock* block, int32_t camera, const float* world, float* points) {
  const int32_t c = camera - 1;
  std::vector<float> obj(world, world + 3 * kLineTargetPoints), img(2 * kLineTargetPoints);
  Matrix objM{3, kLineTargetPoints, obj.data()}, imgM{2, kLineTargetPoints, img.data()};
  CameraModel_ProjectPoints(static_cast<int32_t>(block->model[c]), &objM, &block->headers.R[c], &block->headers.T[c],
                            &block->headers.K[c], &block->headers.D[c], &imgM, nullptr, nullptr, nullptr, nullptr,
                            nullptr, static_cast<int32_t>(block->lensSlot[c]));
  for (int32_t i = 0; i < kLineTargetPoints; ++i) {
    points[2 * i] = img[2 * i + 1];
    points[2 * i + 1] = img[2 * i];
  }
}

}  // namespace

int32_t SelectLinePair(float sign, float maxGap, float minGap, const GroundLineRec* lines, int32_t count,
                       GroundLineRec* first, GroundLineRec* second, const Matrix* binary) {
  GroundLineRec slots[kPairSlots] = {};
  for (GroundLineRec& s : slots) s.key = -100000.0f * sign;
  int32_t eligible = 0;
  for (int32_t i = 0; lines != nullptr && i < count; ++i) {
    const GroundLineRec& l = lines[i];
    if (l.excluded != 0) continue;
    ++eligible;
    for (int32_t k = 0; k < kPairSlots; ++k)
      if (sign * l.key > sign * slots[k].key) {
        std::copy_backward(slots + k, slots + kPairSlots - 1, slots + kPairSlots);
        slots[k] = l;
        break;
      }
  }
  const int32_t usable = std::min(eligible, kPairSlots - 1);
  const bool viewUsable = binary != nullptr && binary->data != nullptr && binary->cols > 0 && binary->rows > 0;
  for (int32_t i = 0; viewUsable && i + 1 < usable; ++i) {
    const GroundLineRec& a = slots[i];
    const GroundLineRec& b = slots[i + 1];
    const float gap = std::fabs(b.key - a.key);
    if (gap < minGap || gap > maxGap) continue;
    int32_t set = 0;
    for (int32_t r = 0; r < binary->rows; ++r) {
      const float fr = static_cast<float>(r);
      const float sum = a.intercept + fr * a.slope + b.intercept + fr * b.slope;
      // Far outside the view the truncation would overflow: such rows do not count either.
      if (!(sum > -2.0f) || sum >= 2.0f * static_cast<float>(binary->cols)) continue;
      const int32_t col = static_cast<int32_t>(sum) / 2;
      if (col < 0 || col >= binary->cols) continue;
      if (binary->data[static_cast<size_t>(r) * binary->cols + col] > 0.5f) ++set;
    }
    if (set > binary->rows / 2) {
      if (first != nullptr) *first = a;
      if (second != nullptr) *second = b;
      return 1;
    }
  }
  if (first != nullptr) *first = slots[0];
  if (second != nullptr) *second = slots[1];
  return 0;
}

int32_t CalibFind_Layout51LR(const CameraParamBlock* block, const Matrix* image, int32_t camera, float* points,
                             float* worldPoints, float stripeWidth, float xFirst, float xSecond) {
  if (!CameraValid(block, image, camera) || (camera != 3 && camera != 4) || points == nullptr ||
      worldPoints == nullptr)
    return 0;
  static const LineLevel kLevels[4] = {
      {8, 40, 80, 0.04f}, {8, 30, 60, 0.04f}, {12, 40, 80, 0.04f}, {12, 30, 60, 0.04f}};
  const float halfWidth = block->carWidth / 2.0f;
  ViewSpec spec{camera == 3 ? -1920.0f - halfWidth : halfWidth, -2600.0f, 1920, 4800, 5, 10, true};
  const float sign = camera == 3 ? 1.0f : -1.0f;
  TopView view;
  for (const LineLevel& level : kLevels) {
    BuildTopView(block, image, camera, spec, level, &view);
    if (view.lines.size() < 2) continue;
    for (GroundLineRec& l : view.lines) l.key = l.intercept + l.slope * static_cast<float>(view.rows / 2);
    const float gap = stripeWidth / level.scale;
    GroundLineRec pair[2];
    Matrix bin{view.cols, view.rows, view.binary.data()};
    if (SelectLinePair(sign, gap * 1.4f, gap / 1.5f, view.lines.data(), static_cast<int32_t>(view.lines.size()),
                       &pair[0], &pair[1], &bin) == 0)
      continue;
    for (int32_t line = 0; line < 2; ++line) {
      const GroundLineRec& l = pair[line];
      const float xe = spec.x0 + l.col1 * level.scale, ye = spec.y0 + l.row1 * level.scale;
      const float xa = xe + l.slope * (-5000.0f - ye), xb = xe + l.slope * (5000.0f - ye);
      for (int32_t k = 0; k < kLinePoints; ++k) {
        float* w = worldPoints + 3 * (line * kLinePoints + k);
        w[0] = xa + static_cast<float>(k) * (xb - xa) / kLinePoints;
        w[1] = -5000.0f + static_cast<float>(k) * 10000.0f / kLinePoints;
        w[2] = 0.0f;
      }
    }
    ProjectGround(block, camera, worldPoints, points);
    for (int32_t k = 0; k < kLineTargetPoints; ++k) worldPoints[3 * k] = k < kLinePoints ? xFirst : xSecond;
    return 1;
  }
  return 0;
}

int32_t CalibFind_Layout51FB(const CameraParamBlock* block, const Matrix* image, int32_t camera, float* points,
                             float stripeWidth) {
  if (!CameraValid(block, image, camera) || (camera != 1 && camera != 2) || points == nullptr) return 0;
  static const LineLevel kLevels[4] = {{16, 30, 60, 0.0f}, {16, 40, 80, 0.0f}, {32, 30, 60, 0.04f}, {32, 40, 80, 0.04f}};
  const float halfLength = block->carLength / 2.0f, halfWidth = block->carWidth / 2.0f;
  const float y0 = camera == 1 ? -(4800.0f + halfLength + 200.0f) : halfLength + 200.0f;
  ViewSpec spec{-2800.0f, y0, 5600, 4800, 6, 20, false};
  TopView view;
  for (const LineLevel& level : kLevels) {
    BuildTopView(block, image, camera, spec, level, &view);
    if (view.lines.size() <= 3) continue;
    const float keyRow = camera == 1 ? static_cast<float>(view.rows - 1) : 0.0f;
    for (GroundLineRec& l : view.lines) l.key = l.intercept + l.slope * keyRow;
    const float gap = stripeWidth / level.scale;
    const float centre = static_cast<float>(view.cols / 2);
    const int32_t leftLimit = static_cast<int32_t>(-halfWidth / level.scale + centre);
    const int32_t rightLimit = static_cast<int32_t>(halfWidth / level.scale + centre);
    Matrix bin{view.cols, view.rows, view.binary.data()};
    const auto n = static_cast<int32_t>(view.lines.size());

    GroundLineRec left[2], right[2];
    int32_t leftCount = 0;
    for (GroundLineRec& l : view.lines) {
      l.excluded = l.key < static_cast<float>(leftLimit) ? 0u : 1u;
      leftCount += l.excluded == 0 ? 1 : 0;
    }
    if (SelectLinePair(1.0f, gap * 1.4f, gap / 1.5f, view.lines.data(), n, &left[0], &left[1], &bin) == 0 ||
        leftCount < 2)
      continue;
    int32_t rightCount = 0;
    for (GroundLineRec& l : view.lines) {
      l.excluded = l.key > static_cast<float>(rightLimit) ? 0u : 1u;
      rightCount += l.excluded == 0 ? 1 : 0;
    }
    if (SelectLinePair(-1.0f, gap * 1.4f, gap / 1.5f, view.lines.data(), n, &right[0], &right[1], &bin) == 0 ||
        rightCount < 2)
      continue;
    float world[3 * kLineTargetPoints];
    const GroundLineRec* inner[2] = {&left[0], &right[0]};
    for (int32_t line = 0; line < 2; ++line) {
      const GroundLineRec& l = *inner[line];
      for (int32_t k = 0; k < kLinePoints; ++k) {
        const float f = static_cast<float>(k) / kLinePoints;
        const float row = l.row1 + f * (l.row2 - l.row1), col = l.col1 + f * (l.col2 - l.col1);
        float* w = world + 3 * (line * kLinePoints + k);
        w[0] = col * level.scale - 2800.0f;
        w[1] = y0 + row * level.scale;
        w[2] = 0.0f;
      }
    }
    ProjectGround(block, camera, world, points);
    return 1;
  }
  return 0;
}

uint32_t CalibFind_Layout51(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  const GlobalVariables& g = gv();
  // The finders write 54 points; a smaller point buffer would overflow.
  if (lut == nullptr || points == nullptr || camera < 1 || camera > 4 || g.maxPoints < kLineTargetPoints) return 0;
  const CameraParamBlock* block = lut->cfg.paramBlock;
  const auto s = static_cast<float>(g.targetDimA);
  // Centre line of the stripe pair: the differences in integers, then halved.
  const float centre = static_cast<float>((g.place6 - g.f20_23[3]) - (g.place5 - g.f20_23[2])) / 2.0f;
  const float halfSpan = static_cast<float>(g.place0) / 2.0f;
  int32_t found = 0;
  if (camera == 3 || camera == 4) {
    float* world = lut->worldPoints[camera - 1];
    if (world == nullptr) return 0;
    const float d = camera == 3 ? centre - halfSpan : centre + halfSpan;
    found = CalibFind_Layout51LR(block, image, static_cast<int32_t>(camera), points, world, s, d,
                                 camera == 3 ? d - s : s + d);
  } else {
    found = CalibFind_Layout51FB(block, image, static_cast<int32_t>(camera), points, s);
  }
  return found != 0 ? static_cast<uint32_t>(kLineTargetPoints) : 0u;
}
