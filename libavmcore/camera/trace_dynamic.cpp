#include <algorithm>
#include <cmath>

#include "camera/trace_lines.h"
#include "frame/numeric_constants.h"

namespace {

// The walks stop after this many samples whatever the geometry does.
constexpr int kMaxWalkSteps = 200000;

// Colour byte: kind of the nearest zone; 7 while style 3 runs.
uint8_t gTraceColour = 4;

struct Pt {
  float x = 0, y = 0;
  bool set = false;
};

// One list being filled for one view.
struct Walker {
  TracePointList* list;
  const TraceView* view;
  const TraceEdgeSet* e;
  int32_t nearMark;

  bool Push(float px, float py, uint8_t kind) {
    if (list->count >= list->capacity) return false;
    const int32_t i = list->count++;
    list->x[i] = px;
    list->y[i] = py;
    list->kind[i] = kind;
    list->extra[i] = 0.0f;
    return true;
  }
  float YAt(int32_t dist) const {
    return static_cast<float>(e->bumperY) + static_cast<float>(e->dir) * static_cast<float>(dist);
  }
  // Kind by distance along the car.
  uint8_t KindOf(float y) const {
    const float ay = std::fabs(y);
    if (ay < std::fabs(YAt(nearMark))) return gTraceColour;
    if (ay < std::fabs(YAt(e->d0))) return 4;
    if (ay < std::fabs(YAt(e->d1))) return 5;
    return 6;
  }
  bool Map(float x, float y, float* px, float* py) const {
    if (view->map == nullptr) return false;
    return view->map(view->ctx, x, y, px, py) != 0;
  }
  bool Inside(float px, float py) const {
    if (!(std::fabs(px) < 1e6f && std::fabs(py) < 1e6f)) return false;  // also NaN
    const int32_t ix = static_cast<int32_t>(std::floor(px + 0.5f));
    const int32_t iy = static_cast<int32_t>(std::floor(py + 0.5f));
    return ix >= 0 && ix < view->width - 1 && iy >= 0 && iy < view->height - 1;
  }
};

// Straight ground segment with an adaptive step (start 2 mm along the
// longer axis); kind 0 picks the kind by distance. offA, offB shift the
// drawn points by (height - 1) / 720 units along x and y.
void DynTrace_AddLine(Walker& w, float xa, float ya, float xb, float yb, uint8_t kind, float offA = 0.0f,
                      float offB = 0.0f) {
  const float len = std::hypot(xb - xa, yb - ya);
  if (!(len > 0.0f)) return;
  const float unit = static_cast<float>(w.view->height - 1) / 720.0f;
  const float longer = std::max(std::fabs(xb - xa), std::fabs(yb - ya));
  float step = 2.0f * len / longer;  // 2 mm along the longer axis
  const float startAbs = std::fabs(static_cast<float>(w.e->startY));
  float s = 0.0f, lastX = 0, lastY = 0;
  bool have = false;
  for (int n = 0; n < kMaxWalkSteps && s <= len; ++n) {
    const float t = s / len;
    const float x = xa + t * (xb - xa), y = ya + t * (yb - ya);
    float px, py;
    if (w.Map(x, y, &px, &py)) {
      if (have) {
        const float d2 = (px - lastX) * (px - lastX) + (py - lastY) * (py - lastY);
        if (d2 > 1.0f) step /= 1.1f;
        else if (d2 < 0.64f) step *= 1.1f;
      }
      lastX = px;
      lastY = py;
      have = true;
      px += offA * unit;
      py += offB * unit;
      if (w.Inside(px, py) && std::fabs(y) > startAbs) w.Push(px, py, kind ? kind : w.KindOf(y));
    }
    step = std::clamp(step, 0.05f, 50.0f);
    s += step;
  }
}

struct ArcMarks {
  Pt mark[4];  // at d0, d1, far end - 200, near mark
  Pt end;      // last point of the walk
  bool reached = false;
};

// Circle walk of one path from startY toward y3: inside points appended,
// the arc length summed, marks recorded where the length passes the zone
// distances. Returns the marks.
ArcMarks DynTrace_AddArc(Walker& w, float cx, float cy, float r, int32_t side, float yStart, float yEnd,
                         uint8_t kind) {
  ArcMarks out;
  const TraceEdgeSet& e = *w.e;
  const float thresholds[4] = {std::fabs(w.YAt(e.d0) - yStart), std::fabs(w.YAt(e.d1) - yStart),
                               std::fabs(yEnd - yStart) - 200.0f, std::fabs(w.YAt(w.nearMark) - yStart)};
  const float sign = yEnd >= yStart ? 1.0f : -1.0f;
  float step = 3.0f, y = yStart, walked = 0.0f;
  float lastGX = 0, lastGY = 0, lastPX = 0, lastPY = 0;
  bool haveGround = false, havePixel = false;
  for (int n = 0; n < kMaxWalkSteps; ++n) {
    float x;
    if (!Circle_XAtY(cx, cy, r, side, y, &x)) break;
    if (haveGround) walked += std::hypot(x - lastGX, y - lastGY);
    lastGX = x;
    lastGY = y;
    haveGround = true;
    float px, py;
    if (w.Map(x, y, &px, &py) && w.Inside(px, py)) {
      w.Push(px, py, kind ? kind : gTraceColour);
      if (havePixel) {
        const float d2 = (px - lastPX) * (px - lastPX) + (py - lastPY) * (py - lastPY);
        if (d2 > 1.0f) step /= d2 / 0.82f;
        else if (d2 < 0.64f) step *= 1.1f;
      }
      lastPX = px;
      lastPY = py;
      havePixel = true;
    }
    for (int k = 0; k < 4; ++k)
      if (!out.mark[k].set && walked >= thresholds[k] && thresholds[k] > 0.0f) out.mark[k] = {x, y, true};
    out.end = {x, y, true};
    if ((yEnd - y) * sign <= 0.0f) {
      out.reached = true;
      break;
    }
    step = std::clamp(step, 0.05f, 50.0f);
    y += sign * step;
    if ((yEnd - y) * sign < 0.0f) y = yEnd;
  }
  return out;
}

float Rad(float deg) { return deg * kPi / 180.0f; }

float ArcAngle(float cx, float cy, float x, float y) { return std::atan2(std::fabs(y - cy), std::fabs(x - cx)); }

// The second path's walker: starts on the car's side of startY (1500 mm for
// the front set, 1000 mm for the rear set), walks toward the far end and
// records where the arc angle passes each of the thresholds (the angles of
// the first path's marks), the kinds there 5, 6, 6 and 4.
ArcMarks DynTrace_AddArcAngles(Walker& w, float cx, float cy, float r, int32_t side, float yStart, float yEnd,
                               const float* thresholds, const bool* useThreshold) {
  ArcMarks out;
  const float sign = yEnd >= yStart ? 1.0f : -1.0f;
  const float back = yStart < 0.0f ? 1500.0f : 1000.0f;
  const float stop = yEnd + sign * 100.0f;
  const uint8_t markKinds[4] = {5, 6, 6, 4};
  const float startAbs = std::fabs(yStart);
  float y = yStart - sign * back, step = 3.0f, lastPX = 0, lastPY = 0;
  bool havePixel = false;
  float prevAngle = 0.0f;
  bool haveAngle = false;
  for (int n = 0; n < kMaxWalkSteps && (stop - y) * sign >= 0.0f; ++n) {
    float x;
    if (!Circle_XAtY(cx, cy, r, side, y, &x)) break;
    float px, py;
    const bool mapped = w.Map(x, y, &px, &py);
    if (mapped && (px < 0.0f || py < 0.0f)) {
      step = 5.0f;
      havePixel = false;
    } else if (mapped) {
      if (havePixel) {
        const float d2 = (px - lastPX) * (px - lastPX) + (py - lastPY) * (py - lastPY);
        if (d2 > 1.0f) step /= d2 / 0.82f;
        else if (d2 < 0.64f) step *= 1.1f;
      } else {
        step = 1.0f;  // first step after a (re)start
      }
      lastPX = px;
      lastPY = py;
      havePixel = true;
      const float angle = ArcAngle(cx, cy, x, y);
      uint8_t kind = gTraceColour;
      if (haveAngle) {
        for (int k = 0; k < 4; ++k) {
          if (!useThreshold[k] || out.mark[k].set) continue;
          const float t = thresholds[k];
          if ((prevAngle - t) * (angle - t) <= 0.0f) {
            out.mark[k] = {x, y, true};
            kind = markKinds[k];
          }
        }
      }
      prevAngle = angle;
      haveAngle = true;
      if (std::fabs(y) > startAbs && w.Inside(px, py)) w.Push(px, py, kind);
    }
    if ((yEnd - y) * sign <= 0.0f && !out.reached) {
      out.reached = true;
      out.end = {x, y, true};
    }
    step = std::clamp(step, 0.05f, 50.0f);
    y += sign * step;
  }
  return out;
}

// Mark of one side: from the recorded point toward the car centre line by w.
void SideMark(Walker& w, const Pt& p, float inward, uint8_t kind, float offA, float offB) {
  if (!p.set) return;
  const float dir = p.x > 0.0f ? -1.0f : 1.0f;
  DynTrace_AddLine(w, p.x, p.y, p.x + dir * inward, p.y, kind, offA, offB);
}

void DynTrace_Simple(TraceModel* m, TraceEdgeSet& e, Walker& w, float a) {
  e.d0 = 500;
  e.d1 = 1000;
  e.d2 = 2000;
  w.list->count = 0;
  const bool rear = e.dir > 0;
  const int32_t markCount = rear ? 6 : 4;
  const int32_t dists[6] = {500, 1000, 2000, 3000, 4000, 5000};
  const float xL = static_cast<float>(e.xLeft - e.margin), xR = static_cast<float>(e.xRight + e.margin);
  const float y0 = static_cast<float>(e.startY);
  const float yFar = w.YAt(dists[markCount - 1]);
  Pt left[6], right[6];
  if (std::fabs(a) < kDynStraightBound) {
    DynTrace_AddLine(w, xL, y0, xL, yFar, 0);
    DynTrace_AddLine(w, xR, y0, xR, yFar, 0);
    for (int i = 0; i < markCount; ++i) {
      left[i] = {xL, w.YAt(dists[i]), true};
      right[i] = {xR, w.YAt(dists[i]), true};
    }
  } else {
    const float wb = static_cast<float>(m->limit2), t = std::tan(Rad(a));
    const float cx = -wb / t, cy = static_cast<float>(e.axleY), h = (xR - xL) / 2.0f;
    const float d = static_cast<float>(e.turnDist10);
    const float r1 = std::hypot(h - wb / t, d), r2 = std::hypot(-wb / t - h, d);
    const int32_t side = a > 0 ? 2 : 1;
    // Walk each side and note where it passes each mark row.
    auto walk = [&](float r, Pt* marks) {
      ArcMarks am = DynTrace_AddArc(w, cx, cy, r, side, y0, yFar, 0);
      (void)am;
      for (int i = 0; i < markCount; ++i) {
        float x;
        if (Circle_XAtY(cx, cy, r, side, w.YAt(dists[i]), &x)) marks[i] = {x, w.YAt(dists[i]), true};
      }
    };
    walk(r1, left);
    walk(r2, right);
  }
  if (w.list->count == 0) return;
  const float inward = 0.12f * (xR - xL);
  if (left[0].set && right[0].set) DynTrace_AddLine(w, left[0].x, left[0].y, right[0].x, right[0].y, 4);
  for (int i = 1; i < markCount; ++i) {
    if (!(left[i].set && right[i].set) && i != markCount - 1) continue;
    const uint8_t kind = i == 1 ? 5 : 6;
    SideMark(w, left[i], inward, kind, 0, 0);
    SideMark(w, right[i], inward, kind, 0, 0);
  }
}

}  // namespace

uint8_t Trace_ColourByte() { return gTraceColour; }

bool Circle_XAtY(float cx, float cy, float r, int32_t side, float y, float* x) {
  const float q = r * r - (y - cy) * (y - cy);
  if (q < 0.0f) return false;
  *x = side == 1 ? cx - std::sqrt(q) : cx + std::sqrt(q);
  return true;
}

bool Circle_PointAfterArc(float cx, float cy, float r, int32_t side, float y, float s, float* outX, float* outY) {
  if (!(r > 0.0f) || std::fabs(y - cy) > r) return false;
  // Angle from the centre row: y = cy + r sin(phi); side 1 lies left of the
  // centre, where larger y means a larger phi too.
  const float phi = std::asin((y - cy) / r) + s / r;
  *outY = cy + r * std::sin(phi);
  *outX = side == 1 ? cx - r * std::cos(phi) : cx + r * std::cos(phi);
  return true;
}

bool Circle_PointAtArcLength(float cx, float cy, float r, int32_t side, float y, float s, float* outX, float* outY,
                             float* angle) {
  if (!(r > 0.0f) || std::fabs(y - cy) > r) return false;
  const float phi = std::asin((y - cy) / r) + s / r;
  float sn, cs;
  sn = std::sin(phi);
  cs = std::cos(phi);
  *outY = cy + r * sn;
  *outX = side == 1 ? cx - r * cs : cx + r * cs;
  if (angle != nullptr) *angle = phi;
  return true;
}

void Trace_PushOut(float cy, float d, float* y) { *y += *y >= cy ? d : -d; }

float TraceTurnRadius(const TraceModel* m, int32_t camera, int32_t which, float a) {
  if (std::fabs(a) <= kDynStraightBound) return 1.0f;
  const TraceEdgeSet& e = camera == 2 ? m->rear : m->front;
  const float d = static_cast<float>(which != 0 ? e.turnDist11 : e.turnDist10);
  const float side = static_cast<float>(a < 0 ? e.xLeft : e.xRight);
  return std::hypot(d, -static_cast<float>(m->limit2) / std::tan(Rad(a)) - side);
}

int Trace_DynamicLines(TraceModel* m, int32_t camera, const TraceView& view, float a) {
  const bool rear = camera == 2;
  TraceEdgeSet& e = rear ? m->rear : m->front;
  TracePointList* list = rear ? &m->undistB : &m->undistA;
  Walker w{list, &view, &e, m->nearMark};
  const int32_t style = m->dynStyle;
  const int32_t s7 = style & 7;
  list->count = 0;
  if (list->capacity <= 0 || !std::isfinite(a)) return 0;
  if (s7 == 0 && ((style >> 8) & 15) == 1) {
    DynTrace_Simple(m, e, w, a);
    gTraceColour = 4;
    return list->count;
  }
  if (s7 == 3) gTraceColour = 7;
  const bool anchors = (style & 0x80) != 0 && list->capacity >= 3;
  if (anchors) {
    for (int i = 0; i < 3; ++i) {
      list->x[i] = list->y[i] = list->extra[i] = 0.0f;
      list->kind[i] = static_cast<uint8_t>(4 + i);
    }
    list->count = 3;
  }
  const float xL = static_cast<float>(e.xLeft - e.margin), xR = static_cast<float>(e.xRight + e.margin);
  const float inward = 0.12f * (xR - xL);
  const float y0 = static_cast<float>(e.startY);
  const float y3 = w.YAt(e.d2);
  const float bounds[3] = {w.YAt(e.d0), w.YAt(e.d1), y3};
  Pt left[3], right[3], nearL, nearR;
  float f = 1.0f;
  bool onlyFirst = false;
  if (std::fabs(a) < kDynStraightBound) {
    DynTrace_AddLine(w, xL, y0, xL, y3, 0);
    DynTrace_AddLine(w, xR, y0, xR, y3, 0);
    for (int i = 0; i < 3; ++i) {
      left[i] = {xL, bounds[i], true};
      right[i] = {xR, bounds[i], true};
    }
    nearL = {xL, w.YAt(m->nearMark), true};
    nearR = {xR, w.YAt(m->nearMark), true};
  } else {
    const float wb = static_cast<float>(m->limit2), t = std::tan(Rad(a));
    const float cx = -wb / t, cy = static_cast<float>(e.axleY), h = (xR - xL) / 2.0f;
    const float d = static_cast<float>(e.turnDist10);
    const float r1 = std::hypot(h - wb / t, d), r2 = std::hypot(-wb / t - h, d);
    const int32_t side = a > 0 ? 2 : 1;
    // First the outer path, then the inner one.
    const float rFirst = a > 0 ? r2 : r1, rSecond = a > 0 ? r1 : r2;
    onlyFirst = s7 == 5 && camera == 1;
    ArcMarks first = DynTrace_AddArc(w, cx, cy, rFirst, side, y0, y3, 0);
    ArcMarks second;
    if (!onlyFirst && (style & 0x40) != 0) {
      // The second path marks where it passes the arc angles of the first
      // path's marks.
      float angles[4] = {0, 0, 0, 0};
      bool use[4] = {false, false, false, false};
      for (int k = 0; k < 4; ++k) {
        const Pt& p = k == 2 ? (first.reached ? first.end : Pt{}) : first.mark[k];
        if (!p.set) continue;
        angles[k] = ArcAngle(cx, cy, p.x, p.y);
        use[k] = true;
      }
      second = DynTrace_AddArcAngles(w, cx, cy, rSecond, side, y0, y3, angles, use);
    } else if (!onlyFirst) {
      second = DynTrace_AddArc(w, cx, cy, rSecond, side, y0, y3, 0);
    }
    // Marks: recorded at d0, d1 and the far end (-200 mm) of each path.
    const ArcMarks& rightM = a > 0 ? first : second;
    const ArcMarks& leftM = a > 0 ? second : first;
    for (int i = 0; i < 3; ++i) {
      left[i] = i < 2 ? leftM.mark[i] : (leftM.reached ? leftM.end : Pt{});
      right[i] = i < 2 ? rightM.mark[i] : (rightM.reached ? rightM.end : Pt{});
    }
    nearL = leftM.mark[3];
    nearR = rightM.mark[3];
    f = std::fabs(a) > 38.0f ? 0.0f : 1.0f - std::fabs(a) / 38.0f;
  }
  const float offA = f * 2.2f, offB = 2.0f * f;
  if (s7 == 3) {
    SideMark(w, nearL, inward, gTraceColour, offA, offB);
    SideMark(w, nearR, inward, gTraceColour, offA, offB);
  }
  for (int i = 0; i < 3; ++i) {
    const uint8_t kind = static_cast<uint8_t>(4 + i);
    if (s7 == 2 || s7 == 3) {
      SideMark(w, left[i], inward, kind, offA, offB);
      SideMark(w, right[i], inward, kind, offA, offB);
    } else if (s7 == 4) {
      SideMark(w, left[i], inward, kind, 0, 0);
      SideMark(w, right[i], inward, kind, 0, 0);
    } else if (i == 2) {
      if ((s7 == 6 || (s7 == 5 && camera == 2)) && left[2].set && right[2].set) {
        DynTrace_AddLine(w, left[2].x, left[2].y, right[2].x, right[2].y, kind);
      } else {
        SideMark(w, left[2], inward, kind, offA, offB);
        SideMark(w, right[2], inward, kind, offA, offB);
      }
    }
  }
  if (anchors) {
    for (int i = 0; i < 3; ++i) {
      const Pt& p = left[i].set ? left[i] : right[i];
      float px = 0, py = 0;
      if (p.set && std::fabs(p.y) > std::fabs(y0) && w.Map(p.x, p.y, &px, &py) && w.Inside(px, py)) {
        list->x[i] = px;
        list->y[i] = py;
      }
    }
  }
  gTraceColour = 4;
  return list->count;
}
