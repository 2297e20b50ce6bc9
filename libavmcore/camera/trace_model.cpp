#include "camera/trace_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "frame/global_variables.h"

namespace {

int32_t Trunc(float v) {
  if (!(v > -2.1e9f && v < 2.1e9f)) return 0;  // NaN or out of range: no line rather than UB
  return static_cast<int32_t>(v);
}

void AllocList(TracePointList* list, int32_t capacity) {
  memset(list, 0, sizeof *list);
  if (capacity <= 0) return;
  list->x = new (std::nothrow) float[capacity];
  list->y = new (std::nothrow) float[capacity];
  list->kind = new (std::nothrow) uint8_t[capacity];
  list->extra = new (std::nothrow) float[capacity];
  if (list->x && list->y && list->kind && list->extra) {
    list->capacity = capacity;
    return;
  }
  delete[] list->x;
  delete[] list->y;
  delete[] list->kind;
  delete[] list->extra;
  memset(list, 0, sizeof *list);
}

void FreeList(TracePointList* list) {
  delete[] list->x;
  delete[] list->y;
  delete[] list->kind;
  delete[] list->extra;
  list->x = list->y = list->extra = nullptr;
  list->kind = nullptr;
  list->capacity = list->count = 0;
}

}  // namespace

int TraceModel_Create(TraceModel* m, UndistOB* owner, int32_t frameWidth, int32_t frameHeight,
                      int32_t carBoxWidth, int32_t carBoxLength, int32_t limit1, int32_t limit2) {
  if (m->owner != nullptr) return 1;
  GlobalVariables& g = gv();
  const Config& cfg = g.config;
  const ExtraConfig& ex = g.extraConfig;

  m->frameWidth = frameWidth;
  m->frameHeight = frameHeight;
  m->carBoxWidth = carBoxWidth;
  m->carBoxLength = carBoxLength;
  m->limit1 = limit1;
  m->limit2 = limit2;
  GlobalVariables_CalcDerivedSizes(carBoxWidth, carBoxLength);

  const int32_t L = carBoxLength;
  const int32_t f3 = g.f3, f4 = g.f4, f5 = g.f5, f6 = g.f6;
  const bool noBlind = ex.layoutMode == 3;
  const int32_t f20 = g.f20_23[0], f21 = g.f20_23[1];
  // A zero car image width would make every bird's-eye value infinite.
  m->mmPerPixel = f4 > 0 ? static_cast<float>(carBoxWidth) / static_cast<float>(f4) : 1.0f;
  const float mpp = m->mmPerPixel;
  m->f3 = f3;
  m->f5 = f5;
  m->f6 = f6;
  m->carLeftPx = (f3 - f4) / 2;
  m->carRightPx = m->carLeftPx + f4;
  const int32_t carLenPx = Trunc(static_cast<float>(L) / mpp);
  m->carBottomPx = f6 + carLenPx;

  const int32_t xLeft = Trunc(static_cast<float>(m->carLeftPx - f3 / 2) * mpp);
  const int32_t xRight = Trunc(static_cast<float>(m->carRightPx - f3 / 2) * mpp);
  const float c = static_cast<float>(f6) + static_cast<float>(carLenPx) * 0.5f;
  const float rearOff = noBlind ? 0.0f : static_cast<float>(f21);
  const float frontOff = noBlind ? 0.0f : static_cast<float>(f20);

  TraceEdgeSet* sets[2] = {&m->rear, &m->front};
  for (TraceEdgeSet* e : sets) {
    const bool rear = e == &m->rear;
    e->d0 = cfg.zoneDistance[0];
    e->d1 = cfg.zoneDistance[1];
    e->d2 = cfg.zoneDistance[2];
    e->margin = cfg.lateralMargin;
    e->xLeft = xLeft;
    e->xRight = xRight;
    e->bumperY = rear ? Trunc((static_cast<float>(m->carBottomPx) - c) * mpp - rearOff)
                      : Trunc(frontOff + (static_cast<float>(f6) - c) * mpp);
    e->startY = rear ? L / 2 - ex.rearLineStart : -L / 2 + ex.frontLineStart;
    e->edgeY = rear ? L / 2 : -L / 2;
    e->axleY = rear ? L / 2 - f21 - limit1 : (L - L / 2) - f21 - limit1;
    e->dir = rear ? 1 : -1;
    switch (ex.layoutMode) {
      case 1:
        e->turnDist10 = e->turnDist11 = rear ? 0 : limit2;
        break;
      case 2:
        e->turnDist10 = e->turnDist11 = rear ? limit1 : L - f20 - f21 - limit1;
        break;
      default:
        e->turnDist10 = std::abs(e->axleY - e->startY);
        e->turnDist11 = std::abs(e->axleY - e->edgeY);
        break;
    }
  }

  m->nearMark = std::min(ex.nearMark, cfg.zoneDistance[0]);
  m->traceOffset = ex.traceOffset;
  m->dynStyle = cfg.dynamicStyle;
  m->style = cfg.staticStyle;
  m->layoutMode = ex.layoutMode == 3 ? 0 : ex.layoutMode;

  const int32_t big = std::max(frameWidth, frameHeight);
  // Frame sizes come from a file; keep the lists within a sane bound.
  const int32_t base = big > 0 && big <= 16384 ? big : 0;
  AllocList(&m->undistA, base * 10);
  AllocList(&m->mergerA, base * 8);
  AllocList(&m->undistB, base * 10);
  AllocList(&m->mergerB, base * 8);

  m->row1 = Trunc(static_cast<float>(L - f21 - limit1 - limit2) / mpp + static_cast<float>(f6));
  m->row2 = Trunc(static_cast<float>(limit2) / mpp + static_cast<float>(m->row1));
  m->owner = owner;
  return 1;
}

void Undist4Camera_ReleaseModel(TraceModel* m) {
  FreeList(&m->undistA);
  FreeList(&m->mergerA);
  FreeList(&m->undistB);
  FreeList(&m->mergerB);
  m->owner = nullptr;
}
