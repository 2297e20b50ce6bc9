// Best3 line search: warps a floor patch beside (left/right) or ahead of and
// behind (front/back) the car out of the combined image through the camera's
// previous pose, finds the stripe edges in it as straight segments, and maps
// 40 floor points of each of two edges back into the camera image.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "calibration/solve/best3_solve.h"
#include "calibration/solve/ground_grid_maps.h"
#include "camera/camera_model.h"
#include "frame/clock.h"
#include "frame/log.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/sampling.h"
#include "toolkit/thresholds.h"

namespace {

constexpr int32_t kLRMaxSegments = 10;
constexpr int32_t kFBMaxSegments = 20;
constexpr int32_t kEdgeBorder = 4;

// The five patch planes of the first scratch buffer.
struct Planes {
  Matrix p[5];
};

Planes PatchPlanes(Best3Work* w, const Best3SearchParams& sp) {
  Planes out;
  const size_t n = static_cast<size_t>(sp.width) * sp.height;
  for (int k = 0; k < 5; ++k) out.p[k] = Matrix{sp.width, sp.height, w->scratch1.data() + k * n};
  return out;
}

// Patch pixel (row, col) samples the combined image where the floor point
// (x0 + scale col, y0 + scale row) lands in camera `camera`'s quadrant.
// Points outside the camera's area sample nothing (black).
void WarpPatch(Best3Work* w, int32_t camera, int32_t x0, int32_t y0, const Best3SearchParams& sp, Matrix* xmap,
               Matrix* ymap, Matrix* patch) {
  Best3Camera& cam = w->cams[camera - 1];
  Matrix K{3, 3, cam.K}, D{1, 8, cam.D}, R{1, 3, cam.prevR}, T{1, 3, cam.prevT};
  const int32_t camW = w->quadWidth / 2, camH = w->quadHeight / 2;
  const int32_t slot = w->lut->cfg.lensSlot[camera - 1];
  const float step = static_cast<float>(sp.scale);
  // The grid and its image points live in the second scratch buffer (five
  // floats per patch pixel): a search allocates nothing.
  const size_t cells = static_cast<size_t>(sp.width) * sp.height;
  if (w->scratch2.size() >= 5 * cells)
    Calib_ReprojectPointsBuffered(camW, camH, GroundGrid{sp.width, sp.height, x0, y0, step, step, 0.0f},
                                  PoseView{&R, &T, &K, &D, static_cast<int32_t>(cam.model), slot}, xmap, ymap,
                                  w->scratch2.data());
  else
    Calib_ReprojectPoints(camW, camH, sp.width, sp.height, x0, y0, &R, &T, &K, &D, xmap, ymap,
                          static_cast<int32_t>(cam.model), slot, step, step, 0.0f);
  const Matrix* img = w->image;
  const float imgW = static_cast<float>(img->cols), imgH = static_cast<float>(img->rows);
  const float sx = imgW / static_cast<float>(w->quadWidth), sy = imgH / static_cast<float>(w->quadHeight);
  const float offX = (camera == 2 || camera == 4) ? static_cast<float>(img->cols / 2) : 0.0f;
  const float offY = camera >= 3 ? static_cast<float>(img->rows / 2) : 0.0f;
  const size_t n = static_cast<size_t>(sp.width) * sp.height;
  for (size_t i = 0; i < n; ++i) {
    const float u = xmap->data[i], v = ymap->data[i];
    // The -1 marker is tested before the mosaic offset: offset, it would
    // look valid and sample another camera's pixels.
    if (u < 0.0f || v < 0.0f) {
      xmap->data[i] = -1.0f;
      ymap->data[i] = 1.0f;
      continue;
    }
    const float x = u * sx + offX;
    xmap->data[i] = x > imgW - 1.0f ? -1.0f : x;
    ymap->data[i] = std::clamp(v * sy + offY, 1.0f, imgH - 2.0f);
  }
  Image_RemapBilinear(img, xmap, ymap, patch, 0, 0);
}

// Local threshold with the mean plane in the second scratch buffer.
void Threshold(Best3Work* w, Matrix* img, int32_t window, float offset) {
  if (w->scratch2.size() >= static_cast<size_t>(img->cols) * img->rows)
    Image_AdaptiveThresholdBuffered(img, window, offset, w->scratch2.data());
  else
    Image_AdaptiveThreshold(img, window, offset);
}

// Region-boundary edge map: the set pixels of the locally thresholded patch
// that have an unset neighbour. raise lifts dark pixels to the patch mean
// minus 0.08 first, so that dark shadows do not form regions of their own.
void EdgeMapRegions(Best3Work* w, const Matrix* patch, Matrix* out, Matrix* spare, float threshold, bool raise, int32_t window) {
  float m = 0.0f;
  if (raise) {
    m = Matrix_Mean(patch) - 0.08f;
    if (m < 0.0f) m = 0.0f;
  }
  const size_t n = static_cast<size_t>(patch->cols) * patch->rows;
  for (size_t i = 0; i < n; ++i) out->data[i] = std::max(patch->data[i], m);
  Image_BoxMean(out, out, 2, 2);
  Threshold(w, out, window, threshold);
  Image_BoxMean(out, spare, 1, 1);
  for (size_t i = 0; i < n; ++i) out->data[i] = (out->data[i] > 0.001f && spare->data[i] <= 0.999f) ? 1.0f : 0.0f;
}

// Edges that run within 45 degrees of the patch columns, thinned to one
// pixel per row run.
void EdgeMapNearVertical(Best3Work* w, const Matrix* patch, Matrix* out, Matrix* spare) {
  const int32_t W = patch->cols, H = patch->rows;
  Image_BoxMean(patch, spare, 1, 2);
  std::fill(out->data, out->data + static_cast<size_t>(W) * H, 0.0f);
  constexpr float kQuarter = 0.7853982f;
  for (int32_t r = 1; r + 1 < H; ++r)
    for (int32_t c = 1; c + 1 < W; ++c) {
      const float* s = spare->data;
      const float gx = s[r * W + c + 1] - s[r * W + c - 1];
      const float gy = s[(r + 1) * W + c] - s[(r - 1) * W + c];
      const float len = std::max(std::sqrt(gx * gx + gy * gy), 1.1920929e-05f);
      const float angle = std::atan2(std::fabs(gy), std::fabs(gx));
      if (angle <= kQuarter) {
        const float f = (kQuarter - angle) / kQuarter;
        out->data[r * W + c] = f * f * len;
      }
    }
  Threshold(w, out, 32, -0.08f);
  // Thin each row's runs (a run ends after three unset pixels) to their
  // middle pixel; runs of one or two pixels are dropped.
  for (int32_t r = 0; r < H; ++r) {
    float* row = out->data + static_cast<size_t>(r) * W;
    int32_t c = 0;
    while (c < W) {
      if (row[c] <= 0.5f) {
        ++c;
        continue;
      }
      const int32_t first = c;
      int32_t last = c, gap = 0;
      for (++c; c < W && gap < 3; ++c) {
        if (row[c] > 0.5f) {
          last = c;
          gap = 0;
        } else {
          ++gap;
        }
      }
      for (int32_t k = first; k <= last; ++k) row[k] = 0.0f;
      if (last - first + 1 > 2) row[(first + last) / 2] = 1.0f;
      c = last + 1;
    }
  }
}

void ClearBorder(Matrix* m, int32_t b) {
  for (int32_t r = 0; r < m->rows; ++r)
    for (int32_t c = 0; c < m->cols; ++c)
      if (r < b || r >= m->rows - b || c < b || c >= m->cols - b) m->data[r * m->cols + c] = 0.0f;
}

int32_t DetectLines(Hough* hough, const Matrix* edges, int32_t maxSegments, float refRow, Best3Line* lines) {
  Hough_CollectPointsF(hough, edges);
  HoughSegment segs[kFBMaxSegments];
  int32_t count = std::min(maxSegments, kFBMaxSegments);
  Hough_Detect(hough, segs, &count);
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    const HoughSegment& s = segs[i];
    Best3Line& l = lines[n];
    l.row0 = static_cast<float>(s.row0);
    l.col0 = static_cast<float>(s.col0);
    l.row1 = static_cast<float>(s.row1);
    l.col1 = static_cast<float>(s.col1);
    const float dr = l.row1 - l.row0;
    // The detector's angles are within 20 degrees of the columns: a segment
    // without row extent is a single point.
    if (dr == 0.0f) continue;
    l.slope = (l.col1 - l.col0) / dr;
    l.intercept = l.col0 - l.slope * l.row0;
    l.position = l.slope * refRow + l.intercept;
    l.angle = std::atan2(dr, l.col1 - l.col0);
    l.used = 0;
    ++n;
  }
  return n;
}

// Floor (x, y, 0) samples of one segment, step (end - start) / 40.
void SampleEdge(const Best3Line& l, float scale, float x0, float y0, float* world) {
  const float dr = (l.row1 - l.row0) / kBest3EdgePoints, dc = (l.col1 - l.col0) / kBest3EdgePoints;
  for (int32_t i = 0; i < kBest3EdgePoints; ++i) {
    world[3 * i] = scale * (l.col0 + dc * i) + x0;
    world[3 * i + 1] = scale * (l.row0 + dr * i) + y0;
    world[3 * i + 2] = 0.0f;
  }
}

void ProjectToRecord(Best3Work* w, int32_t camera, float* world) {
  Best3Camera& cam = w->cams[camera - 1];
  Matrix K{3, 3, cam.K}, D{1, 8, cam.D}, R{1, 3, cam.prevR}, T{1, 3, cam.prevT};
  Matrix obj{3, kBest3Points, world};
  float px[2 * kBest3Points];
  Matrix img{2, kBest3Points, px};
  CameraModel_ProjectPoints(static_cast<int32_t>(cam.model), &obj, &R, &T, &K, &D, &img, nullptr, nullptr, nullptr,
                            nullptr, nullptr, w->lut->cfg.lensSlot[camera - 1]);
  memcpy(cam.points, px, sizeof px);
}

}  // namespace

int32_t Best3_PickPair(Best3Line* lines, int32_t n, float side, float scale, const Matrix* support, int32_t* first,
                       int32_t* second) {
  int32_t kept[8];
  int32_t k = 0;
  int32_t order[kFBMaxSegments];
  int32_t m = 0;
  for (int32_t i = 0; i < n && m < kFBMaxSegments; ++i)
    if (lines[i].used == 0) order[m++] = i;
  std::stable_sort(order, order + m, [&](int32_t a, int32_t b) {
    return side > 0.0f ? lines[a].position > lines[b].position : lines[a].position < lines[b].position;
  });
  for (int32_t i = 0; i < m && k < 8; ++i) kept[k++] = order[i];
  for (int32_t i = 0; i + 1 < k; ++i) {
    const Best3Line& a = lines[kept[i]];
    const Best3Line& b = lines[kept[i + 1]];
    const float sep = scale * std::fabs(a.position - b.position);
    if (sep < 60.0f || sep > 600.0f) continue;
    if (support != nullptr) {
      int32_t set = 0;
      for (int32_t r = 0; r < support->rows; ++r) {
        const float fr = static_cast<float>(r);
        const float mid = ((a.slope * fr + a.intercept) + (b.slope * fr + b.intercept)) / 2.0f;
        const int32_t c = static_cast<int32_t>(mid);
        if (mid >= 0.0f && c < support->cols && support->data[r * support->cols + c] > 0.5f) ++set;
      }
      if (2 * set <= support->rows) continue;
    }
    *first = kept[i];
    *second = kept[i + 1];
    return 1;
  }
  return 0;
}

int32_t CalibBest3_GetLR_LPoint(Best3Work* w, int32_t camera, int32_t mode, float threshold) {
  if (w == nullptr || w->image == nullptr || w->scratch1.empty() || (camera != 3 && camera != 4)) return 200;
  AvmLog("CalibBest3_GetLR_LPoint1 %d \n", static_cast<int32_t>(GetTickMs()));
  const Best3SearchParams& sp = w->lr;
  const int32_t half = w->cfgWord0 / 2;
  // The left patch mirrors the right one: it ends where the car body begins.
  const int32_t x0 = camera == 4 ? half : -half - sp.scale * sp.width;
  const int32_t y0 = -sp.extentB / 2;
  const float side = camera == 4 ? -1.0f : 1.0f;
  Planes pl = PatchPlanes(w, sp);
  WarpPatch(w, camera, x0, y0, sp, &pl.p[0], &pl.p[1], &pl.p[2]);
  if (mode == 1)
    EdgeMapRegions(w, &pl.p[2], &pl.p[0], &pl.p[1], threshold, true, 42);
  else
    EdgeMapNearVertical(w, &pl.p[2], &pl.p[0], &pl.p[1]);
  Matrix_Copy(&pl.p[2], &pl.p[3]);
  Threshold(w, &pl.p[3], 62, -0.025f);
  ClearBorder(&pl.p[0], kEdgeBorder);
  AvmLog("CalibBest3_GetLR_LPoint2 %d \n", static_cast<int32_t>(GetTickMs()));
  Best3Line lines[kFBMaxSegments];
  const int32_t n = DetectLines(&w->lrHough, &pl.p[0], kLRMaxSegments, static_cast<float>(sp.height / 2), lines);
  AvmLog("CalibBest3_GetLR_LPoint3 %d \n", static_cast<int32_t>(GetTickMs()));
  if (n < 2) return 200;
  int32_t a = -1, b = -1;
  if (Best3_PickPair(lines, n, side, static_cast<float>(sp.scale), &pl.p[3], &a, &b) == 0) return 200;

  float world[3 * kBest3Points];
  const float scale = static_cast<float>(sp.scale);
  const float camAlong = -w->cams[camera - 1].prevT[1];
  float noted[2] = {0.0f, 0.0f};
  bool have[2] = {false, false};
  const int32_t edges[2] = {a, b};
  for (int e = 0; e < 2; ++e) {
    float* pts = world + 3 * kBest3EdgePoints * e;
    SampleEdge(lines[edges[e]], scale, static_cast<float>(x0), static_cast<float>(y0), pts);
    for (int32_t i = 0; i < kBest3EdgePoints && !have[e]; ++i)
      if (pts[3 * i + 1] > camAlong) {
        noted[e] = pts[3 * i];
        have[e] = true;
      }
  }
  // The across gap of two sloped edges, measured square to them.
  if (have[0] && have[1]) noted[1] = noted[0] + (noted[1] - noted[0]) * std::fabs(std::sin(lines[a].angle));
  ProjectToRecord(w, camera, world);
  float* values = w->lineValues + (camera == 3 ? 0 : 2);
  for (int e = 0; e < 2; ++e)
    values[e] = have[e] ? noted[e] : scale * lines[edges[e]].position + static_cast<float>(x0);
  return 0;
}

int32_t CalibBest3_GetFB_2LPoint(Best3Work* w, int32_t camera, int32_t mode, float threshold) {
  if (w == nullptr || w->image == nullptr || w->scratch1.empty() || (camera != 1 && camera != 2)) return 100;
  AvmLog("CalibBest3_GetFB_2LPoint1 %d \n", static_cast<int32_t>(GetTickMs()));
  const Best3SearchParams& sp = w->fb;
  const int32_t x0 = -sp.extentA / 2;
  const int32_t nearEnd = (w->cfgWord1 + 200) / 2;
  const int32_t y0 = camera == 2 ? nearEnd : -nearEnd - sp.extentB;
  Planes pl = PatchPlanes(w, sp);
  WarpPatch(w, camera, x0, y0, sp, &pl.p[0], &pl.p[1], &pl.p[2]);
  if (mode == 1)
    EdgeMapRegions(w, &pl.p[2], &pl.p[0], &pl.p[1], threshold, false, 21);
  else
    EdgeMapNearVertical(w, &pl.p[2], &pl.p[0], &pl.p[1]);
  Matrix_Copy(&pl.p[2], &pl.p[3]);
  Threshold(w, &pl.p[3], 31, -0.025f);
  ClearBorder(&pl.p[0], kEdgeBorder);
  AvmLog("CalibBest3_GetFB_2LPoint2 %d \n", static_cast<int32_t>(GetTickMs()));
  Best3Line lines[kFBMaxSegments];
  const float nearRow = camera == 1 ? static_cast<float>(sp.height - 1) : 0.0f;
  const int32_t n = DetectLines(&w->fbHough, &pl.p[0], kFBMaxSegments, nearRow, lines);
  AvmLog("CalibBest3_GetFB_2LPoint3 %d \n", static_cast<int32_t>(GetTickMs()));
  if (n < 4) return 100;

  const float c = static_cast<float>(sp.width) / 2.0f;
  const float h = static_cast<float>(w->cfgWord0 / 2) / static_cast<float>(sp.scale);
  const float leftEdge = std::trunc(c - h), rightEdge = std::trunc(c + h);
  int32_t group[kFBMaxSegments];  // 0 left, 1 right, -1 neither
  int32_t counts[2] = {0, 0};
  for (int32_t i = 0; i < n; ++i) {
    group[i] = lines[i].position < leftEdge ? 0 : (lines[i].position > rightEdge ? 1 : -1);
    if (group[i] >= 0) ++counts[group[i]];
  }
  if (counts[0] < 2 || counts[1] < 2) return 110;
  int32_t pick[2][2];
  for (int g = 0; g < 2; ++g) {
    for (int32_t i = 0; i < n; ++i) lines[i].used = group[i] == g ? 0 : 1;
    if (Best3_PickPair(lines, n, g == 0 ? 1.0f : -1.0f, static_cast<float>(sp.scale), &pl.p[3], &pick[g][0],
                       &pick[g][1]) == 0)
      return 110;
  }
  float world[3 * kBest3Points];
  for (int g = 0; g < 2; ++g)
    SampleEdge(lines[pick[g][0]], static_cast<float>(sp.scale), static_cast<float>(x0), static_cast<float>(y0),
               world + 3 * kBest3EdgePoints * g);
  ProjectToRecord(w, camera, world);
  return 0;
}
