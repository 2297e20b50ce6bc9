// Dynamic trace lines of the bird's-eye view (display pixels).
#include <algorithm>
#include <cmath>

#include "camera/trace_lines.h"
#include "frame/numeric_constants.h"

namespace {

struct MergerCtx {
  const TraceModel* m;
  TracePointList* list;
  float xMax, yMax;  // exclusive bounds f3 - 6, f5 - 6
  bool Inside(float x, float y) const { return x >= 5.0f && x < xMax && y >= 5.0f && y < yMax; }
  void Push(float x, float y, uint8_t kind) {
    if (list->count >= list->capacity) return;
    const int32_t i = list->count++;
    list->x[i] = x;
    list->y[i] = y;
    list->kind[i] = kind;
    list->extra[i] = 0.0f;
  }
  float Px(float x) const {
    Physical2DispMergerPoint(m, &x);
    return x;
  }
  float Row(float y) const {
    Physical2DispMergerPointInt(m, &y);
    return y;
  }
};

// Straight piece: one pixel along the longer axis from the smaller to the
// larger truncated end (end excluded).
void MergerTrace_AddLine(MergerCtx& c, float xa, float ya, float xb, float yb, uint8_t kind) {
  const float dx = xb - xa, dy = yb - ya;
  if (std::fabs(dx) >= std::fabs(dy)) {
    if (dx == 0.0f) return;
    const int32_t lo = static_cast<int32_t>(std::min(xa, xb)), hi = static_cast<int32_t>(std::max(xa, xb));
    for (int32_t i = lo; i < hi; ++i) {
      const float y = ya + (static_cast<float>(i) - xa) * dy / dx;
      if (c.Inside(static_cast<float>(i), y)) c.Push(static_cast<float>(i), y, kind);
    }
  } else {
    const int32_t lo = static_cast<int32_t>(std::min(ya, yb)), hi = static_cast<int32_t>(std::max(ya, yb));
    for (int32_t i = lo; i < hi; ++i) {
      const float x = xa + (static_cast<float>(i) - ya) * dx / dy;
      if (c.Inside(x, static_cast<float>(i))) c.Push(x, static_cast<float>(i), kind);
    }
  }
}

struct MergerMarks {
  float x[4] = {0, 0, 0, 0}, y[4] = {0, 0, 0, 0};
  bool set[4] = {false, false, false, false};
};

// Circle walk in display pixels from row y0 to row y1 in 0.1 px steps.
MergerMarks MergerTrace_AddArc(MergerCtx& c, float cx, float cy, float r, int32_t side, float y0, float y1,
                               uint8_t kind, int32_t flags, const float* thresholds) {
  MergerMarks mk;
  const float sign = y1 >= y0 ? 1.0f : -1.0f;
  const float span = std::fabs(y1 - y0);
  const int32_t steps = static_cast<int32_t>(std::min(span / 0.1f, 200000.0f));
  int32_t lastIx = -1, lastIy = -1;
  float length = 0.0f, px = 0.0f, py = 0.0f;
  bool have = false;
  for (int32_t n = 0; n <= steps; ++n) {
    const float y = y0 + sign * 0.1f * static_cast<float>(n);
    float x;
    if (!Circle_XAtY(cx, cy, r, side, y, &x)) break;
    if (x <= 5.0f || x >= c.xMax) break;
    if (have && (flags & 1)) length += std::hypot(x - px, y - py);
    px = x;
    py = y;
    have = true;
    const int32_t ix = static_cast<int32_t>(std::lround(x)), iy = static_cast<int32_t>(std::lround(y));
    if ((ix != lastIx || iy != lastIy) && c.Inside(x, y)) {
      c.Push(x, y, kind);
      lastIx = ix;
      lastIy = iy;
    }
    if (flags & 1) {
      for (int k = 0; k < 4; ++k)
        if (!mk.set[k] && length >= thresholds[k]) {
          mk.x[k] = x;
          mk.y[k] = y;
          mk.set[k] = true;
        }
      if (length > 1.2f * span) break;
    }
  }
  return mk;
}

}  // namespace

void Physical2DispMergerPoint(const TraceModel* m, float* x) {
  *x = *x / m->mmPerPixel + static_cast<float>(m->f3) / 2.0f;
}

void Physical2DispMergerPointInt(const TraceModel* m, float* y) {
  *y = *y / m->mmPerPixel + static_cast<float>(m->f6 + (m->carBottomPx - m->f6) / 2);
}

int CalcDynamicMergerTracePoint(TraceModel* m, int32_t camera, float a) {
  if (m == nullptr || m->owner == nullptr) return 0;
  const bool rear = camera == 2;
  const TraceEdgeSet& e = rear ? m->rear : m->front;
  TracePointList* list = rear ? &m->mergerB : &m->mergerA;
  list->count = 0;
  if (list->capacity <= 0 || !std::isfinite(a)) return 0;
  MergerCtx c{m, list, static_cast<float>(m->f3 - 6), static_cast<float>(m->f5 - 6)};
  const int32_t style = m->dynStyle, s7 = style & 7;
  const float dir = static_cast<float>(e.dir), bumper = static_cast<float>(e.bumperY);
  const float xL = static_cast<float>(e.xLeft - e.margin), xR = static_cast<float>(e.xRight + e.margin);
  const float y0 = static_cast<float>(e.startY), y3 = bumper + dir * static_cast<float>(e.d2);
  const float edgeRow = c.Row(static_cast<float>(e.edgeY));
  const float thresholds[4] = {std::fabs(c.Row(bumper + dir * static_cast<float>(e.d0)) - edgeRow),
                               std::fabs(c.Row(bumper + dir * static_cast<float>(e.d1)) - edgeRow),
                               std::fabs(c.Row(y3) - edgeRow) - 5.0f,
                               std::fabs(c.Row(bumper + dir * static_cast<float>(m->nearMark)) - edgeRow)};
  MergerMarks left, right;
  const bool paths = (style & 0x1000) == 0;
  if (std::fabs(a) < kDynStraightBound) {
    if (paths) {
      MergerTrace_AddLine(c, c.Px(xL), c.Row(y0), c.Px(xL), c.Row(y3), 4);
      MergerTrace_AddLine(c, c.Px(xR), c.Row(y0), c.Px(xR), c.Row(y3), 4);
    }
    if ((style & 0x18) == 0x18) {
      const float xl = static_cast<float>(e.xLeft), xr = static_cast<float>(e.xRight);
      MergerTrace_AddLine(c, c.Px(xl), c.Row(y0), c.Px(xl), c.Row(y3), 7);
      MergerTrace_AddLine(c, c.Px(xr), c.Row(y0), c.Px(xr), c.Row(y3), 7);
    }
    for (int k = 0; k < 4; ++k) {
      const float yk = k < 2 ? bumper + dir * static_cast<float>(k == 0 ? e.d0 : e.d1)
                             : (k == 2 ? y3 : bumper + dir * static_cast<float>(m->nearMark));
      left.x[k] = c.Px(xL);
      right.x[k] = c.Px(xR);
      left.y[k] = right.y[k] = c.Row(yk);
      left.set[k] = right.set[k] = true;
    }
  } else {
    const float wb = static_cast<float>(m->limit2);
    const float Rw = wb / std::tan(a * kPi / 180.0f);
    const float h = (xR - xL) / 2.0f, d = static_cast<float>(e.turnDist11);
    const float r1 = std::hypot(h - Rw, d), r2 = std::hypot(-Rw - h, d);
    const float D = rear ? -static_cast<float>(m->carBoxLength) / 2.0f - static_cast<float>(e.axleY) +
                               static_cast<float>(m->traceOffset)
                         : 0.0f;
    const float r3 =
        std::hypot(std::fabs(Rw) - static_cast<float>(m->carBoxWidth) / 2.0f - static_cast<float>(e.margin), D);
    const int32_t side = a > 0 ? 2 : 1;
    const float mpp = m->mmPerPixel;
    const float cx = c.Px(-Rw), cy = c.Row(static_cast<float>(e.axleY));
    const float rowA = c.Row(y0), rowB = c.Row(y3);
    if (paths) {
      left = MergerTrace_AddArc(c, cx, cy, r1 / mpp, side, rowA, rowB, 4, 1, thresholds);
      right = MergerTrace_AddArc(c, cx, cy, r2 / mpp, side, rowA, rowB, 4, 1, thresholds);
    }
    if ((style & 0x08) || ((style & 0x10) && std::fabs(a) > 2.0f))
      MergerTrace_AddArc(c, cx, cy, r3 / mpp, side, rowA, rowB, 7, 0, thresholds);
  }
  if (style & 0x20) {
    for (int k = 0; k < 4; ++k) {
      if (k == 3 && s7 != 3) continue;  // near mark only in style 3
      if (s7 != 2 && s7 != 3 && s7 != 4) continue;
      if (s7 == 4 && !(left.set[k] && right.set[k])) continue;
      const uint8_t kind = static_cast<uint8_t>(4 + std::min(k, 2));
      if (left.set[k]) MergerTrace_AddLine(c, left.x[k] - 10.0f, left.y[k], left.x[k] + 10.0f, left.y[k] + 0.01f, kind);
      if (right.set[k])
        MergerTrace_AddLine(c, right.x[k] - 10.0f, right.y[k], right.x[k] + 10.0f, right.y[k] + 0.01f, kind);
    }
  }
  return list->count;
}
