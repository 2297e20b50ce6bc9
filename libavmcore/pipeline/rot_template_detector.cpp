// Detection of the rotation-sweep template detector: feature channels, the
// boosted window scan, pairing against the turned templates, pruning and the
// quadrilaterals.
//
// Choices of this build where the design leaves them open: the gradient
// magnitude is normalised by its 4 x 4 box mean (offsets -2..1); channels 1
// to 7 are gathered into the half-resolution cells with weight 0.25 a pixel,
// channels 2 to 7 splitting each pixel linearly between its two nearest
// orientation bins; a response is the correlation sum of the min-max
// normalised patch (mapped to -1..1) with the template, divided by the patch
// side; the three response pairs are taken at the two marks shifted T / 2 to
// either side of the line and at the marks themselves.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "pipeline/rot_template_detector.h"
#include "toolkit/border_filters.h"
#include "toolkit/sampling.h"
#include "toolkit/smoothing.h"

namespace {

constexpr int kAcosEntries = 20001;
float g_acosBins[kAcosEntries];
std::once_flag g_acosOnce;

void FillAcosTable() {
  std::call_once(g_acosOnce, [] {
    for (int i = 0; i < kAcosEntries; ++i)
      g_acosBins[i] = std::acos(static_cast<float>(i - 10000) / 10000.0f) * 1.90985f;
  });
}

struct Candidate {
  int32_t y, x;
  float score;
};

// Sum of the leaf values of the first 240 trees on the window at (r, c);
// stops at -1.0 or below.
float ScoreWindow(const RotTemplateDetector* d, const RotTemplateClassifier& cls, const float* channels, int32_t r,
                  int32_t c) {
  const int32_t cw = d->channelWidth, ww = d->windowWidth;
  float sum = 0.0f;
  for (int32_t t = 0; t < kRotTemplateMinTrees; ++t) {
    const size_t base = static_cast<size_t>(t) * d->nodes;
    uint32_t k = 0;
    while (cls.children[base + k] != 0) {
      const uint32_t f = cls.features[base + k];
      const uint32_t ch = f % kRotTemplateChannels;
      const uint32_t pix = f / kRotTemplateChannels;
      const int32_t fr = static_cast<int32_t>(pix) / ww, fc = static_cast<int32_t>(pix) % ww;
      const float v = channels[(static_cast<size_t>(r + fr) * cw + (c + fc)) * kRotTemplateChannels + ch];
      const uint32_t child = cls.children[base + k];
      k = cls.thresholds[base + k] > v ? child - 1 : child;
    }
    sum += cls.leaves[base + k];
    if (sum <= -1.0f) break;
  }
  return sum;
}

// The eight channels (interleaved) and the candidate mask, at channel size.
void ComputeChannels(const RotTemplateDetector* d, const Matrix* smooth, std::vector<float>* channels,
                     std::vector<float>* mask) {
  FillAcosTable();
  const int32_t W = smooth->cols, H = smooth->rows;
  const int32_t cw = d->channelWidth, ch = d->channelHeight;
  const size_t cells = static_cast<size_t>(cw) * ch;

  std::vector<float> grey(cells), contrast(cells);
  for (int32_t i = 0; i < ch; ++i)
    for (int32_t j = 0; j < cw; ++j) grey[static_cast<size_t>(i) * cw + j] = smooth->data[(2 * i) * W + 2 * j];
  Matrix g{cw, ch, grey.data()}, c0{cw, ch, contrast.data()};
  Image_LocalContrast(&g, &c0, d->windowWidth / 2, d->windowHeight / 2);
  mask->assign(cells, 0.0f);
  Matrix m{cw, ch, mask->data()};
  Image_BrightMask(&c0, &m, 511, 270, 276, 0.5254111f);
  for (float& v : contrast) v *= 255.0f;

  // Gradients at full resolution; border rows and columns from their
  // neighbours.
  const size_t n = static_cast<size_t>(W) * H;
  std::vector<float> mag(n), ori(n);
  for (int32_t y = 0; y < H; ++y) {
    const int32_t yy = std::min(std::max(y, 1), H - 2);
    for (int32_t x = 0; x < W; ++x) {
      const int32_t xx = std::min(std::max(x, 1), W - 2);
      const float* s = smooth->data;
      const float gx = (s[yy * W + xx + 1] - s[yy * W + xx - 1]) * 0.5f;
      const float gy = (s[(yy + 1) * W + xx] - s[(yy - 1) * W + xx]) * 0.5f;
      const float M = std::max(std::sqrt(gx * gx + gy * gy), 1.1920929e-05f);
      int32_t idx = gy > 0.0f ? static_cast<int32_t>(10000.0f + gx * 10000.0f / M)
                              : static_cast<int32_t>(10000.0f - gx * 10000.0f / M);
      idx = std::min(std::max(idx, 0), kAcosEntries - 1);
      mag[static_cast<size_t>(y) * W + x] = M;
      ori[static_cast<size_t>(y) * W + x] = g_acosBins[idx];
    }
  }
  // Magnitude over its 4 x 4 box mean.
  std::vector<float> planes(cells * 7, 0.0f);
  for (int32_t y = 0; y < H; ++y) {
    for (int32_t x = 0; x < W; ++x) {
      float s = 0.0f;
      for (int32_t dy = -2; dy <= 1; ++dy) {
        const int32_t yy = std::min(std::max(y + dy, 0), H - 1);
        for (int32_t dx = -2; dx <= 1; ++dx) s += mag[static_cast<size_t>(yy) * W + std::min(std::max(x + dx, 0), W - 1)];
      }
      const int32_t ci = y / 2, cj = x / 2;
      if (ci >= ch || cj >= cw) continue;
      const float mn = mag[static_cast<size_t>(y) * W + x] / (s / 16.0f + 0.0005f);
      const size_t cell = static_cast<size_t>(ci) * cw + cj;
      planes[cell] += mn * 0.25f;
      const float o = ori[static_cast<size_t>(y) * W + x];
      const int32_t b0 = static_cast<int32_t>(o);
      const float f = o - static_cast<float>(b0);
      planes[cells * (1 + b0 % 6) + cell] += mn * (1.0f - f) * 0.25f;
      planes[cells * (1 + (b0 + 1) % 6) + cell] += mn * f * 0.25f;
    }
  }
  channels->assign(cells * kRotTemplateChannels, 0.0f);
  Matrix out{cw, ch, channels->data()};
  Image_Smooth3x3Channel(&c0, &out, 0);
  for (int k = 1; k < kRotTemplateChannels; ++k) {
    Matrix p{cw, ch, planes.data() + cells * (k - 1)};
    Image_Smooth3x3Channel(&p, &out, k);
  }
}

float Response(const RotTemplateDetector* d, const Matrix* padded, float row, float col, const float* tmpl,
               std::vector<float>* patch) {
  const int32_t T = d->templateSize;
  const int32_t side = 2 * (T / 2) + 1;
  patch->assign(static_cast<size_t>(side) * side, 0.0f);
  Image_NormalisedPatch(padded, static_cast<int32_t>(std::lround(row)), static_cast<int32_t>(std::lround(col)), T,
                        patch->data());
  const int32_t n = std::min(side, T);
  float s = 0.0f;
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c) s += ((*patch)[r * side + c] * 2.0f - 1.0f) * tmpl[r * T + c];
  return s / static_cast<float>(side);
}

bool PairPasses(float a, float b) { return a + b > 20.0f && a > 11.0f && b > 11.0f; }

Vec2 BoxPos(const RotTemplateBox& b) { return Vec2_FromInt(b.x, b.y); }

float Cosine(Vec2 u, Vec2 v) {
  const float l = Vec2_Length(&u) * Vec2_Length(&v);
  return l > 0.0f ? Vec2_Dot(&u, &v) / l : 0.0f;
}

void DropPair(RotTemplateDetector* d, int32_t p) {
  RotTemplatePair& q = d->pairs[p];
  q.used = 0;
  d->boxes[q.a].links -= 1;
  d->boxes[q.b].links -= 1;
}

bool Contains(const RotTemplatePair& p, int32_t box) { return p.a == box || p.b == box; }

bool FarClass(int32_t cls) { return cls == 2 || cls == 3; }

// One pass of the between-the-marks rule; true when a pair was dropped.
bool PruneBetween(RotTemplateDetector* d) {
  for (int32_t p = 0; p < d->pairCount; ++p) {
    if (!d->pairs[p].used) continue;
    const RotTemplatePair& ab = d->pairs[p];
    const Vec2 a = BoxPos(d->boxes[ab.a]), b = BoxPos(d->boxes[ab.b]);
    for (int32_t c = 0; c < d->boxCount; ++c) {
      if (c == ab.a || c == ab.b || d->boxes[c].links <= 0) continue;
      const Vec2 pc = BoxPos(d->boxes[c]);
      if (Cosine(Vec2_Sub(b, a), Vec2_Sub(pc, a)) <= 0.9f || Cosine(Vec2_Sub(a, b), Vec2_Sub(pc, b)) <= 0.9f)
        continue;
      for (int32_t o = 0; o < d->pairCount; ++o) {
        if (!d->pairs[o].used || !Contains(d->pairs[o], c)) continue;
        const RotTemplatePair& other = d->pairs[o];
        if (ab.distanceClass == 1 && (FarClass(other.distanceClass) || other.score <= ab.score))
          DropPair(d, o);
        else
          DropPair(d, p);
        return true;
      }
    }
  }
  return false;
}

// One pass of the shared-box rule; true when a pair was dropped.
bool PruneShared(RotTemplateDetector* d) {
  for (int32_t box = 0; box < d->boxCount; ++box) {
    if (d->boxes[box].links <= 1) continue;
    int32_t best = -1;
    for (int32_t p = 0; p < d->pairCount; ++p)
      if (d->pairs[p].used && Contains(d->pairs[p], box) && (best < 0 || d->pairs[p].score > d->pairs[best].score))
        best = p;
    if (best < 0) continue;
    const Vec2 at = BoxPos(d->boxes[box]);
    auto away = [&](const RotTemplatePair& q) {
      return Vec2_Sub(BoxPos(d->boxes[q.a == box ? q.b : q.a]), at);
    };
    for (int32_t p = 0; p < d->pairCount; ++p) {
      if (p == best || !d->pairs[p].used || !Contains(d->pairs[p], box)) continue;
      const RotTemplatePair& bp = d->pairs[best];
      const RotTemplatePair& q = d->pairs[p];
      const float c = std::fabs(Cosine(away(bp), away(q)));
      const bool sameClass = bp.distanceClass == q.distanceClass;
      int32_t drop = -1;
      if (c > 0.25f && c < 0.75f) {
        drop = FarClass(bp.distanceClass) && q.distanceClass == 1 ? best : p;
      } else if (c <= 0.25f) {
        if (sameClass) drop = p;
      } else if (!sameClass) {
        drop = FarClass(bp.distanceClass) ? best : p;
      }
      if (drop >= 0) {
        DropPair(d, drop);
        return true;
      }
    }
  }
  return false;
}

void BuildQuads(RotTemplateDetector* d) {
  d->quadCount = 0;
  for (int32_t p = 0; p < d->pairCount; ++p) {
    const RotTemplatePair& q = d->pairs[p];
    if (!q.used) continue;
    const Vec2 a = BoxPos(d->boxes[q.a]), b = BoxPos(d->boxes[q.b]);
    Vec2 u = Vec2_Sub(b, a);
    u = Vec2_DivScalar(u, Vec2_Length(&u));
    const Vec2 n = q.side > 0 ? Vec2_Make(-u.y, u.x) : Vec2_Make(u.y, -u.x);
    const float depth = q.distanceClass == 1 ? 140.0f : q.distanceClass == 2 ? 67.5f : 75.0f;
    RotTemplateQuad& out = d->quads[d->quadCount++];
    out.p[0] = a;
    out.p[1] = b;
    out.p[2] = Vec2_Add(b, Vec2_Scale(n, depth));
    out.p[3] = Vec2_Add(a, Vec2_Scale(n, depth));
    out.side = q.side;
    out.valid = 1;
  }
  for (int32_t i = 0; i < d->quadCount; ++i) {
    RotTemplateQuad& qi = d->quads[i];
    if (!qi.valid) continue;
    for (int32_t j = i + 1; j < d->quadCount; ++j) {
      RotTemplateQuad& qj = d->quads[j];
      if (!qj.valid) continue;
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += Vec2_MinCornerDistance(qi.p[k], qj.p);
      if (sum >= 100.0f) continue;
      auto dist = [](Vec2 a, Vec2 b) {
        const Vec2 v = Vec2_Sub(a, b);
        return Vec2_Length(&v);
      };
      const float d00 = dist(qi.p[0], qj.p[0]), d01 = dist(qi.p[0], qj.p[1]);
      const float d10 = dist(qi.p[1], qj.p[0]), d11 = dist(qi.p[1], qj.p[1]);
      if (d00 > 50.0f && d01 > 50.0f && d10 > 50.0f && d11 > 50.0f) {
        if (d00 <= d01) {
          qi.p[2] = qj.p[1];
          qi.p[3] = qj.p[0];
        } else {
          qi.p[2] = qj.p[0];
          qi.p[3] = qj.p[1];
        }
      }
      qj.valid = 0;
    }
  }
}

}  // namespace

int32_t RotTemplate_DistanceClass(float d) {
  if (d > 63.65f && d < 98.75f) return 1;
  if (d > 172.1f && d < 198.5f) return 2;
  if (d > 135.1f && d < 172.1f) return 3;
  return 0;
}

void RotTemplate_Detect(RotTemplateDetector* d, const Matrix* frame) {
  if (d == nullptr || frame == nullptr || frame->data == nullptr || d->classifiers.empty()) return;
  if (frame->cols != d->frameWidth || frame->rows != d->frameHeight) return;
  const int32_t W = d->frameWidth, H = d->frameHeight, T = d->templateSize;

  std::vector<float> smoothData(static_cast<size_t>(W) * H);
  Matrix smooth{W, H, smoothData.data()};
  Image_Smooth3x3(frame, &smooth, 8);
  std::vector<float> channels, mask;
  ComputeChannels(d, &smooth, &channels, &mask);

  // Window scan with the first four classifiers.
  std::vector<PointRecord> cands;
  const int32_t cw = d->channelWidth, wh = d->windowHeight, ww = d->windowWidth;
  for (int32_t k = 0; k < kRotTemplateMinClassifiers; ++k) {
    for (int32_t r = 0; r + wh <= d->channelHeight; ++r) {
      for (int32_t c = 0; c + ww <= cw; ++c) {
        if (static_cast<int32_t>(cands.size()) >= kRotTemplateMaxCandidates) break;
        if (mask[static_cast<size_t>(r + wh / 2) * cw + c + ww / 2] <= 0.5f) continue;
        const float s = ScoreWindow(d, d->classifiers[k], channels.data(), r, c);
        if (s > 12.0f) cands.push_back(PointRecord{ww + 2 * c, wh + 2 * r, 1, s});
      }
    }
  }
  Points_SuppressNear(cands.data(), static_cast<int32_t>(cands.size()), 10.0f);
  d->boxCount = 0;
  for (const PointRecord& p : cands) {
    if (!p.valid) continue;
    if (d->boxCount >= kRotTemplateMaxBoxes) break;
    d->boxes[d->boxCount] = RotTemplateBox{d->boxCount, p.y, p.x, p.y + T, p.x + T, p.value, 0};
    ++d->boxCount;
  }

  // Pairs, checked against the template of their direction on the frame
  // padded by T.
  std::vector<float> paddedData(static_cast<size_t>(W + 2 * T) * (H + 2 * T));
  Matrix padded{W + 2 * T, H + 2 * T, paddedData.data()};
  Matrix_PadReplicate(&smooth, &padded, T, T);
  std::vector<float> patch;
  d->pairCount = 0;
  for (int32_t i = 0; i < d->boxCount && d->pairCount < kRotTemplateMaxPairs; ++i) {
    for (int32_t j = i + 1; j < d->boxCount && d->pairCount < kRotTemplateMaxPairs; ++j) {
      const Vec2 a = BoxPos(d->boxes[i]), b = BoxPos(d->boxes[j]);
      Vec2 dir = Vec2_Sub(b, a);
      const float dist = Vec2_Length(&dir);
      const int32_t cls = RotTemplate_DistanceClass(dist);
      if (cls == 0) continue;
      float angle = std::atan2(dir.y, dir.x);
      if (angle < 0.0f) angle += 3.1415927f;
      const int32_t turn = static_cast<int32_t>(angle / 3.1415927f * 180.0f + 0.5f) % kRotTemplateTurns;
      const float* tmpl = d->templates[turn].data();
      dir = Vec2_DivScalar(dir, dist);
      const Vec2 n = Vec2_Make(-dir.y, dir.x);
      const float s = static_cast<float>(T / 2);
      float resp[3][2];
      const float shift[3] = {s, -s, 0.0f};
      for (int k = 0; k < 3; ++k) {
        resp[k][0] = Response(d, &padded, a.y + n.y * shift[k] + T, a.x + n.x * shift[k] + T, tmpl, &patch);
        resp[k][1] = Response(d, &padded, b.y + n.y * shift[k] + T, b.x + n.x * shift[k] + T, tmpl, &patch);
      }
      const int win = resp[0][0] + resp[0][1] >= resp[1][0] + resp[1][1] ? 0 : 1;
      if (!PairPasses(resp[win][0], resp[win][1]) || !PairPasses(resp[2][0], resp[2][1])) continue;
      d->boxes[i].links += 1;
      d->boxes[j].links += 1;
      d->pairs[d->pairCount++] =
          RotTemplatePair{i, j, cls, win == 0 ? 1 : -1, d->boxes[i].score + d->boxes[j].score, 1};
    }
  }
  while (PruneBetween(d) || PruneShared(d)) {
  }
  BuildQuads(d);
}

void Image8_Copy(const Matrix* src, Matrix* dst) {
  std::memcpy(dst->data, src->data, sizeof(float) * kRotTemplateChannels * static_cast<size_t>(src->cols) * src->rows);
}

void Image8_Fill(Matrix* img, const float value[8]) {
  const size_t n = static_cast<size_t>(img->cols) * img->rows;
  for (size_t i = 0; i < n; ++i) std::memcpy(img->data + i * kRotTemplateChannels, value, sizeof(float) * 8);
}

void Image8_SetChannel(const Matrix* src, Matrix* dst, int32_t channel) {
  if (channel < 0 || channel >= kRotTemplateChannels) return;
  const size_t n = static_cast<size_t>(src->cols) * src->rows;
  for (size_t i = 0; i < n; ++i) dst->data[i * kRotTemplateChannels + channel] = src->data[i];
}

void Image8_ScaleChannel(Matrix* img, int32_t channel, float factor) {
  if (channel < 0 || channel >= kRotTemplateChannels) return;
  const size_t n = static_cast<size_t>(img->cols) * img->rows;
  for (size_t i = 0; i < n; ++i) img->data[i * kRotTemplateChannels + channel] *= factor;
}

void Image_LocalContrast(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  const size_t n = static_cast<size_t>(src->cols) * src->rows;
  float mx = 0.0f;
  for (size_t i = 0; i < n; ++i) mx = std::max(mx, src->data[i]);
  std::vector<float> meanData(n);
  Matrix mean{src->cols, src->rows, meanData.data()};
  Image_BoxMean(src, &mean, rx, ry);
  for (size_t i = 0; i < n; ++i)
    dst->data[i] = mx > 0.0f ? (src->data[i] - meanData[i]) / (2.0f * mx) + 0.5f : 0.5f;
}

void Image_BrightMask(const Matrix* src, Matrix* mask, int32_t high, int32_t low, int32_t cap, float fallback) {
  const size_t n = static_cast<size_t>(src->cols) * src->rows;
  int32_t hist[512] = {};
  for (size_t i = 0; i < n; ++i) {
    const int32_t b = static_cast<int32_t>(src->data[i] * 511.98f);
    hist[std::min(std::max(b, 0), 511)] += 1;
  }
  const int32_t want = static_cast<int32_t>(static_cast<float>(src->cols) * 0.1f * static_cast<float>(src->rows));
  float threshold = fallback;
  int32_t sum = 0;
  for (int32_t b = std::min(high, 511); b >= std::max(low, 0); --b) {
    sum += hist[b];
    if (sum >= want) {
      threshold = static_cast<float>(std::min(b, cap)) / 511.98f;
      break;
    }
  }
  for (size_t i = 0; i < n; ++i) mask->data[i] = src->data[i] >= threshold ? 1.0f : 0.0f;
}

void Image_NormalisedPatch(const Matrix* src, int32_t row, int32_t col, int32_t T, float* out) {
  const int32_t h = T / 2, side = 2 * h + 1;
  std::fill(out, out + static_cast<size_t>(side) * side, 0.0f);
  if (row - h < 0 || col - h < 0 || row + h >= src->rows || col + h >= src->cols) return;
  float mn = 1.0f, mx = 0.0f;
  for (int32_t r = -h; r <= h; ++r)
    for (int32_t c = -h; c <= h; ++c) {
      const float v = src->data[static_cast<size_t>(row + r) * src->cols + col + c];
      mn = std::min(mn, v);
      mx = std::max(mx, v);
    }
  if (mx <= mn) return;
  for (int32_t r = -h; r <= h; ++r)
    for (int32_t c = -h; c <= h; ++c)
      out[(r + h) * side + c + h] = (src->data[static_cast<size_t>(row + r) * src->cols + col + c] - mn) / (mx - mn);
}
