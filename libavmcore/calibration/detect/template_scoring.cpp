#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calibration/detect/template_internal.h"
#include "frame/numeric_constants.h"
#include "toolkit/border_filters.h"
#include "toolkit/edges.h"
#include "toolkit/linear_filters.h"

namespace {

float FoldedDiff(float phi, float a) {
  float d = std::fabs(phi - a);
  if (d > kPi) d = 2.0f * kPi - d;
  if (d > kPi / 2.0f) d = kPi - d;
  return d;
}

// Pearson correlation of m with the +-1 pattern p over n samples; false when
// either has no spread.
bool Correlation(const float* m, const float* p, int32_t n, float* rho) {
  double sm = 0, sp = 0;
  for (int32_t i = 0; i < n; ++i) {
    sm += m[i];
    sp += p[i];
  }
  const double mm = sm / n, mp = sp / n;
  double cov = 0, vm = 0, vp = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double a = m[i] - mm, b = p[i] - mp;
    cov += a * b;
    vm += a * a;
    vp += b * b;
  }
  const double sdm = std::sqrt(vm / n), sdp = std::sqrt(vp / n);
  if (!(sdm > 0.0) || !(sdp > 0.0)) return false;
  *rho = static_cast<float>(cov / (n * sdm * sdp));
  return true;
}

}  // namespace

int32_t FindHistogramModes(const float* h, int32_t bins, int32_t outBins[2], float outValues[2], float alpha) {
  if (bins < 1) return 0;
  std::vector<float> s(static_cast<size_t>(bins));
  float total = 0.0f;
  for (int32_t i = 0; i < bins; ++i) {
    s[i] = alpha * h[i] + (1.0f - alpha) / 2.0f * (h[(i - 1 + bins) % bins] + h[(i + 1) % bins]);
    total += s[i];
  }
  const float mean = total / static_cast<float>(bins);
  std::vector<int32_t> modeBin;
  std::vector<float> modeVal;
  for (int32_t i = 0; i < bins; ++i) {
    int32_t j = i;
    for (;;) {
      const float L = s[(j - 1 + bins) % bins], R = s[(j + 1) % bins];
      int32_t next;
      if (L >= s[j] && L >= R)
        next = (j - 1 + bins) % bins;
      else if (s[j] < R && L < R)
        next = (j + 1) % bins;
      else
        break;
      j = next;
      if (j == i) break;
    }
    if (std::find(modeBin.begin(), modeBin.end(), j) != modeBin.end()) continue;
    // Ordered by value, high to low; an equal value goes after.
    size_t at = 0;
    while (at < modeVal.size() && modeVal[at] >= s[j]) ++at;
    modeBin.insert(modeBin.begin() + static_cast<std::ptrdiff_t>(at), j);
    modeVal.insert(modeVal.begin() + static_cast<std::ptrdiff_t>(at), s[j]);
  }
  if (modeBin.size() >= 3) {
    const float a1 = static_cast<float>(modeBin[0]) * kPi / static_cast<float>(bins);
    const float a2 = static_cast<float>(modeBin[1]) * kPi / static_cast<float>(bins);
    const float d = std::fabs(a1 - a2);
    if (std::min(d, kPi - d) < 0.3f) modeBin[1] = modeBin[2];
  }
  if (modeBin.size() < 2 || modeVal[1] < mean) return 0;
  outBins[0] = modeBin[0];
  outBins[1] = modeBin[1];
  outValues[0] = modeVal[0];
  outValues[1] = modeVal[1];
  return 1;
}

int32_t EdgeOrientations(const Matrix* orientation, const Matrix* magnitude, int32_t row, int32_t col, int32_t radius,
                         float out[2]) {
  const int32_t w = orientation->cols, h = orientation->rows;
  const int32_t r0 = std::max(row - radius, 0), r1 = std::min(row + radius, h - 1);
  const int32_t c0 = std::max(col - radius, 0), c1 = std::min(col + radius, w - 1);
  for (int32_t B : {32, 48}) {
    float hist[48];
    std::fill(hist, hist + B, 0.0f);
    for (int32_t r = r0; r <= r1; ++r)
      for (int32_t c = c0; c <= c1; ++c) {
        const size_t i = static_cast<size_t>(r) * w + c;
        float a = orientation->data[i] + kPi / 2.0f;
        if (a > kPi) a -= kPi;
        int32_t bin = static_cast<int32_t>(a / kPi * static_cast<float>(B) + 0.5f);
        if (bin >= B) bin = 0;
        if (bin < 0) bin = 0;
        hist[bin] += magnitude->data[i];
      }
    int32_t modes[2];
    float values[2];
    if (FindHistogramModes(hist, B, modes, values, 0.5f) == 0) continue;
    float lo = static_cast<float>(modes[0]) * kPi / static_cast<float>(B);
    float hi = static_cast<float>(modes[1]) * kPi / static_cast<float>(B);
    if (lo > hi) std::swap(lo, hi);
    if (std::min(hi - lo, lo - hi + kPi) >= 0.3f) {
      out[0] = lo;
      out[1] = hi;
      return 1;
    }
  }
  return 0;
}

void TemplateGradients_Compute(const Matrix* image, TemplateGradients* g) {
  const int32_t w = image->cols, h = image->rows;
  g->cols = w;
  g->rows = h;
  const size_t n = static_cast<size_t>(w) * h;
  g->orientation.assign(n, 0.0f);
  g->magnitude.assign(n, 0.0f);
  if (n == 0) return;
  std::vector<float> padData(static_cast<size_t>(w + 2) * (h + 2)), gxData(n), gyData(n), buffer(w + 2);
  Matrix pad{w + 2, h + 2, padData.data()}, gx{w, h, gxData.data()}, gy{w, h, gyData.data()};
  Matrix_PadReplicate(image, &pad, 1, 1);
  const float diff[3] = {-1.0f, 0.0f, 1.0f}, smooth[3] = {0.25f, 0.5f, 0.25f};
  Image_SepFilter3x3(&pad, &gx, diff, smooth, buffer.data());
  Image_SepFilter3x3(&pad, &gy, smooth, diff, buffer.data());
  for (size_t i = 0; i < n; ++i) {
    float t = std::atan2(gyData[i], gxData[i]);
    if (t < 0.0f) t += kPi;
    if (t >= kPi) t -= kPi;
    g->orientation[i] = t;
    g->magnitude[i] = std::sqrt(gxData[i] * gxData[i] + gyData[i] * gyData[i]);
  }
}

void ScoreCornerCandidatesWith(const TemplateGradients& g, const ImageU8* marks, ImageU8* levels[3],
                               TemplateCorner* lists[3], int32_t counts[3], int32_t fast, float t) {
  const int32_t cols = g.cols, rows = g.rows;
  const int32_t w = fast != 0 ? 6 : 7, R = fast != 0 ? 9 : 11;
  const int32_t side = 2 * w + 1, nWin = side * side;
  const Matrix orientation{cols, rows, const_cast<float*>(g.orientation.data())};
  const Matrix magnitude{cols, rows, const_cast<float*>(g.magnitude.data())};
  // Window geometry: the angle of every offset.
  std::vector<float> phi(nWin), pm(nWin), pLine(nWin), pA(nWin), pB(nWin);
  for (int32_t dy = -w; dy <= w; ++dy)
    for (int32_t dx = -w; dx <= w; ++dx) {
      float a = std::atan2(static_cast<float>(dy), static_cast<float>(dx));
      if (a < 0.0f) a += 2.0f * kPi;
      phi[(dy + w) * side + (dx + w)] = a;
    }
  struct Accepted {
    int32_t row, col;
    float a1, a2;
  };
  std::vector<Accepted> accepted;
  auto clearAll = [&](size_t i) {
    for (int k = 0; k < 3; ++k) levels[k]->data[i] = 0;
  };
  for (int32_t row = rows - 1; row >= 0; --row)
    for (int32_t col = 0; col < cols; ++col) {
      const size_t i = static_cast<size_t>(row) * cols + col;
      if (row < w || row >= rows - w || col < w || col >= cols - w) {
        clearAll(i);
        continue;
      }
      if (marks->data[i] == 0) continue;
      float A[2], B[2];
      if (EdgeOrientations(&orientation, &magnitude, row, col, R, A) == 0) {
        clearAll(i);
        continue;
      }
      if (EdgeOrientations(&orientation, &magnitude, row, col, w, B) == 0) {
        B[0] = A[0];
        B[1] = A[1];
      }
      const float sA1 = std::sin(A[0]), cA1 = std::cos(A[0]), sA2 = std::sin(A[1]), cA2 = std::cos(A[1]);
      for (int32_t dy = -w; dy <= w; ++dy)
        for (int32_t dx = -w; dx <= w; ++dx) {
          const int32_t k = (dy + w) * side + (dx + w);
          const float fx = static_cast<float>(dx), fy = static_cast<float>(dy);
          const float l1 = std::fabs(-fx * sA1 + fy * cA1), l2 = std::fabs(-fx * sA2 + fy * cA2);
          pLine[k] = (l1 < 1.5f || l2 < 1.5f) ? 1.0f : -1.0f;
          pA[k] = (FoldedDiff(phi[k], A[0]) < 0.28f || FoldedDiff(phi[k], A[1]) < 0.28f) ? 1.0f : -1.0f;
          pB[k] = (FoldedDiff(phi[k], B[0]) < 0.28f || FoldedDiff(phi[k], B[1]) < 0.28f) ? 1.0f : -1.0f;
          pm[k] = g.magnitude[static_cast<size_t>(row + dy) * cols + (col + dx)];
        }
      float rLine, rA = -2.0f, rB = -2.0f;
      if (!Correlation(pm.data(), pLine.data(), nWin, &rLine) || !(rLine > t)) {
        clearAll(i);
        continue;
      }
      if (!Correlation(pm.data(), pA.data(), nWin, &rA)) rA = -2.0f;
      if (!Correlation(pm.data(), pB.data(), nWin, &rB)) rB = -2.0f;
      if (rA > 0.35f || rB > 0.35f) {
        // stays in all three levels
      } else if (rA > 0.25f || rB > 0.25f) {
        levels[2]->data[i] = 0;
      } else {
        levels[0]->data[i] = 0;
        levels[2]->data[i] = 0;
      }
      accepted.push_back({row, col, A[0], A[1]});
    }
  for (int32_t k = 0; k < 3; ++k) {
    int32_t n = 0;
    for (const Accepted& a : accepted)
      if (levels[k]->data[static_cast<size_t>(a.row) * cols + a.col] != 0) ++n;
    TemplateCorner* list = static_cast<TemplateCorner*>(malloc(sizeof(TemplateCorner) * static_cast<size_t>(n > 0 ? n : 1)));
    int32_t m = 0;
    for (const Accepted& a : accepted) {
      if (levels[k]->data[static_cast<size_t>(a.row) * cols + a.col] == 0) continue;
      TemplateCorner& c = list[m++];
      c.label = c.gridRow = c.gridCol = -1;
      c.y = static_cast<float>(a.row);
      c.x = static_cast<float>(a.col);
      c.linkCount = c.visitMark = 0;
      if (a.a1 + a.a2 > kPi) {
        c.direction[0] = a.a2 + kPi;
        c.direction[1] = a.a1;
        c.direction[2] = a.a2;
        c.direction[3] = a.a1 + kPi;
      } else {
        c.direction[0] = a.a1;
        c.direction[1] = a.a2;
        c.direction[2] = a.a1 + kPi;
        c.direction[3] = a.a2 + kPi;
      }
      for (int32_t d = 0; d < 4; ++d) {
        c.linkLength[d] = FLT_MAX;
        c.link[d] = nullptr;
        c.backIndex[d] = -1;
      }
    }
    lists[k] = list;
    counts[k] = n;
  }
}

void ScoreCornerCandidates(const Matrix* image, const ImageU8* marks, ImageU8* levels[3], TemplateCorner* lists[3],
                           int32_t counts[3], int32_t fast, float scoreThreshold) {
  TemplateGradients g;
  TemplateGradients_Compute(image, &g);
  ScoreCornerCandidatesWith(g, marks, levels, lists, counts, fast, scoreThreshold);
}

void DetectTemplateCornersWith(const Matrix* smooth, const Matrix* likelihood, const TemplateGradients& g,
                               TemplateCorner* lists[3], int32_t counts[3], int32_t fast, float nmsThreshold,
                               float scoreThreshold) {
  const int32_t w = smooth->cols, h = smooth->rows;
  const size_t n = static_cast<size_t>(w) * h;
  counts[0] = counts[1] = counts[2] = 0;
  std::vector<uint8_t> markData(n), levelData(3 * n);
  ImageU8 marks{w, h, markData.data()};
  Image_NonMaxSuppress(likelihood, &marks, 3, 5, nmsThreshold);
  RefineCornerMarks(smooth, &marks);
  ImageU8 lv[3];
  ImageU8* levels[3];
  for (int32_t k = 0; k < 3; ++k) {
    lv[k] = ImageU8{w, h, levelData.data() + k * n};
    memcpy(lv[k].data, markData.data(), n);
    levels[k] = &lv[k];
  }
  ScoreCornerCandidatesWith(g, &marks, levels, lists, counts, fast, scoreThreshold);
}

void DetectTemplateCorners(const Matrix* smooth, const Matrix* likelihood, TemplateCorner* lists[3], int32_t counts[3],
                           int32_t fast, float nmsThreshold, float scoreThreshold) {
  TemplateGradients g;
  TemplateGradients_Compute(smooth, &g);
  DetectTemplateCornersWith(smooth, likelihood, g, lists, counts, fast, nmsThreshold, scoreThreshold);
}
