// Trace lines drawn into the views of the model's view object.
#include "camera/trace_lines.h"
#include "camera/view_object.h"
#include "camera/view_point_mapping.h"

namespace {

// Views that are not set up write nothing: report the invalid point.
int UndistMap(const void* ctx, float x, float y, float* px, float* py) {
  *px = *py = -2.0f;
  return UndistView_Physical2Disp(const_cast<UndistViewBlock*>(static_cast<const UndistViewBlock*>(ctx)), x, y,
                                  0.0f, 1, px, py);
}
int UndistMapRaw(const void* ctx, float x, float y, float* px, float* py) {
  *px = *py = -2.0f;
  return UndistView_Physical2Disp(const_cast<UndistViewBlock*>(static_cast<const UndistViewBlock*>(ctx)), x, y,
                                  0.0f, 0, px, py);
}
int ZoomMap(const void* ctx, float x, float y, float* px, float* py) {
  return ZoomView_MapPoint(px, py, const_cast<ZoomViewBlock*>(static_cast<const ZoomViewBlock*>(ctx)), 1, x, y,
                           0.0f);
}
int ZoomMapRaw(const void* ctx, float x, float y, float* px, float* py) {
  return ZoomView_MapPoint(px, py, const_cast<ZoomViewBlock*>(static_cast<const ZoomViewBlock*>(ctx)), 0, x, y,
                           0.0f);
}

}  // namespace

TraceView TraceView_Of(const TraceModel* model, int32_t camera, int32_t zoomFlag) {
  TraceView v;
  if (model == nullptr || model->owner == nullptr) return v;
  UndistOB* view = model->owner;
  const int32_t slot = View_CameraSlot(camera);
  if (zoomFlag != 0) {
    const ZoomViewBlock* z = &view->zoom[slot];
    if (z->pointFunction == nullptr) return v;  // never set up
    v.width = z->width;
    v.height = z->height;
    v.map = ZoomMap;
    v.mapRaw = ZoomMapRaw;
    v.ctx = z;
  } else {
    const UndistViewBlock* b = &view->undist[slot];
    v.width = b->width;
    v.height = b->height;
    v.map = UndistMap;
    v.mapRaw = UndistMapRaw;
    v.ctx = b;
  }
  return v;
}

int CalcUndistStaticTraceLine(TraceModel* model, int32_t camera, int32_t zoomFlag, TraceSegmentList* list) {
  if (model == nullptr || model->owner == nullptr || list == nullptr) return 0;
  const int32_t cam = camera == 1 ? 1 : 2;
  const TraceEdgeSet& e = camera == 1 ? model->front : model->rear;
  const TraceView view = TraceView_Of(model, cam, zoomFlag);
  return Trace_StaticLines(e, model->style, model->nearMark, view, list);
}

int CalcUndistDynamicTracePoint(TraceModel* m, int32_t camera, int32_t zoomFlag, float a) {
  if (m == nullptr || m->owner == nullptr) return 0;
  const TraceView view = TraceView_Of(m, camera == 2 ? 2 : 1, zoomFlag);
  return Trace_DynamicLines(m, camera, view, a);
}

void DirectCalcUndistPoints(TraceModel* m, int32_t mode, int32_t zoomFlag, int32_t n, const float* xin,
                            const float* yin, float* xout, float* yout, uint8_t* valid, float angle) {
  if (m == nullptr) return;
  const TraceView v = TraceView_Of(m, (mode & 15) == 2 ? 2 : 1, zoomFlag);
  Direct_Points(m, mode, &v, {n, xin, yin, xout, yout, valid}, angle);
}

int DirectCalcUndistTraceLP(TraceModel* m, int32_t mode, int32_t zoomFlag, int32_t n, float* xout, float* yout,
                            float* third, float angle, float x, float yA, float yB) {
  if (m == nullptr) return 0;
  const TraceView v = TraceView_Of(m, (mode & 15) == 2 ? 2 : 1, zoomFlag);
  return Direct_TraceLP(m, mode, &v, {n, xout, yout, third}, angle, {x, yA, yB});
}

