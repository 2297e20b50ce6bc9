// Direct trace projections: caller-given ground geometry of the straight-
// ahead path, bent along the turning circle of the steering angle and mapped
// into a view, into the bird's-eye view or left on the ground.
#include <algorithm>
#include <cmath>

#include "camera/trace_lines.h"
#include "frame/numeric_constants.h"

namespace {

const TraceEdgeSet& EndSet(const TraceModel* m, int32_t mode) { return (mode & 15) == 2 ? m->rear : m->front; }

struct Turn {
  bool straight = true;
  float cx = 0, cy = 0;
  int32_t side = 1;
};

Turn TurnOf(const TraceModel* m, const TraceEdgeSet& e, float angle) {
  Turn t;
  if (std::fabs(angle) <= kDirectStraightBound) return t;
  t.straight = false;
  const float Rw = static_cast<float>(m->limit2) / std::tan(angle * kPi / 180.0f);
  t.cx = -Rw;
  t.cy = static_cast<float>(e.axleY);
  t.side = angle > 0 ? 2 : 1;
  return t;
}

float RadiusOf(const TraceModel* m, const TraceEdgeSet& e, int32_t mode, const Turn& t, float x) {
  const float dx = t.cx - x;
  if ((mode & 0x10) == 0) return std::hypot(static_cast<float>(e.turnDist10), dx);
  if ((mode & 15) == 2) {
    const float d = -static_cast<float>(m->carBoxLength) / 2.0f - static_cast<float>(e.axleY) +
                    static_cast<float>(m->traceOffset);
    return std::hypot(d, dx);
  }
  return std::fabs(dx);
}

// Bends one ground point; false when it lies past the circle (then it is
// moved to the circle's end point).
bool Bend(const Turn& t, float r, float x, float y, float* bx, float* by) {
  if (t.straight) {
    *bx = x;
    *by = y;
    return true;
  }
  const float dy = y - t.cy;
  const float q = r * r - dy * dy;
  if (q < 0.0f) {
    *bx = t.cx;
    *by = y > 0.0f ? t.cy + r : t.cy - r;
    return false;
  }
  *bx = t.side == 1 ? t.cx - std::sqrt(q) : t.cx + std::sqrt(q);
  *by = y;
  return true;
}

// Maps a bent ground point into the target (null: the ground itself).
int Project(const TraceView* view, float x, float y, float* px, float* py) {
  if (view == nullptr) {
    *px = x;
    *py = y;
    return 1;
  }
  auto fn = view->mapRaw != nullptr ? view->mapRaw : view->map;
  if (fn == nullptr) {
    *px = *py = -2.0f;
    return 0;
  }
  return fn(view->ctx, x, y, px, py);
}

int MergerMap(const void* ctx, float x, float y, float* px, float* py) {
  const TraceModel* m = static_cast<const TraceModel*>(ctx);
  Physical2DispMergerPoint(m, &x);
  Physical2DispMergerPointInt(m, &y);
  *px = x;
  *py = y;
  return 1;
}

TraceView MergerView(const TraceModel* m) {
  TraceView v;
  v.width = m->f3;
  v.height = m->f5;
  v.map = MergerMap;
  v.mapRaw = MergerMap;
  v.ctx = m;
  return v;
}

}  // namespace

void Direct_Points(TraceModel* m, int32_t mode, const TraceView* view, const DirectPointSet& pts, float angle) {
  const int32_t n = pts.n;
  const float *xin = pts.xin, *yin = pts.yin;
  float *xout = pts.xout, *yout = pts.yout;
  uint8_t* valid = pts.valid;
  if (m == nullptr || !std::isfinite(angle) || n < 1 || xin == nullptr || yin == nullptr || xout == nullptr ||
      yout == nullptr)
    return;
  const TraceEdgeSet& e = EndSet(m, mode);
  const Turn t = TurnOf(m, e, angle);
  for (int32_t i = 0; i < n; ++i) {
    float bx, by;
    const bool onCircle = Bend(t, t.straight ? 0.0f : RadiusOf(m, e, mode, t, xin[i]), xin[i], yin[i], &bx, &by);
    const int r = Project(view, bx, by, &xout[i], &yout[i]);
    if (valid != nullptr) valid[i] = onCircle ? static_cast<uint8_t>(r != 0) : 0;
  }
}

int Direct_TraceLP(TraceModel* m, int32_t mode, const TraceView* view, const DirectLineSamples& out, float angle,
                   const DirectGroundLine& line) {
  const int32_t n = out.n;
  float *xout = out.xout, *yout = out.yout, *third = out.third;
  const float x = line.x, yA = line.yA, yB = line.yB;
  if (m == nullptr || yA == yB || !std::isfinite(angle) || !std::isfinite(x) || !std::isfinite(yA) ||
      !std::isfinite(yB))
    return 0;
  if (n < 1 || xout == nullptr || yout == nullptr) return 0;
  const TraceEdgeSet& e = EndSet(m, mode);
  const Turn t = TurnOf(m, e, angle);
  const float yNear = std::fabs(yA) <= std::fabs(yB) ? yA : yB;
  const float yFar = yNear == yA ? yB : yA;
  const float span = std::fabs(yFar - yNear), sign = yFar > yNear ? 1.0f : -1.0f;
  const float r = t.straight ? 0.0f : RadiusOf(m, e, mode, t, x);
  float lengthScale = 1.0f;
  if (!t.straight && (mode & 0x100) && r > 0.0f) {
    const float side = static_cast<float>(angle < 0 ? e.xLeft : e.xRight);
    const float rSide = std::hypot(t.cx - side, static_cast<float>(e.turnDist10));
    lengthScale = rSide / r;
  }
  // Pixel spacing kept between lo and 1.2 lo (ground form: an even split).
  const float h = view != nullptr ? static_cast<float>(view->height) : 0.0f;
  const float lo = h * (t.straight ? 0.3f : 0.55f) / static_cast<float>(n), hi = 1.2f * lo;
  float step = (span / static_cast<float>(n)) / 2.0f;
  if (view == nullptr) step = n > 1 ? span / static_cast<float>(n - 1) : span;
  step *= lengthScale;
  float walked = 0.0f, prev = 0.0f, lastPx = 0, lastPy = 0;
  bool have = false;
  int32_t k = 0;
  for (int guard = 0; k < n && guard < 100000; ++guard) {
    const float y = yNear + sign * walked;
    float bx, by;
    if (!Bend(t, r, x, y, &bx, &by)) {
      // Past the circle's end: skip ahead by half a step.
      if (walked >= span) break;
      walked = std::min(walked + step * 0.5f, span);
      continue;
    }
    float px, py;
    Project(view, bx, by, &px, &py);
    if (view != nullptr && have) {
      const float d = std::hypot(px - lastPx, py - lastPy);
      if (d > hi && step > 1e-3f && walked > prev) {
        step /= 1.2f;
        walked = std::min(prev + step, span);
        continue;
      }
      if (d < lo) step *= 1.2f;
    }
    xout[k] = px;
    yout[k] = py;
    if (third != nullptr) third[k] = by;
    ++k;
    lastPx = px;
    lastPy = py;
    have = true;
    prev = walked;
    if (walked >= span) break;
    walked = std::min(walked + step, span);
  }
  if (k == 0) return 0;
  // Fewer samples than asked (far end reached): repeat the last one.
  for (int32_t i = k; i < n; ++i) {
    xout[i] = xout[k - 1];
    yout[i] = yout[k - 1];
    if (third != nullptr) third[i] = third[k - 1];
  }
  return 1;
}

void DirectCalcMergerPoints(TraceModel* m, int32_t end, int32_t /*second*/, int32_t n, const float* xin,
                            const float* yin, float* xout, float* yout, uint8_t* valid, float angle) {
  if (m == nullptr) return;
  const TraceView v = MergerView(m);
  Direct_Points(m, end == 2 ? 2 : 1, &v, {n, xin, yin, xout, yout, valid}, angle);
}

void DirectCalcPhyTracePoints(TraceModel* m, int32_t mode, int32_t n, const float* xin, const float* yin,
                              float* xout, float* yout, uint8_t* valid, float angle) {
  Direct_Points(m, mode, nullptr, {n, xin, yin, xout, yout, valid}, angle);
}

int DirectCalcMergerTraceLP(TraceModel* m, int32_t end, int32_t flags, int32_t n, float* xout, float* yout,
                            float* third, float angle, float x, float yA, float yB) {
  if (m == nullptr) return 0;
  const TraceView v = MergerView(m);
  const int ok =
      Direct_TraceLP(m, (end == 2 ? 2 : 1) | (flags & 0x100), &v, {n, xout, yout, third}, angle, {x, yA, yB});
  // Bit 0 hands the line out from the far end to the near one.
  if (ok && (flags & 1)) {
    std::reverse(xout, xout + n);
    std::reverse(yout, yout + n);
    if (third != nullptr) std::reverse(third, third + n);
  }
  return ok;
}

int DirectCalcPhyTraceLP(TraceModel* m, int32_t mode, int32_t n, float* xout, float* yout, float* third,
                         float angle, float x, float yA, float yB) {
  return Direct_TraceLP(m, mode, nullptr, {n, xout, yout, third}, angle, {x, yA, yB});
}
