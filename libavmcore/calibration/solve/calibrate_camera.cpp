#include "calibration/solve/calibrate_camera.h"

#include <cfloat>
#include <cstring>
#include <vector>

#include "calibration/solve/pose_refine.h"
#include "camera/camera_model.h"
#include "frame/global_variables.h"
#include "frame/lens_table.h"
#include "frame/lens_table_lock.h"
#include "frame/log.h"
#include "surround/lutob.h"

namespace {

// Working parameters of one solve, zeroed; every fit fills them.
struct WorkParams {
  float k[9] = {}, d[8] = {}, r[3] = {}, t[3] = {};
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
};

// What one camera's solve is given: picture size and picture, the camera,
// the point pairs (world and image, count of them) and the caller's refine
// flag and candidate number.
struct SolveInput {
  int32_t width;
  int32_t height;
  const Matrix* image;
  int32_t camera;
  int32_t count;
  const Matrix* world;
  const Matrix* imagePts;
  int32_t fitRefine;
  int32_t candidate;
};

float GeneralFit(const LutConfig* cfg, const SolveInput& in, WorkParams* p) {
  const int c = in.camera - 1;
  return CameraModel_Calibrate(in.width, in.height, static_cast<int32_t>(cfg->model[c]), in.world, in.imagePts, &p->K,
                               &p->D, &p->R, kCalibFitEpsilon, &p->T, 0, 100, in.fitRefine, cfg->lensSlot[c]);
}

// The general fit with the current slot's intrinsics mode set to 1 for this
// fit only.
float GeneralFitModeOne(const LutConfig* cfg, const SolveInput& in, WorkParams* p) {
  LensTableSlot* slot = LensTable_Current();
  const int32_t saved = slot->trackCount;
  slot->trackCount = 1;
  const float err = GeneralFit(cfg, in, p);
  LensTable_Current()->trackCount = saved;
  return err;
}

float SolveByLayout(LutConfig* cfg, const SolveInput& in, WorkParams* p) {
  const int32_t width = in.width, height = in.height, camera = in.camera, count = in.count;
  const int32_t fitRefine = in.fitRefine, candidate = in.candidate;
  const Matrix *image = in.image, *world = in.world, *imagePts = in.imagePts;
  switch (gv().CalibLayoutCode) {
    case 11: {
      int32_t focusFlag = 0;
      if (image != nullptr && image->rows == 960) focusFlag = LensTable_Current()->trackCount == 3 ? 1 : 2;
      float err = Calib_RefinePoseA(cfg, width, height, image, camera, &p->K, &p->D, &p->R, &p->T, world, imagePts,
                                    count, fitRefine, candidate, focusFlag);
      if (image != nullptr && image->rows > 719) err /= 1.35f;
      return err;
    }
    case 16:
      return Calib_RefinePoseB(cfg, width, height, image, camera, &p->K, &p->D, &p->R, &p->T, world, imagePts, count,
                               fitRefine, candidate);
    case 51:
      return camera <= 2 ? LineCalib_FB(cfg->paramBlock, camera, world, imagePts, &p->K, &p->D, &p->R, &p->T)
                         : LineCalib_LR(cfg->paramBlock, camera, world, imagePts, &p->K, &p->D, &p->R, &p->T);
    case 24: {
      const int32_t table = LensTable_Current()->id;
      if (candidate == 0 && (table == 200 || table == 201))
        for (uint32_t& m : cfg->model) m = 4;
      return GeneralFit(cfg, in, p);
    }
    case 14:
      LensTable_Current()->trackCount = 1;
      return GeneralFit(cfg, in, p);
    case 26:
      if (candidate == 0 && count > 8) return GeneralFitModeOne(cfg, in, p);
      return GeneralFit(cfg, in, p);
    case 13:
      if (candidate == 0 && count == 8) return GeneralFitModeOne(cfg, in, p);
      return GeneralFit(cfg, in, p);
    case 54:
      if (count >= 7) return GeneralFitModeOne(cfg, in, p);
      return GeneralFit(cfg, in, p);
    default:
      return GeneralFit(cfg, in, p);
  }
}

bool ParamOutputFits(const Matrix* m, int32_t n) {
  return m != nullptr && m->data != nullptr && m->cols * m->rows >= n;
}

}  // namespace

int32_t CalibrateCamera(LutConfig* cfg, int32_t width, int32_t height, Matrix* image, int32_t camera, int32_t count,
                        float* imagePoints, float* worldPoints, Matrix* Kout, Matrix* Dout, Matrix* Rout,
                        Matrix* Tout, int32_t fitRefine, int32_t candidate) {
  GlobalVariables& g = gv();
  if (cfg == nullptr || camera < 1 || camera > 4 || count < 1 || count > g.maxPoints || imagePoints == nullptr ||
      worldPoints == nullptr || !ParamOutputFits(Kout, 9) || !ParamOutputFits(Dout, 8) ||
      !ParamOutputFits(Rout, 3) || !ParamOutputFits(Tout, 3)) {
    AvmLog("CalibrateCamera: invalid arguments (camera %d, count %d)\n", camera, count);
    return -2;
  }
  const int c = camera - 1;
  std::vector<float> world(worldPoints, worldPoints + 3 * count);
  std::vector<float> xy(static_cast<size_t>(2 * count));
  for (int32_t k = 0; k < count; ++k) {  // stored (row, column)
    xy[2 * k] = imagePoints[2 * k + 1];
    xy[2 * k + 1] = imagePoints[2 * k];
  }
  const Matrix W{3, count, world.data()}, I{2, count, xy.data()};
  WorkParams p;
  float err;
  {
    // Selection, mode changes and fits of concurrent solves must not
    // interleave: they share the current lens-table slot.
    LensTableLock lock(LensTable_Mutex());
    if (cfg->model[c] == 3) LensTable_Select(cfg->lensSlot[c]);
    err = SolveByLayout(cfg, {width, height, image, camera, count, &W, &I, fitRefine, candidate}, &p);
  }
  AvmLog("T1~~~~~~~~ %d %f %f %f %f %f %f %d \n", camera, err, p.d[0], p.d[1], p.k[0], p.k[2], p.k[5], count);
  g.lastCalibResult[c] = err;
  const float limit = g.presetLimit[c < 2 ? c : 2];
  // A NaN error is no fit.
  if (!(err <= limit)) return -2;
  memcpy(Kout->data, p.k, sizeof p.k);
  memcpy(Dout->data, p.d, sizeof p.d);
  memcpy(Rout->data, p.r, sizeof p.r);
  memcpy(Tout->data, p.t, sizeof p.t);
  return 0;
}

namespace {

float LineCalib(bool frontBack, const CameraParamBlock* block, int32_t camera, const Matrix* world,
                const Matrix* image, Matrix* K, Matrix* D, Matrix* R, Matrix* T) {
  const char* name = frontBack ? "FB" : "LR";
  if (block == nullptr || camera < 1 || camera > 4 || world == nullptr || image == nullptr ||
      world->rows > kLineTargetPoints || image->rows != world->rows) {
    AvmLog("Line Calib%s: no parameter block or bad point set\n", name);
    return FLT_MAX;
  }
  const int c = camera - 1;
  memcpy(K->data, block->params.K[c], sizeof block->params.K[c]);
  memcpy(D->data, block->params.D[c], sizeof block->params.D[c]);
  memcpy(R->data, block->params.R[c], sizeof block->params.R[c]);
  memcpy(T->data, block->params.T[c], sizeof block->params.T[c]);
  const int32_t n = world->rows;
  const int32_t cols = frontBack ? 1 : 2;
  std::vector<float> targets(static_cast<size_t>(cols * n));
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < cols; ++j) targets[cols * i + j] = world->data[world->cols * i + j];
  const Matrix M{cols, n, targets.data()};
  const int32_t model = static_cast<int32_t>(block->model[c]);
  const int32_t slot = static_cast<int32_t>(block->lensSlot[c]);
  const int32_t halfW = static_cast<int32_t>(block->quadWidth) / 2;
  const int32_t halfH = static_cast<int32_t>(block->quadHeight) / 2;
  const float err = frontBack ? CameraModel_LineCalibFB(model, &M, image, K, D, R, T, 0, halfW, halfH, slot)
                              : CameraModel_LineCalibLR(model, &M, image, K, D, R, T, 2, halfW, halfH, slot);
  AvmLog("Line Calib%s %f \n", name, err);
  return err;
}

}  // namespace

float LineCalib_FB(const CameraParamBlock* block, int32_t camera, const Matrix* world, const Matrix* image, Matrix* K,
                   Matrix* D, Matrix* R, Matrix* T) {
  return LineCalib(true, block, camera, world, image, K, D, R, T);
}

float LineCalib_LR(const CameraParamBlock* block, int32_t camera, const Matrix* world, const Matrix* image, Matrix* K,
                   Matrix* D, Matrix* R, Matrix* T) {
  return LineCalib(false, block, camera, world, image, K, D, R, T);
}
