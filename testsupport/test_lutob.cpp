#include "testsupport/test_lutob.h"

#include "camera/lut_config_file.h"

TestLutob::TestLutob() : lut_(LUTOB_Create()) {}

TestLutob::TestLutob(int32_t camW, int32_t camH) { Reset(camW, camH); }

TestLutob::~TestLutob() { TakeBack(); }

void TestLutob::Reset() {
  TakeBack();
  lut_.reset(LUTOB_Create());
}

void TestLutob::Reset(int32_t camW, int32_t camH) {
  Reset();
  CameraParamSet_SetHeaders(&lut_->params, &lut_->poses);
  lut_->camW = camW;
  lut_->camH = camH;
}

void TestLutob::Lend(uint32_t camera, Matrix* image, float* imagePoints, float* worldPoints) {
  const uint32_t c = camera - 1;
  if (c >= 4) return;
  if (image != nullptr) lut_->cameraImages[c] = image;
  if (imagePoints != nullptr) lut_->imagePoints[c] = imagePoints;
  if (worldPoints != nullptr) lut_->worldPoints[c] = worldPoints;
}

void TestLutob::TakeBack() {
  if (lut_ == nullptr) return;
  for (int c = 0; c < 4; ++c) {
    lut_->cameraImages[c] = nullptr;
    lut_->imagePoints[c] = nullptr;
    lut_->worldPoints[c] = nullptr;
  }
}
