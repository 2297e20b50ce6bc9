#include "camera/camera_model.h"

#include "camera/cam_model1_2.h"
#include "camera/cam_model3.h"
#include "camera/cam_model4.h"
#include "camera/cam_model5_6.h"
#include "camera/lens_common.h"

float CameraModel_Calibrate(int32_t width, int32_t height, int32_t model, const Matrix* obj, const Matrix* img,
                            Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t iterArg,
                            int32_t freeCentre, int32_t slot) {
  FitSetup setup;
  switch (model) {
    case 1:
      CamModel1_Setup(&setup, width, height);
      return CamModel1_BestFit(&setup, width, height, obj, img, K, D, R, epsilon, T, mode, iterArg, freeCentre, slot);
    case 2:
      CamModel2_Setup(&setup, width, height);
      return CamModel2_BestFit(&setup, width, height, obj, img, K, D, R, epsilon, T, mode, iterArg, freeCentre, slot);
    case 3:
      CamModel3_Setup(&setup, width, height, slot);
      return CamModel3_BestFit(&setup, width, height, obj, img, K, D, R, epsilon, T, mode, iterArg, freeCentre, slot);
    case 4:
      CamModel4_Setup(&setup, width, height);
      return CamModel4_BestFit(&setup, width, height, obj, img, K, D, R, epsilon, T, mode, iterArg, freeCentre, slot);
    default:
      return 0.0f;
  }
}

float CameraModel_LineCalibFB(int32_t model, const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R,
                              Matrix* T, int32_t mode, int32_t width, int32_t height, int32_t slot) {
  switch (model) {
    case 1:
      return CamModel1_LineCalibFB(targets, img, K, D, R, T, mode, slot);
    case 2:
      return CamModel2_LineCalibFB(targets, img, K, D, R, T, mode, slot);
    case 3: {
      FitSetup setup;
      CamModel3_Setup(&setup, width, height, slot);
      return CamModel3_LineCalibFB(targets, img, K, D, R, T, mode, slot);
    }
    case 4:
      return CamModel4_LineCalibFB(targets, img, K, D, R, T, mode, slot);
    default:
      return 0.0f;
  }
}

float CameraModel_LineCalibLR(int32_t model, const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R,
                              Matrix* T, int32_t mode, int32_t width, int32_t height, int32_t slot) {
  switch (model) {
    case 1:
      return CamModel1_LineCalibLR(targets, img, K, D, R, T, mode, slot);
    case 2:
      return CamModel2_LineCalibLR(targets, img, K, D, R, T, mode, slot);
    case 3: {
      FitSetup setup;
      CamModel3_Setup(&setup, width, height, slot);
      return CamModel3_LineCalibLR(targets, img, K, D, R, T, mode, slot);
    }
    case 4:
      return CamModel4_LineCalibLR(targets, img, K, D, R, T, mode, slot);
    default:
      return 0.0f;
  }
}

void CameraModel_ProjectPoints(int32_t model, const Matrix* obj, const Matrix* R, const Matrix* T, const Matrix* K,
                               const Matrix* D, Matrix* out, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                               Matrix* dCentre, Matrix* dDist, int32_t slot) {
  CameraModel_Project(PoseView{R, T, K, D, model, slot}, obj, out,
                      PoseDerivBlocks{dRot, dTrans, dIntr, dCentre, dDist});
}

void CameraModel_Project(const PoseView& p, const Matrix* obj, Matrix* out, const PoseDerivBlocks& b) {
  switch (p.model) {
    case 1:
      CamModel1_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    case 2:
      CamModel2_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    case 3:
      CamModel3_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    case 4:
      CamModel4_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    case 5:
      CamModel5_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    case 6:
      CamModel6_ProjectPoints(obj, p.R, p.T, p.K, p.D, out, b.dRot, b.dTrans, b.dIntr, b.dCentre, b.dDist, p.slot);
      break;
    default:
      break;
  }
}

void CameraModel_PointProjector(const PoseView& p, ProjectPointFn* fn, ProjectionContext* ctx) {
  CameraModel_ProjectPoint(p.model, p.R, p.T, p.K, p.D, fn, ctx);
}

void CameraModel_UndistortPoints(int32_t model, const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D,
                                 int32_t pixelFlag, int32_t slot) {
  switch (model) {
    case 1:
      CamModel1_UndistortPoints(img, out, K, D, pixelFlag, slot);
      break;
    case 2:
      CamModel2_UndistortPoints(img, out, K, D, pixelFlag, slot);
      break;
    case 3:
      CamModel3_ProjectPointSet(img, out, K, D, pixelFlag, slot);
      break;
    case 4:
      CamModel4_ProjectPointSet(img, out, K, D, pixelFlag, slot);
      break;
    default:
      break;
  }
}

void CameraModel_UndistPointToImage(int32_t model, const Matrix* K, const Matrix* D, float* u, float* v, int32_t slot,
                                    float theta, float dirX, float dirY) {
  switch (model) {
    case 1:
      CamModel1_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    case 2:
      CamModel2_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    case 3:
      CamModel3_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    case 4:
      CamModel4_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    case 5:
      CamModel5_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    case 6:
      CamModel6_UndistPointToImage(K, D, u, v, slot, theta, dirX, dirY);
      break;
    default:
      break;
  }
}

void CameraModel_ImageToRay(int32_t model, const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D,
                            const Matrix* R, const Matrix* T, int32_t slot, float h) {
  switch (model) {
    case 1:
      CamModel1_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    case 2:
      CamModel2_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    case 3:
      CamModel3_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    case 4:
      CamModel4_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    case 5:
      CamModel5_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    case 6:
      CamModel6_ImageToRay(img, out, K, D, R, T, slot, h);
      break;
    default:
      break;
  }
}

void CameraModel_ProjectPoint(int32_t model, const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D,
                              ProjectPointFn* fn, ProjectionContext* ctx) {
  lens::PoseRotation(R, ctx->R, nullptr);
  lens::Mat3Vec(ctx->R, T->data, ctx->t);
  for (int k = 0; k < 8; ++k) ctx->D[k] = D->data[k];
  for (int k = 0; k < 9; ++k) ctx->K[k] = K->data[k];
  static const ProjectPointFn kFns[6] = {CamModel1_ProjectPoint, CamModel2_ProjectPoint, CamModel3_ProjectPoint,
                                         CamModel4_ProjectPoint, CamModel5_ProjectPoint, CamModel6_ProjectPoint};
  if (model >= 1 && model <= 6) *fn = kFns[model - 1];
}
