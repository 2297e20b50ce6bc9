#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/template_corners.h"
#include "frame/numeric_constants.h"
#include "toolkit/border_filters.h"

void BuildCornerTemplates(int32_t r, float alpha1, float alpha2, Matrix* a1, Matrix* a2, Matrix* b1, Matrix* b2) {
  const int32_t size = 2 * r + 1;
  Matrix* k[4] = {a1, a2, b1, b2};
  float sums[4] = {0, 0, 0, 0};
  for (Matrix* m : k) std::fill(m->data, m->data + static_cast<size_t>(size) * size, 0.0f);
  const float sa1 = std::sin(alpha1), ca1 = std::cos(alpha1), sa2 = std::sin(alpha2), ca2 = std::cos(alpha2);
  for (int32_t j = 0; j < size; ++j)
    for (int32_t i = 0; i < size; ++i) {
      const float u = static_cast<float>(i - r), v = static_cast<float>(j - r);
      const float d = std::sqrt(u * u + v * v);
      const float s1 = -u * sa1 + v * ca1, s2 = -u * sa2 + v * ca2;
      const float t = 2.0f * d / static_cast<float>(r);
      const float w = std::exp(-0.5f * t * t);
      int32_t which = -1;
      if (s1 < -0.1f && s2 < -0.1f)
        which = 0;
      else if (s1 > 0.1f && s2 > 0.1f)
        which = 1;
      else if (s1 < -0.1f && s2 > 0.1f)
        which = 2;
      else if (s1 > 0.1f && s2 < -0.1f)
        which = 3;
      if (which < 0) continue;
      k[which]->data[j * size + i] = w;
      sums[which] += w;
    }
  for (int32_t q = 0; q < 4; ++q)
    if (sums[q] > 0.0f)
      for (int32_t e = 0; e < size * size; ++e) k[q]->data[e] /= sums[q];
}

namespace {

// Row prefix sums of the image on a replicated border of r: the mean over
// any kernel support made of one run of columns per row is then two look-ups
// a row, whatever the run's length.
class RowPrefix {
 public:
  RowPrefix(const Matrix* image, int32_t r) : w_(image->cols), h_(image->rows), r_(r), stride_(image->cols + 2 * r + 1) {
    sums_.resize(static_cast<size_t>(stride_) * (h_ + 2 * r));
    for (int32_t py = 0; py < h_ + 2 * r; ++py) {
      const int32_t y = std::min(std::max(py - r, 0), h_ - 1);
      const float* src = image->data + static_cast<size_t>(y) * w_;
      double* row = sums_.data() + static_cast<size_t>(py) * stride_;
      double acc = 0.0;
      row[0] = 0.0;
      for (int32_t px = 0; px < w_ + 2 * r; ++px) {
        acc += src[std::min(std::max(px - r, 0), w_ - 1)];
        row[px + 1] = acc;
      }
    }
  }
  // dst = mean over the runs (dy, first dx, last dx) around each pixel.
  void KernelMean(const std::vector<std::array<int32_t, 3>>& runs, int32_t count, float* dst) const {
    std::vector<double> acc(static_cast<size_t>(w_));
    const double inv = 1.0 / count;
    for (int32_t y = 0; y < h_; ++y) {
      std::fill(acc.begin(), acc.end(), 0.0);
      for (const auto& run : runs) {
        const double* row = sums_.data() + static_cast<size_t>(y + r_ + run[0]) * stride_ + r_;
        const double* hi = row + run[2] + 1;
        const double* lo = row + run[1];
        for (int32_t x = 0; x < w_; ++x) acc[x] += hi[x] - lo[x];
      }
      float* out = dst + static_cast<size_t>(y) * w_;
      for (int32_t x = 0; x < w_; ++x) out[x] = static_cast<float>(acc[x] * inv);
    }
  }

 private:
  int32_t w_, h_, r_, stride_;
  std::vector<double> sums_;
};

}  // namespace

int32_t CornerLikelihood(const Matrix* image, Matrix* out, int32_t small) {
  const int32_t w = image->cols, h = image->rows;
  const size_t n = static_cast<size_t>(w) * h;
  std::fill(out->data, out->data + n, 0.0f);
  if (n == 0) return 0;
  const int32_t r = small != 0 ? 3 : 5;
  const int32_t size = 2 * r + 1;
  const float angles[2][2] = {{0.0f, kPi / 2.0f}, {kPi / 4.0f, 3.0f * kPi / 4.0f}};
  const RowPrefix prefix(image, r);
  std::vector<float> kernels(4 * static_cast<size_t>(size) * size);
  std::vector<float> resp(4 * n);
  for (const auto& a : angles) {
    Matrix k[4];
    for (int32_t q = 0; q < 4; ++q) k[q] = Matrix{size, size, kernels.data() + static_cast<size_t>(q) * size * size};
    BuildCornerTemplates(r, a[0], a[1], &k[0], &k[1], &k[2], &k[3]);
    for (int32_t q = 0; q < 4; ++q) {
      // The kernel's support (its weights do not count) as one run a row:
      // the half-plane cuts make every support row one run.
      std::vector<std::array<int32_t, 3>> runs;
      int32_t count = 0;
      for (int32_t j = 0; j < size; ++j) {
        int32_t first = -1, last = -1;
        for (int32_t i = 0; i < size; ++i)
          if (k[q].data[j * size + i] > 0.0f) {
            if (first < 0) first = i;
            last = i;
            ++count;
          }
        if (first >= 0) runs.push_back({j - r, first - r, last - r});
      }
      if (count == 0) {
        std::fill(resp.begin() + q * n, resp.begin() + (q + 1) * n, 0.0f);
        continue;
      }
      prefix.KernelMean(runs, count, resp.data() + q * n);
    }
    const float* A1 = resp.data();
    const float* A2 = A1 + n;
    const float* B1 = A2 + n;
    const float* B2 = B1 + n;
    for (size_t i = 0; i < n; ++i) {
      const float mu = (A1[i] + A2[i] + B1[i] + B2[i]) * 0.25f;
      const float s1 = std::min(std::min(A1[i], A2[i]) - mu, mu - std::max(B1[i], B2[i]));
      const float s2 = std::min(mu - std::max(A1[i], A2[i]), std::min(B1[i], B2[i]) - mu);
      const float v = 4.0f * std::max(s1, s2);
      if (v > out->data[i]) out->data[i] = v;
    }
  }
  return 0;
}

namespace {

// Offsets of the radius-3 symmetry disc (0 < |d| <= 3.5).
struct Disc {
  Disc() {
    for (int32_t dy = -3; dy <= 3; ++dy)
      for (int32_t dx = -3; dx <= 3; ++dx) {
        const int32_t d2 = dx * dx + dy * dy;
        if (d2 > 0 && d2 <= 12) {  // 3.5^2 = 12.25
          off[count][0] = dy;
          off[count][1] = dx;
          ++count;
        }
      }
  }
  int32_t off[48][2];
  int32_t count = 0;
};

}  // namespace

void RefineCornerMarks(const Matrix* image, ImageU8* marks) {
  const int32_t w = image->cols, h = image->rows;
  if (w < 3 || h < 3) return;
  static const Disc disc;
  const int32_t pw = w + 6;
  std::vector<float> padData(static_cast<size_t>(pw) * (h + 6));
  Matrix pad{pw, h + 6, padData.data()};
  Matrix_PadReplicate(image, &pad, 3, 3);
  auto score = [&](int32_t row, int32_t col) {
    const float* c = padData.data() + static_cast<size_t>(row + 3) * pw + (col + 3);
    float sum = 0.0f;
    for (int32_t k = 0; k < disc.count; ++k) sum += c[disc.off[k][0] * pw + disc.off[k][1]];
    const float m = sum / static_cast<float>(disc.count);
    float e = 0.0f, s = 0.0f;
    for (int32_t k = 0; k < disc.count; ++k) {
      const int32_t o = disc.off[k][0] * pw + disc.off[k][1];
      e += std::fabs(c[o] - c[-o]);
      s += std::fabs(c[o] - m);
    }
    e /= static_cast<float>(disc.count);
    s /= static_cast<float>(disc.count);
    return (0.6f * std::sqrt(s) - e + 0.24f) * 2.11f;
  };
  for (int32_t row = 1; row <= h - 2; ++row)
    for (int32_t col = 1; col <= w - 2; ++col) {
      if (marks->data[static_cast<size_t>(row) * w + col] == 0) continue;
      float best = 0.0f;
      int32_t br = row, bc = col;
      for (int32_t dr = -1; dr <= 1; ++dr)
        for (int32_t dc = -1; dc <= 1; ++dc) {
          const float s = score(row + dr, col + dc);
          if (s > best) {
            best = s;
            br = row + dr;
            bc = col + dc;
          }
        }
      marks->data[static_cast<size_t>(row) * w + col] = 0;
      marks->data[static_cast<size_t>(br) * w + bc] = 1;
    }
}
