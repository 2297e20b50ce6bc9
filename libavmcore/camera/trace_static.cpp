#include "camera/trace_lines.h"

namespace {

bool MapInside(const TraceView& v, float x, float y, float* px, float* py) {
  if (v.map == nullptr || v.width <= 0 || v.height <= 0) return false;
  if (v.map(v.ctx, x, y, px, py) == 0) return false;
  return *px >= 0.0f && *px <= static_cast<float>(v.width - 1) && *py >= 0.0f &&
         *py <= static_cast<float>(v.height - 1);
}

bool Append(TraceSegmentList* list, uint8_t kind, float xa, float ya, float xb, float yb) {
  // The styles stay well below the capacity; still never write past it.
  if (list->count >= list->capacity) return false;
  const int32_t i = list->count++;
  list->x1[i] = xa;
  list->y1[i] = ya;
  list->x2[i] = xb;
  list->y2[i] = yb;
  list->kind[i] = kind;
  return true;
}

}  // namespace

int Trace_AddSegment(const TraceView& view, uint8_t kind, TraceSegmentList* list, float xa, float ya, float xb,
                     float yb) {
  float ax, ay, bx, by;
  if (!MapInside(view, xa, ya, &ax, &ay) || !MapInside(view, xb, yb, &bx, &by)) return 0;
  return Append(list, kind, ax, ay, bx, by) ? 1 : 0;
}

int Trace_AddChordSegment(const TraceView& view, uint8_t kind, TraceSegmentList* list, float xa, float ya,
                          float xb, float yb) {
  int n = 0;
  const float dx = xb - xa, dy = yb - ya;
  for (int i = 0; i <= 8; ++i) {
    const float t0 = static_cast<float>(i) / 10.0f, t1 = static_cast<float>(i + 2) / 10.0f;
    n += Trace_AddSegment(view, kind, list, xa + t0 * dx, ya + t0 * dy, xa + t1 * dx, ya + t1 * dy);
  }
  return n;
}

int Trace_AddSegmentEx(const TraceView& view, int32_t chord, uint8_t kind, TraceSegmentList* list, float xa,
                       float ya, float xb, float yb) {
  return chord != 0 ? Trace_AddChordSegment(view, kind, list, xa, ya, xb, yb)
                    : Trace_AddSegment(view, kind, list, xa, ya, xb, yb);
}

namespace {

struct Geo {
  float xL, xR, Wd, y0, y1, y2, y3, yN;
};

Geo GeoOf(const TraceEdgeSet& e, int32_t nearMark) {
  Geo g;
  g.xL = static_cast<float>(e.xLeft - e.margin);
  g.xR = static_cast<float>(e.xRight + e.margin);
  g.Wd = g.xR - g.xL;
  const float dir = static_cast<float>(e.dir), b = static_cast<float>(e.bumperY);
  g.y0 = static_cast<float>(e.startY);
  g.y1 = b + dir * static_cast<float>(e.d0);
  g.y2 = b + dir * static_cast<float>(e.d1);
  g.y3 = b + dir * static_cast<float>(e.d2);
  g.yN = b + dir * static_cast<float>(nearMark);
  return g;
}

// Two ticks at y from each side line inward: [xL, xL + 4t], [xL + (n - 4)t, xL + n t].
int Ticks(const TraceView& v, TraceSegmentList* list, const Geo& g, float y, float n, uint8_t kind) {
  const float t = g.Wd / n;
  return Trace_AddSegment(v, kind, list, g.xL, y, g.xL + 4.0f * t, y) +
         Trace_AddSegment(v, kind, list, g.xL + (n - 4.0f) * t, y, g.xL + n * t, y);
}

int SolidZones(const TraceView& v, TraceSegmentList* list, const Geo& g) {
  const float ys[4] = {g.y0, g.y1, g.y2, g.y3};
  int n = 0;
  for (int z = 0; z < 3; ++z) {
    const uint8_t kind = static_cast<uint8_t>(z + 1);
    n += Trace_AddChordSegment(v, kind, list, g.xL, ys[z], g.xL, ys[z + 1]);
    n += Trace_AddChordSegment(v, kind, list, g.xR, ys[z], g.xR, ys[z + 1]);
  }
  return n;
}

int Dashed(const TraceView& v, TraceSegmentList* list, const Geo& g) {
  int n = 0;
  const float sides[2] = {g.xL, g.xR};
  {
    const float u = (g.y1 - g.y0) / 7.0f;
    for (float x : sides) {
      n += Trace_AddChordSegment(v, 1, list, x, g.y0, x, g.y0 + 3.0f * u);
      n += Trace_AddChordSegment(v, 1, list, x, g.y0 + 4.0f * u, x, g.y0 + 7.0f * u);
    }
  }
  const float from[2] = {g.y1, g.y2}, to[2] = {g.y2, g.y3};
  for (int z = 0; z < 2; ++z) {
    const float u = (to[z] - from[z]) / 8.0f;
    const uint8_t kind = static_cast<uint8_t>(z + 2);
    for (float x : sides) {
      n += Trace_AddChordSegment(v, kind, list, x, from[z] + u, x, from[z] + 4.0f * u);
      n += Trace_AddChordSegment(v, kind, list, x, from[z] + 5.0f * u, x, from[z] + 8.0f * u);
    }
  }
  n += Ticks(v, list, g, g.y1, 51.0f, 1);
  n += Ticks(v, list, g, g.y2, 41.0f, 2);
  n += Ticks(v, list, g, g.y3, 31.0f, 3);
  return n;
}

}  // namespace

int Trace_StaticLines(const TraceEdgeSet& e, int32_t style, int32_t nearMark, const TraceView& v,
                      TraceSegmentList* list) {
  const Geo g = GeoOf(e, nearMark);
  const int32_t s7 = style & 7;
  int n = 0;
  switch (s7) {
    case 0:
    case 1:
      return Dashed(v, list, g);
    case 2:
    case 4: {
      const float k = (style & 8) ? 2.0f : 1.0f;
      n += SolidZones(v, list, g);
      n += Ticks(v, list, g, g.y1, 20.0f * k, 1);
      n += Ticks(v, list, g, g.y2, 18.0f * k, 2);
      n += Ticks(v, list, g, g.y3, 16.0f * k, 3);
      if (style & 4) n += Ticks(v, list, g, g.yN, 20.0f * k, 1);
      return n;
    }
    case 3:
    case 5:
    case 7:
      n += SolidZones(v, list, g);
      if (s7 != 7) {
        n += Trace_AddSegment(v, 1, list, g.xL, g.y1, g.xR, g.y1);
        n += Trace_AddSegment(v, 2, list, g.xL, g.y2, g.xR, g.y2);
      }
      n += Trace_AddSegment(v, 3, list, g.xL, g.y3, g.xR, g.y3);
      if (s7 == 5) {
        const float t = g.Wd / 44.0f;
        for (int i = 0; i <= 36; i += 12)
          n += Trace_AddSegment(v, 1, list, g.xL + static_cast<float>(i) * t, g.yN,
                                g.xL + static_cast<float>(i + 8) * t, g.yN);
      }
      return n;
    default:  // 6: centre mark
      n += SolidZones(v, list, g);
      n += Trace_AddSegment(v, 1, list, g.xL, g.y1, g.xR, g.y1);
      n += Trace_AddChordSegment(v, 2, list, 0.0f, g.y2 - 150.0f, 0.0f, g.y2 + 150.0f);
      return n;
  }
}
