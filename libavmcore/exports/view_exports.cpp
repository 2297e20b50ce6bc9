// Exported single-camera view, trace-line and point-mapping calls: thin
// wrappers over the view object, its meshes and its trace model.
#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "exports/export_guard.h"
#include "camera/trace_lines.h"
#include "camera/trace_model.h"
#include "camera/view_mesh.h"
#include "camera/view_object.h"
#include "camera/view_point_mapping.h"
#include "camera/view_source_maps.h"
#include "globalimage_api.h"
#include "toolkit/frame_savers.h"

namespace {

// The trace model the view object carries.
TraceModel* TraceOf(UndistOB* view) {
  if (view == nullptr || view->traceModel.owner == nullptr) return nullptr;
  return &view->traceModel;
}

// Argument tables of the set-up forms. The positional parameter lists
//   undistorted: i1..i10, f0..f7     cut: i1..i4, (three unused), i8, i9, f0..f7
// mean, for the view object's named set-up operations:
//   undistorted  i1 camera  i2 width  i3 height  i4 view type  i5 flip
//                i6 lower warp  i7 linear side warp  i8 cy lift  i9, i10 unused
//                f0 view angle (deg)  f1 angle divisor  f2 x shift  f3 y shift
//                f4 height/width ratio  f5 roll (deg)  f6 side warp  f7 upper warp
//   cut          i1 camera  i2 width  i3 height  i4 cut type  i8 x shift  i9 y shift
//                f0 rx  f1 ry  f2 rz (deg)  f3 focal reference  f4 aspect
//                f5 edge term 1  f6 edge term 2  f7 z offset
// The floats of the undistorted view follow the order the set-up logs them
// in; the short forms insert fixed values (see each export below).
// One positional form of the tables above: i1..i10 at i[0..9] (cut: i1..i9),
// f0..f7 at f[0..7].
struct UndistSetUpArgs {
  int32_t i[10];
  float f[8];
};
struct CutSetUpArgs {
  int32_t i[9];
  float f[8];
};

void UndistSetUp(UndistOB* v, const UndistSetUpArgs& a) {
  if (v == nullptr) return;
  const int32_t* i = a.i;
  const float* f = a.f;
  UndistView_Configure(v, UndistViewParam{i[0], i[1], i[2], i[3], i[4], f[0], f[1], f[2], f[3], f[4], f[5], f[6],
                                          f[7], static_cast<float>(i[5]), static_cast<float>(i[6]),
                                          static_cast<float>(i[7])});
}

void CutSetUp(UndistOB* v, const CutSetUpArgs& a) {
  if (v == nullptr) return;
  const int32_t* i = a.i;
  const float* f = a.f;
  // The short forms leave the aspect 0; a zero aspect divides every column
  // by zero, so it stands for the plain 1.
  const float aspect = f[4] == 0.0f ? 1.0f : f[4];
  CutView_Configure(v, CutViewParam{i[0], i[1], i[2], i[3], f[3], static_cast<float>(i[7]), static_cast<float>(i[8]),
                                    aspect, f[0], f[1], f[2], f[7], f[5], f[6]});
}

// Copies n entries of a trace point list, n = min(capacity in *count, list count).
void CopyPoints(const TracePointList& l, uint32_t* count, float* xs, float* ys, uint8_t* kinds) {
  if (count == nullptr) return;
  const uint32_t have = l.count > 0 ? static_cast<uint32_t>(l.count) : 0u;
  const uint32_t n = std::min(*count, have);
  for (uint32_t i = 0; i < n; ++i) {
    if (xs != nullptr) xs[i] = l.x[i];
    if (ys != nullptr) ys[i] = l.y[i];
    if (kinds != nullptr) kinds[i] = l.kind[i];
  }
  *count = n;
}

}  // namespace

UndistOB* KRV_GlobalImage_InitUndistOB(const char* cameraFile) try {
  if (cameraFile == nullptr) return nullptr;
  UndistOBPtr view(UndistOB_Create());
  if (view == nullptr) return nullptr;
  if (Undist4Camera_Init(view.get(), cameraFile) != 1) return nullptr;
  return view.release();
}
AVM_EXPORT_CATCH(nullptr)

int KRV_GlobalImage_UnInitUndistOB(UndistOB* view) try {
  if (view != nullptr) UndistOB_Destroy(view);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1, a2, a3, 1, a4, a6, a7, 0, 0, 0, f0, f1, f2, f3, 1.0, 0, 0, 0)
int KRV_GlobalImage_SetUndistParam(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t /*a5*/,
                                   int32_t a6, int32_t a7, float f0, float f1, float f2, float f3) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  UndistSetUp(v, {{a1, a2, a3, 1, a4, a6, a7, 0, 0, 0}, {f0, f1, f2, f3, 1.0f, 0, 0, 0}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1, a2, a3, 1, a4, a6, a7, 0, 0, 0, f0..f4, 0, 0, 0)
int KRV_GlobalImage_SetUndistParam_EX(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t /*a5*/,
                                      int32_t a6, int32_t a7, float f0, float f1, float f2, float f3, float f4) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  UndistSetUp(v, {{a1, a2, a3, 1, a4, a6, a7, 0, 0, 0}, {f0, f1, f2, f3, f4, 0, 0, 0}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1..a7, 0, 0, 0, f0..f5, 0, 0)
int KRV_GlobalImage_SetUndistParam_EXD(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                       int32_t a6, int32_t a7, float f0, float f1, float f2, float f3, float f4,
                                       float f5) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  UndistSetUp(v, {{a1, a2, a3, a4, a5, a6, a7, 0, 0, 0}, {f0, f1, f2, f3, f4, f5, 0, 0}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1..a8, 0, 0, f0..f7)
int KRV_GlobalImage_SetUndistParam_EXDD(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                        int32_t a6, int32_t a7, int32_t a8, float f0, float f1, float f2, float f3,
                                        float f4, float f5, float f6, float f7) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  UndistSetUp(v, {{a1, a2, a3, a4, a5, a6, a7, a8, 0, 0}, {f0, f1, f2, f3, f4, f5, f6, f7}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_SetUndistParam_EXDDD(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                         int32_t a6, int32_t a7, int32_t a8, int32_t a9, int32_t a10, float f0,
                                         float f1, float f2, float f3, float f4, float f5, float f6, float f7) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  UndistSetUp(v, {{a1, a2, a3, a4, a5, a6, a7, a8, a9, a10}, {f0, f1, f2, f3, f4, f5, f6, f7}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1..a4, -, -, -, 0, 0, f0, f1, f2, 1.0, 0, 0, 0, 200.0)
int KRV_GlobalImage_SetCutParam(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, float f0, float f1,
                                float f2) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  CutSetUp(v, {{a1, a2, a3, a4, 0, 0, 0, 0, 0}, {f0, f1, f2, 1.0f, 0, 0, 0, 200.0f}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1..a4, -, -, -, 0, 0, f0..f4, 0, 0, 200.0)
int KRV_GlobalImage_SetCutParam_EX(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, float f0, float f1,
                                   float f2, float f3, float f4) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  CutSetUp(v, {{a1, a2, a3, a4, 0, 0, 0, 0, 0}, {f0, f1, f2, f3, f4, 0, 0, 200.0f}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// (a1..a4, -, -, -, 0, 0, f0..f6, 200.0): the _EX pattern with the caller's
// values in place of its fixed zeros.
int KRV_GlobalImage_SetCutParam_EXD(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, float f0,
                                    float f1, float f2, float f3, float f4, float f5, float f6) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  CutSetUp(v, {{a1, a2, a3, a4, 0, 0, 0, 0, 0}, {f0, f1, f2, f3, f4, f5, f6, 200.0f}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_SetCutParam_EXDD(UndistOB* v, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t /*a5*/,
                                     int32_t /*a6*/, int32_t /*a7*/, int32_t a8, int32_t a9, float f0, float f1,
                                     float f2, float f3, float f4, float f5, float f6, float f7) try {
  if (!ExportPictureOk(__func__, a2, a3)) return kGlobalImageFailed;
  CutSetUp(v, {{a1, a2, a3, a4, 0, 0, 0, a8, a9}, {f0, f1, f2, f3, f4, f5, f6, f7}});
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_SetZoominParam(UndistOB* v, int32_t camera, int32_t width, int32_t height, int32_t flip,
                                   float angle, float left, float top, float right, float bottom) try {
  if (!ExportPictureOk(__func__, width, height)) return kGlobalImageFailed;
  if (v != nullptr) UndistView_SetZoominParam(v, camera, width, height, flip, angle, left, top, right, bottom);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateUndistLUT(UndistOB* v, int32_t camera, uint32_t* out) try {
  if (v == nullptr || out == nullptr) return kGlobalImageFailed;
  return UndistView_GenerateLUT(v, camera, out) != 0 ? 0 : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateCutLUT(UndistOB* v, int32_t camera, uint32_t* out) try {
  if (v == nullptr || out == nullptr) return kGlobalImageFailed;
  return CutView_GenerateLUT(v, camera, out) != 0 ? 0 : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateWideLUT_EX(UndistOB* v, int32_t camera, int32_t width, int32_t height, uint32_t* out,
                                       float f0, float f1, float f2) try {
  if (v == nullptr || out == nullptr || !ExportPictureOk(__func__, width, height))
    return kGlobalImageFailed;
  return WideView_GenerateLUT(v, camera, width, height, 1, out, f0, f1, f2, 0.0f, 0.0f, 1.0f) != 0
             ? 0
             : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateWideLUT_New(UndistOB* v, int32_t camera, int32_t width, int32_t height, int32_t mode,
                                        uint32_t* out, float f0, float f1, float f2, float f3) try {
  if (v == nullptr || out == nullptr || !ExportPictureOk(__func__, width, height))
    return kGlobalImageFailed;
  return WideView_GenerateLUT(v, camera, width, height, mode, out, f0, 0.0f, 0.0f, f1, f2, f3) != 0
             ? 0
             : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

// The mesh calls report a failed build (1) like the LUT calls, so that a
// caller never draws the stale mesh of an earlier count.
int KRV_GlobalImage_GenerateUndistTrian(UndistOB* v, int32_t camera, uint32_t* count, float* positions,
                                        float* texture) try {
  if (v == nullptr) return kGlobalImageFailed;
  return UndistView_GenerateTrian(v, camera, count, positions, texture) != 0 ? 0
                                                                             : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateCutTrian(UndistOB* v, int32_t camera, uint32_t* count, float* positions,
                                     float* texture) try {
  if (v == nullptr) return kGlobalImageFailed;
  return CutView_GenerateTrian(v, camera, count, positions, texture) != 0 ? 0 : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateWideTrian(UndistOB* v, int32_t camera, int32_t width, int32_t height, int32_t mode,
                                      uint32_t* count, float* positions, float* texture, float scale) try {
  if (v == nullptr || !ExportPictureOk(__func__, width, height)) return kGlobalImageFailed;
  return WideView_GenerateTrian(v, camera, width, height, mode, count, positions, texture, scale,
                                0.0f, 0.0f, 1.0f) != 0
             ? 0
             : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_GenerateWideTrian_New(UndistOB* v, int32_t camera, int32_t width, int32_t height, int32_t mode,
                                          uint32_t* count, float* positions, float* texture, float scale, float p1,
                                          float p2, float p3) try {
  if (v == nullptr || !ExportPictureOk(__func__, width, height)) return kGlobalImageFailed;
  return WideView_GenerateTrian(v, camera, width, height, mode, count, positions, texture, scale,
                                p1, p2, p3) != 0
             ? 0
             : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_Physical2DispPoint(UndistOB* v, int32_t camera, int32_t zoom, float x, float y, float z,
                                       float* outX, float* outY) try {
  if (v == nullptr || outX == nullptr || outY == nullptr) return 0;
  return UndistView_Physical2DispPoint(v, camera, zoom, x, y, z, outX, outY);
}
AVM_EXPORT_CATCH(0)

int KRV_GlobalImage_Physical2DispLine(UndistOB* v, int32_t camera, int32_t zoom, float x0, float y0, float x1,
                                      float y1, int32_t maxPoints, float* outX, float* outY) try {
  if (v == nullptr) return 0;
  return UndistView_Physical2DispLine(v, camera, zoom, x0, y0, x1, y1, maxPoints, outX, outY);
}
AVM_EXPORT_CATCH(0)

int KRV_GlobalImage_CameraImage2Physical(UndistOB* v, int32_t camera, float* outX, float* outY, float x, float y) try {
  if (v == nullptr || outX == nullptr || outY == nullptr) return kGlobalImageFailed;
  return UndistView_CameraImage2Physical(v, camera, x, y, outX, outY) != 0 ? 0 : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_Physical2DispMerger(UndistOB* v, float* outX, float* outY, float x, float y) try {
  TraceModel* m = TraceOf(v);
  if (m == nullptr || outX == nullptr || outY == nullptr) return 0;
  Physical2DispMergerPoint(m, &x);
  Physical2DispMergerPointInt(m, &y);
  *outX = x;
  *outY = y;
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_DirectCalcUndistPoints(UndistOB* v, int32_t mode, int32_t zoom, int32_t n, const float* xin,
                                           const float* yin, float* xout, float* yout, double angle) try {
  DirectCalcUndistPoints(TraceOf(v), mode, zoom, n, xin, yin, xout, yout, nullptr, static_cast<float>(angle));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_DirectCalcMergerPoints(UndistOB* v, int32_t end, int32_t second, int32_t n, const float* xin,
                                           const float* yin, float* xout, float* yout, double angle) try {
  DirectCalcMergerPoints(TraceOf(v), end, second, n, xin, yin, xout, yout, nullptr, static_cast<float>(angle));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_DirectCalcUndistTraceLP(UndistOB* v, int32_t mode, int32_t zoom, int32_t n, float* xout,
                                            float* yout, float* third, double angle, float x, float yA, float yB) try {
  return DirectCalcUndistTraceLP(TraceOf(v), mode, zoom, n, xout, yout, third,
                                 static_cast<float>(angle), x, yA, yB) != 0
             ? 0
             : kTraceLPFailed;
}
AVM_EXPORT_CATCH(kTraceLPFailed)

int KRV_GlobalImage_DirectCalcMergerTraceLP(UndistOB* v, int32_t end, int32_t flags, int32_t n, float* xout,
                                            float* yout, float* third, double angle, float x, float yA, float yB) try {
  return DirectCalcMergerTraceLP(TraceOf(v), end, flags, n, xout, yout, third,
                                 static_cast<float>(angle), x, yA, yB) != 0
             ? 0
             : kTraceLPFailed;
}
AVM_EXPORT_CATCH(kTraceLPFailed)

int KRV_GlobalImage_DirectCalcPhyTracePoints(UndistOB* v, int32_t mode, int32_t n, int32_t /*unused*/,
                                             const float* xin, const float* yin, float* xyout, double angle) try {
  TraceModel* m = TraceOf(v);
  if (m == nullptr || n < 1 || xyout == nullptr) return 0;
  std::vector<float> xs(static_cast<size_t>(n)), ys(static_cast<size_t>(n));
  DirectCalcPhyTracePoints(m, mode, n, xin, yin, xs.data(), ys.data(), nullptr, static_cast<float>(angle));
  for (int32_t i = 0; i < n; ++i) {
    xyout[2 * i] = xs[static_cast<size_t>(i)];
    xyout[2 * i + 1] = ys[static_cast<size_t>(i)];
  }
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_DirectCalcPhyTraceLP(UndistOB* v, int32_t mode, int32_t n, float* xout, float* yout,
                                         double angle, float x, float yA, float yB) try {
  return DirectCalcPhyTraceLP(TraceOf(v), mode, n, xout, yout, nullptr, static_cast<float>(angle), x, yA, yB) != 0
             ? n
             : 0;
}
AVM_EXPORT_CATCH(0)

int KRV_GlobalImage_DirectCalcPhyTraceLP_EX(UndistOB* v, int32_t mode, int32_t n, float* xout, float* yout,
                                            float* third, double angle, float x, float yA, float yB) try {
  return DirectCalcPhyTraceLP(TraceOf(v), mode, n, xout, yout, third, static_cast<float>(angle), x, yA, yB) != 0
             ? n
             : 0;
}
AVM_EXPORT_CATCH(0)

int KRV_GlobalImage_CalcUndistStaticTraceLine(UndistOB* v, int32_t camera, int32_t zoom, uint32_t* count,
                                              float* x1, float* y1, float* x2, float* y2, uint8_t* kinds) try {
  TraceModel* m = TraceOf(v);
  if (m == nullptr || x1 == nullptr || y1 == nullptr || x2 == nullptr || y2 == nullptr || kinds == nullptr) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  // Work list of 256; the caller's arrays hold as many.
  std::vector<float> a(kStaticSegmentCapacity), b(kStaticSegmentCapacity), c(kStaticSegmentCapacity),
      d(kStaticSegmentCapacity);
  std::vector<uint8_t> k(kStaticSegmentCapacity);
  TraceSegmentList list{kStaticSegmentCapacity, 0, a.data(), b.data(), c.data(), d.data(), k.data()};
  CalcUndistStaticTraceLine(m, camera, zoom, &list);
  const int32_t n = list.count;
  std::copy(a.begin(), a.begin() + n, x1);
  std::copy(b.begin(), b.begin() + n, y1);
  std::copy(c.begin(), c.begin() + n, x2);
  std::copy(d.begin(), d.begin() + n, y2);
  std::copy(k.begin(), k.begin() + n, kinds);
  if (count != nullptr) *count = static_cast<uint32_t>(n);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_CalcUndistDynamicTracePoint(UndistOB* v, int32_t camera, int32_t zoom, uint32_t* count,
                                                float* xs, float* ys, uint8_t* kinds, double angle) try {
  TraceModel* m = TraceOf(v);
  if (m == nullptr) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  CalcUndistDynamicTracePoint(m, camera, zoom, static_cast<float>(angle));
  CopyPoints(camera == 2 ? m->undistB : m->undistA, count, xs, ys, kinds);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_CalcDynamicMergerTracePoint(UndistOB* v, int32_t camera, uint32_t* count, float* xs, float* ys,
                                                uint8_t* kinds, double angle) try {
  TraceModel* m = TraceOf(v);
  if (m == nullptr) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  CalcDynamicMergerTracePoint(m, camera, static_cast<float>(angle));
  CopyPoints(camera == 2 ? m->mergerB : m->mergerA, count, xs, ys, kinds);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_SaveVideoImage(int32_t format, uint8_t* frame, int32_t width, int32_t height, const char* path) try {
  if (frame == nullptr || path == nullptr || !ExportPictureOk(__func__, width, height))
    return kGlobalImageFailed;
  if (format == 0) {
    PackedFrame f{width, height, frame, 2 * width};
    return Bmp_SaveFrameUYVY(&f, path) != 0 ? 0 : kGlobalImageFailed;
  }
  if (format == 1) {
    YuvSemiPlanarFrame f{width, height, frame, frame + static_cast<size_t>(width) * static_cast<size_t>(height),
                         width};
    return Bmp_SaveFrameNV12(&f, path) != 0 ? 0 : kGlobalImageFailed;
  }
  return kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
