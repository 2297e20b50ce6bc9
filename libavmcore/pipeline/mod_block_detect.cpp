// Detection in one block of the moving-object detector: smoothing, the
// scene-brightness filter, candidate and ego-compensated static masks, boxes
// at the region ends nearest the vehicle, pairing with the previous boxes,
// tracks and their confirmation.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"
#include "pipeline/mod_object.h"
#include "toolkit/blobs.h"
#include "toolkit/kalman_filter.h"

namespace {

constexpr int32_t kLabelLimit = 16;

int32_t Speed(const MODBlockTracker* t) { return t->vehicle != nullptr ? t->vehicle->speed : 0; }
int32_t Angle(const MODBlockTracker* t) { return t->vehicle != nullptr ? t->vehicle->angle : 0; }

float FilterStep(KalmanFilter* kf, Matrix* measurement, float value, float* predicted) {
  const Matrix* pre = KalmanFilter_Predict(kf, nullptr);
  if (predicted != nullptr) *predicted = pre != nullptr ? pre->data[0] : 0.0f;
  measurement->data[0] = value;
  const Matrix* post = KalmanFilter_Correct(kf, measurement);
  return post != nullptr ? post->data[0] : value;
}

void Scan(int32_t which, const MODBlockTracker* t, const ImageI32* labels, MODRect* rects) {
  switch (which) {
    case 0: MOD_ScanRightToLeft(labels->width, labels->height, labels, rects, kLabelLimit); break;
    case 1: MOD_ScanLeftToRight(labels->width, labels->height, labels, rects, kLabelLimit); break;
    case 2: MOD_ScanBottomToTop(labels->width, labels->height, labels, rects, kLabelLimit); break;
    default: MOD_ScanTopToBottom(labels->width, labels->height, labels, rects, kLabelLimit); break;
  }
  (void)t;
}

void FinishRect(MODRect* r) {
  r->w = r->maxX - r->minX;
  r->h = r->maxY - r->minY;
}

// 5 x 5 mean in place through a padded copy.
void Smooth5(ImageU8* image) { MOD_BoxMean5(image, image); }

}  // namespace

int32_t MOD_HistPeak(const ImageU8* image, int32_t first, int32_t window) {
  if (image == nullptr || image->data == nullptr || window < 1 || first < 0) return 0;
  int32_t hist[256] = {};
  const size_t n = static_cast<size_t>(std::max(image->width, 0)) * std::max(image->height, 0);
  for (size_t i = 0; i < n; ++i) ++hist[image->data[i]];
  int32_t sum = 0;
  for (int32_t i = first; i < first + window && i < 256; ++i) sum += hist[i];
  int32_t best = 0, peak = 0;
  for (int32_t i = first + window; i <= 255 - first; ++i) {
    sum += hist[i] - hist[i - window];
    if (sum > best) {
      best = sum;
      peak = i - window / 2;
    }
  }
  return peak;
}

void MOD_EgoFlowAt(const MODBlockTracker* tracker, float* dx, float* dy, float x, float y) {
  const float* m = tracker->motion;
  if (m == nullptr) {
    *dx = *dy = 0.0f;
    return;
  }
  const float u = x - static_cast<float>(tracker->width) / 2.0f, v = y - static_cast<float>(tracker->height) / 2.0f;
  *dx = m[0] + m[2] * u + m[3] * v;
  *dy = m[1] + m[4] * u + m[5] * v;
}

void MOD_ExtractRects(MODBlockTracker* t, BlobList* blobs) {
  t->currentRects.clear();
  if (blobs == nullptr || blobs->labels == nullptr) return;
  const ImageI32 labels{blobs->width, blobs->height, blobs->labels};
  const int32_t speed = Speed(t);
  MODRect rects[kLabelLimit] = {};
  for (MODRect& r : rects) r.trackId = -1;
  int32_t scan;
  switch (t->id) {
    case 1: scan = speed < 7 ? 2 : 3; break;
    case 2: scan = speed > 9 ? 2 : 3; break;
    case 4: scan = 0; break;
    default: scan = 1; break;
  }
  Scan(scan, t, &labels, rects);
  const float W = static_cast<float>(t->width);
  for (MODRect& r : rects) {
    if (!r.valid) continue;
    FinishRect(&r);
    if (t->id == 1 || t->id == 2) {
      if (r.maxX > 0.3f * W && r.minX < 0.7f * W)
        r.cx = static_cast<float>(r.maxX + r.minX) / 2.0f;
      else if (r.maxX > 0.3f * W)
        r.cx = static_cast<float>(r.minX);
      else
        r.cx = static_cast<float>(r.maxX);
    } else {
      r.cx = static_cast<float>(r.maxX + r.minX) / 2.0f;
    }
    r.cy = static_cast<float>(r.maxY + r.minY) / 2.0f;
    if (r.w > 3 && r.h > 3) t->currentRects.push_back(r);
  }

  // Second pass on the static mask when the moving picture is nearly flat.
  if (speed == 0 || t->score >= 0.5) return;
  const int32_t x0 = t->width / 6, x1 = t->width - t->width / 6;  // columns x0 .. x1 - 1
  const int32_t rows = t->height - 12;                             // rows 0 .. height - 13
  if (x1 - x0 < 1 || rows < 1) return;
  std::vector<float> cut(static_cast<size_t>(x1 - x0) * rows);
  for (int32_t y = 0; y < rows; ++y)
    for (int32_t x = x0; x < x1; ++x)
      cut[static_cast<size_t>(y) * (x1 - x0) + x - x0] =
          t->staticMask.data[static_cast<size_t>(y) * t->width + x] / 255.0f;
  Matrix m{x1 - x0, rows, cut.data()};
  BlobList* second = BlobList_FindComponents(&m);
  if (second == nullptr) return;
  MODRect more[kLabelLimit] = {};
  for (MODRect& r : more) r.trackId = -1;
  const ImageI32 l2{second->width, second->height, second->labels};
  const int32_t scan2 = t->id == 1 ? 2 : t->id == 2 ? 3 : t->id == 4 ? 0 : 1;
  if (second->labels != nullptr) Scan(scan2, t, &l2, more);
  for (MODRect& r : more) {
    if (!r.valid) continue;
    r.maxX += x0;
    r.minX += x0;
    FinishRect(&r);
    r.cx = static_cast<float>(r.maxX + r.minX) / 2.0f;
    r.cy = static_cast<float>(r.maxY + r.minY) / 2.0f;
    if (r.w > 3 && r.h > 3) t->currentRects.push_back(r);
  }
  BlobList_Free(second);
}

void MOD_RectsFromContours(MODBlockTracker* t, BlobList* blobs) {
  t->currentRects.clear();
  if (blobs == nullptr) return;
  for (int32_t i = 0; i < blobs->count; ++i) {
    const Blob& b = blobs->entries[i];
    if (b.contourCount < 4 || b.contour == nullptr) continue;
    MODRect r{};
    r.trackId = -1;
    r.minX = r.minY = 1 << 30;
    r.maxX = r.maxY = -1;
    for (int32_t k = 0; k < b.contourCount; ++k) {
      r.minX = std::min<int32_t>(r.minX, b.contour[k].col);
      r.maxX = std::max<int32_t>(r.maxX, b.contour[k].col);
      r.minY = std::min<int32_t>(r.minY, b.contour[k].row);
      r.maxY = std::max<int32_t>(r.maxY, b.contour[k].row);
    }
    if ((t->id == 1 && r.minY >= t->height - 5) || (t->id == 2 && r.maxY < 6) ||
        (t->id == 4 && r.minX >= t->width - 5) || (t->id == 8 && r.maxX < 6))
      continue;
    FinishRect(&r);
    if ((t->id == 1 || t->id == 2) && r.w >= t->width - 3) continue;
    if ((t->id == 4 || t->id == 8) && r.h >= t->height - 3) continue;
    if (r.w * r.h < 25) continue;
    r.valid = 1;
    r.cx = static_cast<float>(r.maxX + r.minX) / 2.0f;
    r.cy = static_cast<float>(r.maxY + r.minY) / 2.0f;
    bool merged = false;
    for (MODRect& c : t->currentRects) {
      if (2.0f * std::fabs(c.cx - r.cx) <= static_cast<float>(c.w + r.w + 3) &&
          2.0f * std::fabs(c.cy - r.cy) <= static_cast<float>(c.h + r.h + 3)) {
        c.minX = std::min(c.minX, r.minX);
        c.minY = std::min(c.minY, r.minY);
        c.maxX = std::max(c.maxX, r.maxX);
        c.maxY = std::max(c.maxY, r.maxY);
        FinishRect(&c);
        c.cx = static_cast<float>(c.maxX + c.minX) / 2.0f;
        c.cy = static_cast<float>(c.maxY + c.minY) / 2.0f;
        merged = true;
        break;
      }
    }
    if (!merged) t->currentRects.push_back(r);
  }
}

void MOD_PairRects(MODBlockTracker* t, std::vector<int32_t>* pairs) {
  pairs->clear();
  if (t->previousRects.empty()) {
    for (size_t i = 0; i < t->currentRects.size(); ++i) t->currentRects[i].trackId = static_cast<int32_t>(i);
    return;
  }
  for (size_t i = 0; i < t->currentRects.size(); ++i) {
    const MODRect& c = t->currentRects[i];
    int64_t best = -1;
    size_t bestJ = 0;
    for (size_t j = 0; j < t->previousRects.size(); ++j) {
      const int64_t dx = c.seedX - t->previousRects[j].seedX, dy = c.seedY - t->previousRects[j].seedY;
      const int64_t d = dx * dx + dy * dy;
      if (best < 0 || d < best) {
        best = d;
        bestJ = j;
      }
    }
    if (best < 73) {
      pairs->push_back(static_cast<int32_t>(i));
      pairs->push_back(static_cast<int32_t>(bestJ));
    }
  }
}

void MOD_UpdatePosition(MODBlockTracker* t, float x, float y) {
  const int32_t hw = t->width / 2, hh = t->height / 2;
  const int32_t CW = t->vehicle != nullptr ? t->vehicle->CW : 0, CL = t->vehicle != nullptr ? t->vehicle->CL : 0;
  const float W = static_cast<float>(t->width), H = static_cast<float>(t->height);
  float d, X, Y;
  switch (t->id) {
    case 1:
      d = (x - hw) * (x - hw) + (H - y) * (H - y);
      X = (x - hw) * 50.0f;
      Y = -(H - y) * 50.0f - static_cast<float>(CL / 2);
      break;
    case 2:
      d = (x - hw) * (x - hw) + y * y;
      X = (x - hw) * 50.0f;
      Y = y * 50.0f + static_cast<float>(CL / 2);
      break;
    case 4:
      d = (W - x) * (W - x) + (hh - y) * (hh - y);
      X = -(W - x) * 50.0f - static_cast<float>(CW / 2);
      Y = (y - hh) * 50.0f;
      break;
    default:
      d = x * x + (hh - y) * (hh - y);
      X = x * 50.0f + static_cast<float>(CW / 2);
      Y = (y - hh) * 50.0f;
      break;
  }
  if (!(d < static_cast<float>(t->bestDistance))) return;
  t->bestDistance = static_cast<int32_t>(d);
  const float fx = FilterStep(&t->positionFilterX, &t->measurement, static_cast<float>(static_cast<int32_t>(X)) / 100.0f,
                              nullptr);
  const float fy = FilterStep(&t->positionFilterY, &t->measurement, static_cast<float>(static_cast<int32_t>(Y)) / 100.0f,
                              nullptr);
  t->resultX = static_cast<int32_t>(fx * 100.0f);
  t->resultY = static_cast<int32_t>(fy * 100.0f);
}

void MOD_EvaluateTracks(MODBlockTracker* t) {
  t->bestDistance = 9999;
  const float W = static_cast<float>(t->width), H = static_cast<float>(t->height);
  for (auto it = t->tracks.begin(); it != t->tracks.end();) {
    MODTrack& tr = *it;
    if (tr.updated == 0) tr.misses += 1;
    tr.alarm = 0;
    if (tr.misses >= 2) {
      if (tr.trackId >= 0 && tr.trackId < kModTrackIds) t->idFree[tr.trackId] = 1;
      it = t->tracks.erase(it);
      continue;
    }
    tr.updated = 0;
    ++it;
    const MODRect& r = tr.last;
    // Share of changed pixels (ego-compensated) in the track's box.
    int32_t changed = 0;
    for (int32_t y = std::max(r.minY, 0); y < std::min(r.maxY, t->height); ++y)
      for (int32_t x = std::max(r.minX, 0); x < std::min(r.maxX, t->width); ++x)
        if (t->staticMask.data[static_cast<size_t>(y) * t->width + x] < 101) ++changed;
    const int32_t area = r.w * r.h;
    const float density = area > 0 ? static_cast<float>(changed) / static_cast<float>(area) : 0.0f;
    if (!(density > 0.2f)) {
      tr.dense = 0;
      continue;
    }
    tr.dense += 1;
    float ex, ey;
    MOD_EgoFlowAt(t, &ex, &ey, r.cx, r.cy);
    const float e2 = ex * ex + ey * ey;
    bool confirm = false;
    if (e2 < 1e-5f && tr.count > 1) {
      if (tr.dense < 2) continue;
      confirm = true;
    } else {
      if (tr.dense < 3) {
        if (tr.dense == 2 && tr.count >= 4) MODTrack_Stats(t, &tr);
        continue;
      }
      if (tr.count < 4) continue;
      const int32_t after = MODTrack_Stats(t, &tr);
      if (!(tr.spreadCosine > 1e-5f && tr.spreadCosine < 0.4f)) continue;
      const float rx = tr.meanDx - ex, ry = tr.meanDy - ey;
      if (rx * rx + ry * ry < 2.4f || tr.meanDx * tr.meanDx + tr.meanDy * tr.meanDy < 0.4f) continue;
      const int32_t angle = Angle(t);
      if ((angle >= 13 && r.cx > 0.75f * W) || (angle < -12 && r.cx < 0.25f * W)) {
        AvmLog("MOD[%d] skip blob(%.3f, %.3f).\n", t->id, r.cx, r.cy);
        continue;
      }
      const int32_t a = static_cast<int32_t>(std::fabs(W / 2.0f - r.cx));
      const int32_t b = t->id == 2 ? r.minY : static_cast<int32_t>(H) - 1 - r.maxY;
      const float ldx = tr.dx[after], ldy = tr.dy[after];
      if (tr.meanDx * tr.meanDy != 0.0f && ldx * ldy != 0.0f && (a > 10 || b > 8) && (a > 22 || b > 4)) {
        confirm = true;
      } else if (ey * ldy <= -1.0f || (ey != 0.0f ? ldy / ey >= 3.0f : ldy > 0.0f)) {
        // Without a lengthwise ego component the ratio is unbounded: any
        // step along +y counts as three times it.
        confirm = true;
      } else {
        tr.alarm = 1;
      }
    }
    if (confirm) {
      MOD_UpdatePosition(t, r.cx, r.cy);
      t->detected = 1;
      tr.alarm = 1;
    }
  }
}

void MOD_DetectBlock(MODBlockTracker* t, ImageU8* image) {
  if (t == nullptr || image == nullptr || image->data == nullptr || t->width != image->width ||
      t->height != image->height || t->previousFrame.data == nullptr)
    return;
  t->detected = 0;
  const int32_t speed = Speed(t);
  if (speed != 0) t->score = MOD_Entropy2D(image);
  const double score = speed != 0 ? t->score : 0.0;

  Smooth5(image);
  if (speed != 0) MOD_ContrastMap(image, image);

  const size_t n = static_cast<size_t>(t->width) * t->height;
  const int32_t oldRead = t->ringRead;
  std::memcpy(t->ring[t->ringWrite].data, image->data, n);
  t->ringWrite = (t->ringWrite + 1) % 20;
  if (t->ringWrite == t->ringRead) {
    t->ringRead = (t->ringRead + 1) % 20;
    MOD_RoadModelUpdate(t, image, &t->ring[oldRead]);
  }

  const int32_t th = MOD_HistPeak(image, 0, 16);
  float kth = 0.0f;
  FilterStep(&t->greyFilter, &t->measurement, static_cast<float>(th), &kth);
  if ((g_modTuning.debugFlags & 32) != 0) AvmLog("                 %d th=%d, kth=%f\n", t->id, th, kth);
  if (std::fabs(kth - static_cast<float>(th)) >= 50.0f) {
    t->freeze = t->id == 1 || t->id == 2 ? 11 : 23;
    t->previousRects.clear();
    return;
  }
  if (t->freeze > 0) {
    t->freeze -= 1;
    return;
  }

  float* mask = t->mask.data;
  if (t->id == 4 || t->id == 8 || score < 6.6 || speed == 0) {
    const int32_t T = static_cast<int32_t>(kth + 50.0f);
    for (size_t i = 0; i < n; ++i) mask[i] = t->foreground.data[i] <= T ? 1.0f : 0.0f;
  } else {
    std::fill(mask, mask + n, 1.0f);
  }

  // Ego-compensated change: the previous pixel (x, y) lies at (xs, ys) now.
  std::memset(t->staticMask.data, 255, n);
  const float* m = t->motion;
  const float hw = static_cast<float>(t->width) / 2.0f, hh = static_cast<float>(t->height) / 2.0f;
  for (int32_t y = 0; y < t->height; ++y) {
    for (int32_t x = 0; x < t->width; ++x) {
      const float u = static_cast<float>(x) - hw, v = static_cast<float>(y) - hh;
      const float fx = m != nullptr ? static_cast<float>(x) + m[0] + m[2] * u + m[3] * v + 0.5f : x + 0.5f;
      const float fy = m != nullptr ? static_cast<float>(y) + m[1] + m[4] * u + m[5] * v + 0.5f : y + 0.5f;
      if (!(fx > -1.0f && fy > -1.0f && fx < static_cast<float>(t->width) && fy < static_cast<float>(t->height)))
        continue;
      const int32_t xs = static_cast<int32_t>(fx), ys = static_cast<int32_t>(fy);
      if (xs < 0 || ys < 0 || xs >= t->width || ys >= t->height) continue;
      const size_t at = static_cast<size_t>(ys) * t->width + xs;
      const int32_t diff = std::abs(static_cast<int32_t>(image->data[at]) -
                                    static_cast<int32_t>(t->previousFrame.data[static_cast<size_t>(y) * t->width + x]));
      t->staticMask.data[at] = diff <= 20 ? 255 : 0;
    }
  }
  if (speed == 0)
    for (size_t i = 0; i < n; ++i) mask[i] = t->staticMask.data[i] / 255.0f;

  BlobList* blobs = BlobList_FindComponents(&t->mask);
  MOD_ExtractRects(t, blobs);
  BlobList_Free(blobs);

  std::vector<int32_t> pairs;
  MOD_PairRects(t, &pairs);
  for (size_t p = 0; p + 1 < pairs.size(); p += 2)
    MODTrack_Associate(t, &t->tracks, &t->currentRects[pairs[p]], &t->previousRects[pairs[p + 1]]);
  MOD_EvaluateTracks(t);
  t->previousRects.swap(t->currentRects);
  t->currentRects.clear();
}

void MOD_DetectAndKeep(MODBlockTracker* tracker, ImageU8* image) {
  MOD_DetectBlock(tracker, image);
  if (tracker != nullptr && image != nullptr && tracker->previousFrame.data != nullptr &&
      image->width == tracker->width && image->height == tracker->height)
    std::memcpy(tracker->previousFrame.data, image->data, static_cast<size_t>(image->width) * image->height);
}

namespace {

// Share of pixels above 128 in rows y - r .. y + r - 1 and columns x - r ..
// x + r - 1, clipped to the image.
template <typename Each>
int32_t WindowShares(const ImageU8* image, int32_t r, float fraction, Each each) {
  const int32_t W = image->width, H = image->height;
  std::vector<int32_t> integral(static_cast<size_t>(W + 1) * (H + 1), 0);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      integral[static_cast<size_t>(y + 1) * (W + 1) + x + 1] = (image->data[static_cast<size_t>(y) * W + x] > 128) +
                                                              integral[static_cast<size_t>(y) * (W + 1) + x + 1] +
                                                              integral[static_cast<size_t>(y + 1) * (W + 1) + x] -
                                                              integral[static_cast<size_t>(y) * (W + 1) + x];
  int32_t reached = 0;
  for (int32_t y = 0; y < H; ++y) {
    for (int32_t x = 0; x < W; ++x) {
      const int32_t y0 = std::max(y - r, 0), y1 = std::min(y + r, H), x0 = std::max(x - r, 0), x1 = std::min(x + r, W);
      const int32_t area = (y1 - y0) * (x1 - x0);
      const int32_t s = integral[static_cast<size_t>(y1) * (W + 1) + x1] - integral[static_cast<size_t>(y0) * (W + 1) + x1] -
                        integral[static_cast<size_t>(y1) * (W + 1) + x0] + integral[static_cast<size_t>(y0) * (W + 1) + x0];
      const bool hit = area > 0 && static_cast<float>(s) / static_cast<float>(area) >= fraction;
      reached += hit ? 1 : 0;
      if (!each(x, y, hit, reached)) return reached;
    }
  }
  return reached;
}

}  // namespace

int MOD_WindowDensityTest(const ImageU8* image, int32_t r, int32_t minCount, float fraction) {
  if (image == nullptr || image->data == nullptr) return 0;
  bool done = false;
  WindowShares(image, r, fraction, [&](int32_t, int32_t, bool, int32_t reached) {
    done = reached >= minCount;
    return !done;
  });
  return done ? 1 : 0;
}

int MOD_WindowDensityMask(const ImageU8* image, ImageU8* mask, int32_t r, int32_t minCount, float fraction) {
  if (image == nullptr || mask == nullptr || image->data == nullptr || mask->data == nullptr) return 0;
  const int32_t reached = WindowShares(image, r, fraction, [&](int32_t x, int32_t y, bool hit, int32_t) {
    mask->data[static_cast<size_t>(y) * image->width + x] = hit ? 255 : 0;
    return true;
  });
  return reached >= minCount ? 1 : 0;
}

void MOD_BandMaskF(Matrix* image, float high, float low) {
  const size_t n = static_cast<size_t>(image->cols) * image->rows;
  for (size_t i = 0; i < n; ++i) image->data[i] = low <= image->data[i] && image->data[i] <= high ? 1.0f : 0.0f;
}

void MOD_BandMaskU8F(const ImageU8* image, Matrix* mask, int32_t high, int32_t low) {
  const size_t n = static_cast<size_t>(image->width) * image->height;
  for (size_t i = 0; i < n; ++i) mask->data[i] = low <= image->data[i] && image->data[i] <= high ? 1.0f : 0.0f;
}

void MOD_BandMaskU8(const ImageU8* image, ImageU8* mask, int32_t high, int32_t low) {
  const size_t n = static_cast<size_t>(image->width) * image->height;
  for (size_t i = 0; i < n; ++i) mask->data[i] = low <= image->data[i] && image->data[i] <= high ? 0 : 255;
}
