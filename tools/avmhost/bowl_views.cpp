// CPU drawing of the bowl view: textured triangles with a depth buffer per
// camera group (as the display application's GPU draws them), and the
// picture of the 3-D LUT.
#include "bowl_views.h"

#include <algorithm>
#include <cmath>

namespace {

// Bilinear grey of the quad frame at pixel (x, y), pixel centres at integers.
float Bilinear(const HostImage& q, float x, float y) {
  x = std::min(std::max(x, 0.0f), static_cast<float>(q.width - 1));
  y = std::min(std::max(y, 0.0f), static_cast<float>(q.height - 1));
  const int32_t x0 = std::min(static_cast<int32_t>(x), q.width - 2), y0 = std::min(static_cast<int32_t>(y), q.height - 2);
  const float fx = x - x0, fy = y - y0;
  const auto at = [&](int32_t xx, int32_t yy) { return static_cast<float>(q.data[static_cast<size_t>(yy) * q.width + xx]); };
  return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
}

uint8_t Grey(float v) { return static_cast<uint8_t>(std::min(std::max(v + 0.5f, 0.0f), 255.0f)); }

}  // namespace

void BowlCanvas_Init(BowlCanvas* c, int32_t width, int32_t height) {
  c->width = width;
  c->height = height;
  const size_t n = static_cast<size_t>(width) * height;
  for (int g = 0; g < 2; ++g) {
    c->depth[g].assign(n, 2.0f);
    c->grey[g].assign(n, 0.0f);
    c->weight[g].assign(n, -1.0f);
  }
}

void BowlCanvas_Draw(BowlCanvas* c, int32_t group, const float* vertices, const float* texture, uint32_t n,
                     int32_t texStride, const float mvp[16], const HostImage& quad) {
  const int32_t W = c->width, H = c->height;
  const int32_t per = texStride / 3;  // texture floats a corner
  for (uint32_t t = 0; t < n; ++t) {
    float sx[3], sy[3], sz[3], iw[3];
    bool visible = true;
    for (int k = 0; k < 3 && visible; ++k) {
      const float* p = vertices + static_cast<size_t>(t) * 9 + 3 * k;
      const float v[4] = {p[0], -p[1], -p[2], 1.0f};
      float r[4];
      for (int i = 0; i < 4; ++i) r[i] = mvp[4 * i] * v[0] + mvp[4 * i + 1] * v[1] + mvp[4 * i + 2] * v[2] + mvp[4 * i + 3] * v[3];
      visible = r[3] > 1.0f;  // in front of the viewer
      iw[k] = 1.0f / r[3];
      sx[k] = (r[0] * iw[k] + 1.0f) * (W / 2);
      sy[k] = (1.0f - r[1] * iw[k]) * (H / 2);
      sz[k] = r[2] * iw[k];
    }
    if (!visible) continue;
    const float area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
    if (area == 0.0f) continue;
    const float* tex = texture + static_cast<size_t>(t) * texStride;
    const int32_t x0 = std::max(static_cast<int32_t>(std::ceil(std::min({sx[0], sx[1], sx[2]}))), 0);
    const int32_t x1 = std::min(static_cast<int32_t>(std::floor(std::max({sx[0], sx[1], sx[2]}))), W - 1);
    const int32_t y0 = std::max(static_cast<int32_t>(std::ceil(std::min({sy[0], sy[1], sy[2]}))), 0);
    const int32_t y1 = std::min(static_cast<int32_t>(std::floor(std::max({sy[0], sy[1], sy[2]}))), H - 1);
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        const float px = static_cast<float>(x), py = static_cast<float>(y);
        float b[3];
        b[0] = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
        b[1] = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
        b[2] = 1.0f - b[0] - b[1];
        if (b[0] < 0.0f || b[1] < 0.0f || b[2] < 0.0f) continue;
        const float z = b[0] * sz[0] + b[1] * sz[1] + b[2] * sz[2];
        const size_t i = static_cast<size_t>(y) * W + x;
        if (z >= c->depth[group][i]) continue;
        // Perspective-correct texture coordinates and weight.
        const float q0 = b[0] * iw[0], q1 = b[1] * iw[1], q2 = b[2] * iw[2], qs = q0 + q1 + q2;
        const auto interp = [&](int k) { return (q0 * tex[k] + q1 * tex[per + k] + q2 * tex[2 * per + k]) / qs; };
        const float u = interp(0), v = interp(1);
        c->depth[group][i] = z;
        c->grey[group][i] = Bilinear(quad, u * (quad.width - 1), v * (quad.height - 1));
        c->weight[group][i] = per >= 3 ? std::max(interp(2), 0.0f) : 1.0f;
      }
  }
}

HostImage BowlCanvas_Picture(const BowlCanvas& c) {
  HostImage pic;
  pic.width = c.width;
  pic.height = c.height;
  pic.data.assign(static_cast<size_t>(c.width) * c.height, 0);
  for (size_t i = 0; i < pic.data.size(); ++i) {
    const bool a = c.weight[0][i] >= 0.0f, b = c.weight[1][i] >= 0.0f;
    if (!a && !b) continue;
    float v;
    if (a && b) {
      const float wa = c.weight[0][i], wb = c.weight[1][i];
      v = wa + wb > 0.0f ? (wa * c.grey[0][i] + wb * c.grey[1][i]) / (wa + wb) : (c.grey[0][i] + c.grey[1][i]) / 2;
    } else {
      v = a ? c.grey[0][i] : c.grey[1][i];
    }
    pic.data[i] = Grey(v);
  }
  return pic;
}

HostImage BowlLut_Picture(const std::vector<int32_t>& uv1, const std::vector<int32_t>& uv0,
                          const std::vector<int32_t>& weights, int32_t width, int32_t height,
                          const HostImage& quad) {
  constexpr int32_t kHoleLimit = -20470000;
  HostImage pic;
  pic.width = width;
  pic.height = height;
  pic.data.assign(static_cast<size_t>(width) * height, 0);
  const float midRow = static_cast<float>(quad.height / 2);
  for (size_t i = 0; i < pic.data.size(); ++i) {
    const bool a = uv1[2 * i] > kHoleLimit && uv1[2 * i + 1] > kHoleLimit;
    const bool b = uv0[2 * i] > kHoleLimit && uv0[2 * i + 1] > kHoleLimit;
    if (!a && !b) continue;
    const float ga = a ? Bilinear(quad, uv1[2 * i] / 1024.0f, uv1[2 * i + 1] / 1024.0f) : 0.0f;
    const float gb = b ? Bilinear(quad, uv0[2 * i] / 1024.0f, uv0[2 * i + 1] / 1024.0f + midRow) : 0.0f;
    float w = a && b ? weights[2 * i] / 1023.0f : (a ? 1.0f : 0.0f);
    w = std::min(std::max(w, 0.0f), 1.0f);
    pic.data[i] = Grey(w * ga + (1 - w) * gb);
  }
  return pic;
}
