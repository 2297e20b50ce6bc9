// Exports of the 3-D bowl view: the bowl object and its meshes, the view
// matrix, and the 3-D LUT object.
#include <cstring>
#include <new>

#include "exports/export_guard.h"
#include "frame/log.h"
#include "globalimage_api.h"
#include "surround/bowl_mesh.h"
#include "surround/bowl_tb.h"
#include "surround/lut3d.h"
#include "surround/view_matrix.h"

namespace {

D3DGrid* CreateGrid(const char* path, const float shape[8], const float insets[4]) {
  D3DGrid* grid = new (std::nothrow) D3DGrid();
  if (grid == nullptr) return nullptr;
  // A handle whose file was not read has no grid: refused here rather than
  // handed out to mesh requests.
  if (D3DGrid_Init_New(grid, path, shape, insets) == 0) {
    D3DGrid_Release(grid);
    delete grid;
    return nullptr;
  }
  return grid;
}

}  // namespace

AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB(const char* path) try {
  const float insets[4] = {0, 0, 0, 0};
  return CreateGrid(path, kBowlDefaultShape, insets);
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB_EX(const char* path, float s0, float s1, float s2, float s3,
                                                     float s4, float s5, float s6, float s7) try {
  const float shape[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  const float insets[4] = {0, 0, 0, 0};
  return CreateGrid(path, shape, insets);
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB_EXD(const char* path, float s0, float s1, float s2, float s3,
                                                      float s4, float s5, float s6, float s7, float inset0,
                                                      float inset1, float inset2, float inset3) try {
  const float shape[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  const float insets[4] = {inset0, inset1, inset2, inset3};
  return CreateGrid(path, shape, insets);
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_UnInit3DTrianOB(D3DGrid* grid) try {
  if (grid == nullptr) return 0;
  D3DGrid_Release(grid);
  delete grid;
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Generate3DTrian(D3DGrid* grid, int32_t camera, int32_t mask, uint32_t* count,
                                               float* vertices, float* texture) try {
  if (grid == nullptr) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  Generate3DTrian(grid, camera, mask, count, vertices, texture);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Generate3DMVP(D3DGrid* /*grid*/, float* mvp, float aspect, float offX, float offY,
                                             float pitch, float yaw, float distance, float targetX, float targetY) try {
  if (mvp != nullptr) Generate3DMVP(mvp, 1.0f, aspect, offX, offY, pitch, yaw, distance, targetX, targetY);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Generate3DMVP_EX(D3DGrid* /*grid*/, float* mvp, float* /*unused1*/,
                                                float* /*unused2*/, int32_t /*unused3*/, int32_t /*unused4*/,
                                                float zoom, float aspect, float offX, float offY, float pitch,
                                                float yaw, float distance, float targetX, float targetY) try {
  if (mvp != nullptr) Generate3DMVP(mvp, zoom, aspect, offX, offY, pitch, yaw, distance, targetX, targetY);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Mod3DTrian(D3DGrid* grid, int32_t camera, const float* rvec, const float* tvec) try {
  if (grid != nullptr && rvec != nullptr && tvec != nullptr && grid->ready != 0)
    Mod3DTrianProject(grid, camera, rvec, tvec, 0);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_SetCustom3DTrian(D3DGrid* grid, const float* triangles, int32_t n,
                                                int32_t groupMode) try {
  if (grid != nullptr) SetCustom3DTrian(grid, triangles, n, groupMode);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GenerateCustomTBTrian(D3DGrid* grid, int32_t camera, const float* triangles,
                                                     int32_t* count, float* vertices, float* texture) try {
  if (grid == nullptr || grid->ready == 0) {
    if (count != nullptr) *count = 0;
    return 0;
  }
  GenerateCustomTBTrian(grid, camera, triangles, count, vertices, texture);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GenerateTBTrian(D3DGrid* grid, int32_t camera, int32_t shape, uint32_t* count,
                                               float* vertices, float* texture) try {
  if (grid == nullptr) return 0;
  GetTBTrian(grid, camera, shape, count, vertices, texture);
  if (count != nullptr) AvmLog("GenerateTBTrian %d %d %d \n", camera, shape, static_cast<int32_t>(*count));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_TrackPhyTransfer(D3DGrid* grid, int32_t camera, int32_t shape, int32_t n,
                                                int32_t /*unused*/, const float* x, const float* y, float* outX,
                                                float* outY, float* outZ) try {
  if (grid != nullptr && grid->ready != 0) TrackPhyTransfer(grid, camera, shape, n, x, y, outX, outY, outZ);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT LUT3DOB* KRV_GlobalImage_Init3DLutOB(const char* path, int32_t outW, int32_t outH, float s0, float s1,
                                                float s2, float s3, float s4, float s5, float s6, float s7) try {
  LUT3DOB* lut = new (std::nothrow) LUT3DOB();
  if (lut == nullptr) return nullptr;
  const float shape[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  Init3DLut(lut, path, outW, outH, shape);
  return lut;
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_Calc3DLut(LUT3DOB* /*lut*/, int32_t /*step*/, float* /*mvp*/, int32_t /*flag*/,
                                         int32_t* /*out0*/, int32_t* /*out1*/, int32_t* /*out2*/,
                                         int32_t* /*out3*/, int32_t /*reserved*/) try {
  Calc3DLut();
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Compute3DLut(LUT3DOB* lut, int32_t step, float* mvp, int32_t secondWeight,
                                            int32_t* sideUV1, int32_t* sideUV0, int32_t* weights, float* points,
                                            float zoom, float aspect, float offX, float offY, float pitch,
                                            float yaw, float distance, float targetX, float targetY) try {
  if (lut == nullptr || lut->valid == 0 ||
      !ExportArgInRange(__func__, "step", step, 1, kLut3DMaxSide))
    return kGlobalImageFailed;
  Lut3D_ComputeEx(lut, step, mvp, secondWeight, zoom, aspect, offX, offY, pitch, yaw, distance, targetX, targetY);
  const size_t n = static_cast<size_t>(lut->outW) * lut->outH;
  for (size_t i = 0; i < n; ++i) {
    if (sideUV1 != nullptr) {
      sideUV1[2 * i] = lut->U1[i];
      sideUV1[2 * i + 1] = lut->V1[i];
    }
    if (sideUV0 != nullptr) {
      sideUV0[2 * i] = lut->U0[i];
      sideUV0[2 * i + 1] = lut->V0[i];
    }
    if (weights != nullptr) {
      weights[2 * i] = lut->weight[i];
      weights[2 * i + 1] = lut->weight2[i];
    }
    if (points != nullptr) {
      points[3 * i] = lut->mapX[i];
      points[3 * i + 1] = lut->mapY[i];
      points[3 * i + 2] = lut->mapZ[i];
    }
  }
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_UnInit3DLutOB(LUT3DOB* lut) try {
  if (lut == nullptr) return 0;
  UnInit3DLut(lut);
  delete lut;
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
