#include "calibration/detect/contour_shapes.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/contours.h"
#include "toolkit/thresholds.h"

namespace {

inline int64_t Dist2(const PointI16& a, const PointI16& b) {
  const int64_t dr = a.row - b.row, dc = a.col - b.col;
  return dr * dr + dc * dc;
}

// Box mean read with the position held inside the image.
inline float At(const Matrix& m, int32_t r, int32_t c) {
  r = std::clamp(r, 0, m.rows - 1);
  c = std::clamp(c, 0, m.cols - 1);
  return m.data[static_cast<size_t>(r) * m.cols + c];
}

}  // namespace

int32_t Contour_IsSmooth(const Blob* blob) {
  if (blob == nullptr || blob->contourCount < 30) return 0;
  const int32_t n = blob->contourCount;
  const PointI16* c = blob->contour;
  for (int32_t s = 6; s <= 8; ++s)
    for (int32_t m = 1; m * s < n; ++m) {
      const float len = std::sqrt(static_cast<float>(Dist2(c[(m - 1) * s], c[m * s])));
      if (static_cast<float>(s) > 1.2f * len) return 0;
    }
  return 1;
}

float Blob_Roundness(const Blob* blob, const float* centre) {
  if (blob == nullptr || blob->contourCount < 1) return 1.0f;
  float cr = 0.0f, cc = 0.0f;
  if (centre != nullptr) {
    cr = centre[0];
    cc = centre[1];
  } else {
    Blob_Centroid(blob, &cr, &cc);
  }
  const float area = Blob_ContourArea(blob, cr, cc);
  // The perimeter as the length of the closed outline: its points are
  // 8-connected, so a diagonal step covers sqrt(2) and the point count
  // alone would make every disc look 20 percent too round to pass.
  double length = 0.0;
  const int32_t n = blob->contourCount;
  for (int32_t i = 0; i < n; ++i) length += std::sqrt(static_cast<double>(Dist2(blob->contour[i], blob->contour[(i + 1) % n])));
  const auto p = static_cast<float>(length);
  if (!(p > 0.0f)) return 1.0f;
  return std::fabs(12.566371f * area / (p * p) - 1.0f);
}

void Contour_CentreRadii(const Blob* blob, float* centre, float* rmin, float* rmax) {
  *rmin = 1000.0f;
  *rmax = 0.0f;
  if (blob == nullptr || blob->contourCount < 1) return;
  double sr = 0.0, sc = 0.0;
  for (int32_t i = 0; i < blob->contourCount; ++i) {
    sr += blob->contour[i].row;
    sc += blob->contour[i].col;
  }
  centre[0] = static_cast<float>(sr / blob->contourCount);
  centre[1] = static_cast<float>(sc / blob->contourCount);
  for (int32_t i = 0; i < blob->contourCount; ++i) {
    const float d = std::hypot(blob->contour[i].row - centre[0], blob->contour[i].col - centre[1]);
    *rmin = std::min(*rmin, d);
    *rmax = std::max(*rmax, d);
  }
}

int32_t Contour_CountEdges(const Blob* blob) {
  if (blob == nullptr || blob->contourCount < 2) return 0;
  const int32_t n = blob->contourCount;
  const PointI16* c = blob->contour;
  int32_t a = 0, b = 0;
  for (int32_t pass = 0; pass < 3; ++pass) {
    int64_t best = -1;
    int32_t far = b;
    for (int32_t k = 0; k < n; ++k) {
      const int64_t d = Dist2(c[k], c[b]);
      if (d > best) {
        best = d;
        far = k;
      }
    }
    a = b;
    b = far;
  }
  if (Dist2(c[a], c[b]) <= 4) return 0;
  // Arcs as (start, length along the contour) so that the wrap is plain.
  std::vector<std::pair<int32_t, int32_t>> stack;
  stack.push_back({b, (a - b + n) % n});
  stack.push_back({a, (b - a + n) % n});
  int32_t count = 0;
  while (!stack.empty() && count < 21) {
    const auto [s, len] = stack.back();
    const PointI16& p0 = c[s];
    const PointI16& p1 = c[(s + len) % n];
    const int64_t dr = p1.row - p0.row, dc = p1.col - p0.col;
    const int64_t chord2 = dr * dr + dc * dc;
    double best = -1.0;
    int32_t bestOff = -1;
    for (int32_t off = 1; off < len; ++off) {
      const PointI16& p = c[(s + off) % n];
      double d2;
      if (chord2 > 0) {
        const double cross = static_cast<double>((p.row - p0.row) * dc - (p.col - p0.col) * dr);
        d2 = cross * cross / static_cast<double>(chord2);
      } else {
        // An arc closing on its own start pixel: the plain distance.
        d2 = static_cast<double>(Dist2(p, p0));
      }
      if (d2 > best) {
        best = d2;
        bestOff = off;
      }
    }
    if (bestOff < 0 || best <= 4.0) {
      ++count;
      stack.pop_back();
      continue;
    }
    stack.back() = {s, bestOff};
    stack.push_back({(s + bestOff) % n, len - bestOff});
  }
  return count;
}

void Image_FindCentreCross(const Matrix* image, float* out) {
  if (image == nullptr || image->data == nullptr || image->cols < 1 || image->rows < 1 || out == nullptr) return;
  std::vector<float> buffer(static_cast<size_t>(image->cols) * image->rows);
  Matrix m{image->cols, image->rows, buffer.data()};
  Image_BoxMean(image, &m, 7, 7);
  const int32_t hr = image->rows / 2, hc = image->cols / 2;
  float best = -10000.0f;
  for (int32_t pr = hr - 20; pr <= hr + 20; ++pr)
    for (int32_t pc = hc - 20; pc <= hc + 20; ++pc) {
      const float v = std::fabs(At(m, pr - 8, pc - 8) + At(m, pr + 8, pc + 8) - At(m, pr + 8, pc - 8) -
                                At(m, pr - 8, pc + 8)) /
                      2.0f;
      if (v > best) {
        best = v;
        out[0] = static_cast<float>(pr);
        out[1] = static_cast<float>(pc);
      }
    }
}

int32_t FindCentreCrossCorners(const Matrix* image, float* out, int32_t mode, int32_t withCentre) {
  if (image == nullptr || image->data == nullptr || image->cols < 1 || image->rows < 1 || out == nullptr) return 0;
  float centre[2] = {0.0f, 0.0f};
  Image_FindCentreCross(image, centre);
  const float cr = centre[0], cc = centre[1];
  std::vector<float> buffer(static_cast<size_t>(image->cols) * image->rows);
  Matrix work{image->cols, image->rows, buffer.data()};
  Image_BoxMean(image, &work, 1, 1);
  Image_AdaptiveThreshold(&work, 31, 0.02f);
  BlobList* blobs = BlobList_FindComponents(&work);
  if (blobs == nullptr) return 0;
  if (blobs->count == 0) {
    BlobList_Free(blobs);
    return 0;
  }
  const PointI16 origin{0, 0}, lowerLeft{static_cast<int16_t>(image->rows - 1), 0};
  float bestA = 10000.0f, bestB = 10000.0f, A[2] = {0, 0}, B[2] = {0, 0};
  for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
    if (b->contourCount < 1) continue;
    PointI16 n0 = b->contour[0], f0 = n0, nb = n0, fb = n0;
    for (int32_t i = 1; i < b->contourCount; ++i) {
      const PointI16& p = b->contour[i];
      if (Dist2(p, origin) < Dist2(n0, origin)) n0 = p;
      if (Dist2(p, origin) > Dist2(f0, origin)) f0 = p;
      if (Dist2(p, lowerLeft) < Dist2(nb, lowerLeft)) nb = p;
      if (Dist2(p, lowerLeft) > Dist2(fb, lowerLeft)) fb = p;
    }
    PointI16 a{}, bb{};
    bool haveA = false, haveB = false;
    if (mode == 0) {
      haveA = cr < nb.row && nb.col < cc && fb.row <= cr + 10 && fb.col >= cc - 10;
      a = nb;
      haveB = fb.row < cr && fb.col > cc && nb.row >= cr - 10 && nb.col <= cc + 10;
      bb = fb;
    } else {
      haveA = n0.row < cr && n0.col < cc && f0.row >= cr - 10 && f0.col >= cc - 10;
      a = n0;
      haveB = f0.row > cr && f0.col > cc && n0.row <= cr + 10 && n0.col <= cc + 10;
      bb = f0;
    }
    if (haveA) {
      const float d = std::hypot(a.row - cr, a.col - cc);
      if (d < bestA) {
        bestA = d;
        A[0] = a.row;
        A[1] = a.col;
      }
    }
    if (haveB) {
      const float d = std::hypot(bb.row - cr, bb.col - cc);
      if (d < bestB) {
        bestB = d;
        B[0] = bb.row;
        B[1] = bb.col;
      }
    }
  }
  BlobList_Free(blobs);
  float* o = out;
  if (withCentre != 0) {
    o[0] = cr;
    o[1] = cc;
    o += 2;
  }
  o[0] = A[0];
  o[1] = A[1];
  o[2] = B[0];
  o[3] = B[1];
  return bestA < 10000.0f && bestB < 10000.0f ? 1 : 0;
}

int32_t Quad_CornerNearPoint(const float* p, int32_t k, const float* quad, float* bestDist, float* bestPoint) {
  if (p == nullptr || quad == nullptr || bestDist == nullptr || bestPoint == nullptr || k < 0 || k > 3) return 0;
  const float pr = p[0], pc = p[1];
  const float* q = quad + 2 * k;
  bool ok = false;
  switch (k) {
    case 0: ok = q[0] < pr && q[1] < pc && quad[6] >= pr - 10 && quad[7] >= pc - 10; break;
    case 1: ok = q[0] < pr && q[1] > pc && quad[4] >= pr - 10 && quad[5] <= pc + 10; break;
    case 2: ok = q[0] > pr && q[1] < pc && quad[2] <= pr + 10 && quad[3] >= pc - 10; break;
    default: ok = q[0] > pr && q[1] > pc && quad[0] <= pr + 10 && quad[1] <= pc + 10; break;
  }
  if (!ok) return 0;
  const float d = std::hypot(q[0] - pr, q[1] - pc);
  if (!(d < *bestDist)) return 0;
  *bestDist = d;
  bestPoint[0] = q[0];
  bestPoint[1] = q[1];
  return 1;
}
