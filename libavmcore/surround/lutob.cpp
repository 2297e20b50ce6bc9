#include "surround/lutob.h"
#include "frame/log.h"
#include "frame/checked_int.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "camera/lut_config_file.h"
#include "toolkit/image_ops.h"
#include "toolkit/matrix_alloc.h"
#include "toolkit/sampling.h"

namespace {

// Point arrays beyond this are a corrupt configuration, not a target.
constexpr int32_t kMaxPointsSane = 4096;

int32_t MaxPoints() {
  const int32_t m = gv().maxPoints;
  return (m >= 1 && m <= kMaxPointsSane) ? m : 0;
}

void SetPoseHeaders(LUTOB* lut) { CameraParamSet_SetHeaders(&lut->params, &lut->poses); }

void FreePreview(LUTOB* lut) {
  Matrix_FreeData(&lut->previewImage);
  lut->previewImage = Matrix{0, 0, nullptr};
}

void FreePoints(LUTOB* lut) {
  for (int c = 0; c < 4; ++c) {
    delete[] lut->imagePoints[c];
    delete[] lut->worldPoints[c];
    lut->imagePoints[c] = nullptr;
    lut->worldPoints[c] = nullptr;
  }
}

// Everything a build allocates besides the LutConfig maps, so that a second
// build on one object does not leak the first one's buffers.
void FreeOwned(LUTOB* lut) {
  FreePoints(lut);
  LUTOB_FreeCameraImages(lut);
}

void AllocPoints(LUTOB* lut, int32_t m) {
  for (int c = 0; c < 4; ++c) {
    lut->imagePoints[c] = new float[static_cast<size_t>(2 * std::max(m, 1))]();
    lut->worldPoints[c] = new float[static_cast<size_t>(3 * std::max(m, 1))]();
  }
}

void AllocPreview(LUTOB* lut) {
  FreePreview(lut);
  const int32_t w = std::max(lut->cfg.carRect[2], 0), h = std::max(lut->cfg.outHeight, 0);
  Matrix_NewData(&lut->previewImage, w, h);
}

void ComputeWorld(LUTOB* lut, int32_t m) {
  for (int c = 0; c < 4; ++c) {
    Matrix world{3, m, lut->worldPoints[c]};
    ComputeTargetWorldPoints(&lut->cfg, c + 1, &world);
  }
}

constexpr int kQuadX[4] = {0, 1, 0, 1};
constexpr int kQuadY[4] = {0, 0, 1, 1};

// Quadrant of camera c (0..3) of an 8-bit quad frame, as luma / 255.
void QuadrantToFloat(const ImageU8* frame, int c, int32_t w, int32_t h, float* out) {
  const int32_t x0 = kQuadX[c] * w, y0 = kQuadY[c] * h;
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* in = frame->data + static_cast<size_t>(y0 + r) * frame->width + x0;
    float* o = out + static_cast<size_t>(r) * w;
    for (int32_t x = 0; x < w; ++x) o[x] = static_cast<float>(in[x]) / 255.0f;
  }
}

void QuadrantCopyF32(const Matrix* frame, int c, int32_t w, int32_t h, float* out) {
  const int32_t x0 = kQuadX[c] * w, y0 = kQuadY[c] * h;
  for (int32_t r = 0; r < h; ++r)
    memcpy(out + static_cast<size_t>(r) * w, frame->data + static_cast<size_t>(y0 + r) * frame->cols + x0,
           sizeof(float) * w);
}

// The one-shot pre-filter request of the configuration, on an 8-bit frame.
void PreFilterU8(ImageU8* image) {
  const size_t n = static_cast<size_t>(image->width) * image->height;
  std::vector<float> f(n);
  Matrix m{image->width, image->height, f.data()};
  ImageU8_ToMatrix(image, &m);
  Image_RaiseToCornerMin(&m, &m);
  Matrix_ToImageU8(&m, image);
}

bool UsableFrame(int32_t w, int32_t h) { return w >= 2 && h >= 2; }

int32_t ClampCount(int32_t n, int32_t m) { return std::min(std::max(n, 0), m); }

}  // namespace

LUTOB* LUTOB_Create() {
  LUTOB* lut = new LUTOB();
  lut->cfg.extraValue = 50;
  return lut;
}

void LUTOB_Destroy(LUTOB* lut) {
  if (lut == nullptr) return;
  LUTOB_ReleaseBuffers(lut);
  delete lut;
}

ImageU8* QuadFrame_FromSingleU8(const ImageU8* image) {
  if (image == nullptr || image->data == nullptr) return nullptr;
  if ((image->width != 1280 && image->width != 1920) || image->height >= image->width || image->height < 1)
    return nullptr;
  const int32_t w = image->width, h = image->height;
  ImageU8* f = ImageU8_New(2 * w, 2 * h);
  ImageU8_CopyBlock(image, f, w, h, 0, 0, w, 0);
  return f;
}

Matrix* QuadFrame_FromSingleF32(const Matrix* image) {
  if (image == nullptr || image->data == nullptr) return nullptr;
  if ((image->cols != 1280 && image->cols != 1920) || image->rows >= image->cols || image->rows < 1)
    return nullptr;
  const int32_t w = image->cols, h = image->rows;
  Matrix* f = Matrix_New(2 * w, 2 * h);
  for (int32_t r = 0; r < h; ++r)
    memcpy(f->data + static_cast<size_t>(r) * 2 * w + w, image->data + static_cast<size_t>(r) * w,
           sizeof(float) * w);
  return f;
}

int32_t LUTOB_RunBlockCalib4(int32_t model, int32_t passMode, const ImageU8* image) {
  return BlockCalib4_RunAuto(model, passMode, image);
}

int32_t LUTOB_BuildFromImage(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                             int32_t frontOverhang, int32_t wheelBase, int32_t model, ImageU8* image,
                             int32_t /*ignored*/, int32_t checkCorners) {
  GlobalVariables& g = gv();
  if (lut == nullptr || image == nullptr || image->data == nullptr || !UsableFrame(image->width, image->height)) {
    AvmLog("LUTOB_BuildFromImage: no image\n");
    return 17;
  }
  if (g.advValue8 != 0) {
    PreFilterU8(image);
    g.advValue8 = 0;
  }
  if (g.CalibLayoutCode == 29) {
    const int32_t r = LUTOB_RunBlockCalib4(model, 1, image);
    if (r != 0 && checkCorners != 0) return r;
  }
  FreeOwned(lut);
  LutConfig_Init(&lut->cfg, carWidth, carLength, carBoxParam, frontOverhang, wheelBase, model, 1, g.advValue15, 0);
  SetPoseHeaders(lut);
  ImageU8Ptr single(QuadFrame_FromSingleU8(image));
  const ImageU8* frame = image;
  if (single != nullptr) {
    g.cameraMask = 2;
    frame = single.get();
  }
  const int32_t w = frame->width / 2, h = frame->height / 2;
  lut->camW = w;
  lut->camH = h;
  const int32_t m = MaxPoints();
  std::vector<float> work(static_cast<size_t>(w) * h);
  Matrix workImage{w, h, work.data()};
  AllocPoints(lut, m);
  ComputeWorld(lut, m);
  for (int c = 0; c < 4; ++c) {
    if ((g.cameraMask & (1 << c)) == 0) continue;
    QuadrantToFloat(frame, c, w, h, work.data());
    lut->cameraImages[c] = &workImage;
    FindAllChessboardCorners(lut, static_cast<uint32_t>(c + 1));
    lut->cameraImages[c] = nullptr;
    lut->cornerCounts[c] = ClampCount(lut->cornerCounts[c], m);
    if (lut->cornerCounts[c] == 0 && checkCorners != 0) {
      LUTOB_ReleaseBuffers(lut);
      return 17 + c;
    }
  }
  if (g.CalibLayoutCode != 52 && g.CalibLayoutCode != 29) {
    for (int c = 0; c < 4; ++c) {
      lut->cameraImages[c] = Matrix_New(w, h);
      QuadrantToFloat(frame, c, w, h, lut->cameraImages[c]->data);
    }
  }
  return 0;
}

int32_t LUTOB_BuildFromImageF32(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                                int32_t frontOverhang, int32_t wheelBase, int32_t model, Matrix* image,
                                int32_t /*ignored*/, int32_t checkCorners) {
  GlobalVariables& g = gv();
  if (lut == nullptr || image == nullptr || image->data == nullptr || !UsableFrame(image->cols, image->rows)) {
    AvmLog("LUTOB_BuildFromImage: no image\n");
    return 17;
  }
  if (g.advValue8 != 0) {
    Image_RaiseToCornerMin(image, image);
    g.advValue8 = 0;
  }
  if (g.CalibLayoutCode == 29) {
    const int32_t r = BlockCalib4_RunAuto(model, 0, image);
    if (r != 0) return r;
  }
  FreeOwned(lut);
  LutConfig_Init(&lut->cfg, carWidth, carLength, carBoxParam, frontOverhang, wheelBase, model, 1, g.advValue15, 0);
  AllocPreview(lut);
  SetPoseHeaders(lut);
  MatrixPtr single(QuadFrame_FromSingleF32(image));
  const Matrix* frame = image;
  if (single != nullptr) {
    g.cameraMask = 2;
    frame = single.get();
  }
  const int32_t w = frame->cols / 2, h = frame->rows / 2;
  lut->camW = w;
  lut->camH = h;
  const int32_t m = MaxPoints();
  for (int c = 0; c < 4; ++c) {
    lut->cameraImages[c] = Matrix_New(w, h);
    QuadrantCopyF32(frame, c, w, h, lut->cameraImages[c]->data);
  }
  single.reset();
  AllocPoints(lut, m);
  ComputeWorld(lut, m);
  for (int c = 0; c < 4; ++c) {
    if ((g.cameraMask & (1 << c)) == 0) continue;
    FindAllChessboardCorners(lut, static_cast<uint32_t>(c + 1));
    lut->cornerCounts[c] = ClampCount(lut->cornerCounts[c], m);
    if (lut->cornerCounts[c] == 0 && checkCorners != 0) {
      LUTOB_ReleaseBuffers(lut);
      return 17 + c;
    }
  }
  return 0;
}

int32_t LUTOB_BuildFromHand(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                            int32_t frontOverhang, int32_t wheelBase, int32_t model, int32_t quadWidth,
                            int32_t quadHeight, const float* first, const float* second) {
  GlobalVariables& g = gv();
  if (lut == nullptr || first == nullptr || second == nullptr) return 17;
  if (quadWidth < 2 || quadHeight < 2 || quadWidth > kLutobMaxQuadSide || quadHeight > kLutobMaxQuadSide) {
    AvmLog("LUTOB_BuildFromHand: quad size %d x %d out of range, refused\n", quadWidth, quadHeight);
    return 17;
  }
  if (g.CalibLayoutCode == 29) {
    const int32_t r = BlockCalib4_RunHand(model, quadWidth / 2, quadHeight / 2, first, second);
    if (r != 0) return r;
  }
  FreeOwned(lut);
  LutConfig_Init(&lut->cfg, carWidth, carLength, carBoxParam, frontOverhang, wheelBase, model, 1, g.advValue15, 0);
  lut->cfg.handEntered = 1;
  AllocPreview(lut);
  SetPoseHeaders(lut);
  lut->camW = std::max(quadWidth / 2, 0);
  lut->camH = std::max(quadHeight / 2, 0);
  for (int c = 0; c < 4; ++c) lut->cameraImages[c] = Matrix_New(lut->camW, lut->camH);
  const int32_t m = MaxPoints();
  AllocPoints(lut, m);
  ComputeWorld(lut, m);
  LUTOB_SetHandPoints(lut, first, second);
  return 0;
}

void LUTOB_SetHandPoints(LUTOB* lut, const float* first, const float* second) {
  const GlobalVariables& g = gv();
  if (lut == nullptr || first == nullptr || second == nullptr) return;
  // The arrays hold 59 points per camera, the point buffers M.
  const int32_t m = std::min(MaxPoints(), kLutobHandPoints);
  for (int c = 0; c < 4; ++c) {
    if (lut->imagePoints[c] == nullptr) return;
    for (int k = 0; k < m; ++k) {
      lut->imagePoints[c][2 * k] = second[kLutobHandPoints * c + k];
      lut->imagePoints[c][2 * k + 1] = first[kLutobHandPoints * c + k];
    }
  }
  int32_t counts[4] = {g.cornerCount1, g.cornerCount2, g.cornerCount34, g.cornerCount34};
  const int* order[4] = {nullptr, nullptr, nullptr, nullptr};
  static const int kL4[4][8] = {{2, 3, 1, 0, 7, 5, 4, 6},
                                {5, 4, 6, 7, 0, 2, 3, 1},
                                {7, 5, 4, 6, 1, 0, 2, 3},
                                {0, 2, 3, 1, 6, 7, 5, 4}};
  static const int kL13Cam4[4] = {1, 0, 3, 2};
  int orderLength = 0;
  switch (g.CalibLayoutCode) {
    case 4:
      for (int c = 0; c < 4; ++c) counts[c] = 8, order[c] = kL4[c];
      orderLength = 8;
      break;
    case 9:
      for (int32_t& n : counts) n = 14;
      break;
    case 12:
    case 15:
      for (int32_t& n : counts) n = 8;
      break;
    case 13:
      for (int32_t& n : counts) n = 4;
      order[3] = kL13Cam4;
      orderLength = 4;
      break;
    case 22:
      for (int32_t& n : counts) n = 5;
      break;
    default:
      break;
  }
  if (orderLength <= m) {
    for (int c = 0; c < 4; ++c) {
      if (order[c] == nullptr) continue;
      float entered[16];
      memcpy(entered, lut->imagePoints[c], sizeof(float) * 2 * orderLength);
      for (int i = 0; i < orderLength; ++i) {
        lut->imagePoints[c][2 * i] = entered[2 * order[c][i]];
        lut->imagePoints[c][2 * i + 1] = entered[2 * order[c][i] + 1];
      }
    }
  }
  for (int c = 0; c < 4; ++c)
    lut->cornerCounts[c] = (g.cameraMask & (1 << c)) != 0 ? ClampCount(counts[c], m) : 0;
}

int LUTOB_LoadConfig(LUTOB* lut, const char* path, const Matrix* frame) {
  const GlobalVariables& g = gv();
  if (lut == nullptr || path == nullptr) return 0;
  const int32_t n = g.pointsPerCamera, m = g.maxPoints;
  LutConfigLayout lay;
  if (!LutConfigLayout_Make(n, m, &lay) || m > kMaxPointsSane) {
    AvmLog("LUTOB_LoadConfig: impossible point counts %d %d\n", n, m);
    return 0;
  }
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  uint32_t head[5];
  if (fread(head, sizeof head, 1, f) != 1 || head[0] != kLutConfigMagic) {
    AvmLog("LUTOB_LoadConfig: %s is not a camera parameter file\n", path);
    fclose(f);
    return 0;
  }
  // The words later formulas use are checked before the object changes:
  // the car box of the header, the tail's sizes and the band sizes (each
  // as far as the file holds it).
  LutConfigInfo check{};
  check.carWidth = head[1];
  check.carLength = head[2];
  check.carBoxParam = head[3];
  // A file ending before its tail keeps the default quad size.
  check.quadWidth = 1440;
  check.quadHeight = 1152;
  int32_t tailWords[4];
  if (fseek(f, lay.quadWidth, SEEK_SET) == 0 && fread(tailWords, sizeof tailWords, 1, f) == 1) {
    check.quadWidth = static_cast<uint32_t>(tailWords[0]);
    check.quadHeight = static_cast<uint32_t>(tailWords[1]);
    check.frontOverhang = static_cast<uint32_t>(tailWords[2]);
  }
  if (fseek(f, lay.bandSizes, SEEK_SET) != 0 || fread(check.bandSizes, sizeof check.bandSizes, 1, f) != 1)
    for (uint32_t& b : check.bandSizes) b = 0;
  const char* bad = LutConfigInfo_BadWord(check);
  if (bad != nullptr || fseek(f, sizeof head, SEEK_SET) != 0) {
    AvmLog("LUTOB_LoadConfig: %s has %s out of range, file refused\n", path, bad != nullptr ? bad : "no body");
    fclose(f);
    return 0;
  }
  const int32_t carWidth = static_cast<int32_t>(head[1]), carLength = static_cast<int32_t>(head[2]);
  const int32_t carBox = static_cast<int32_t>(head[3]);
  const int32_t model = head[4] == 0 ? 2 : static_cast<int32_t>(head[4]);
  FreeOwned(lut);
  LutConfig_Init(&lut->cfg, carWidth, carLength, carBox, 500, 2500, model, 1, 0, 1);
  AllocPreview(lut);
  SetPoseHeaders(lut);
  lut->camW = lut->camH = 0;
  if (frame != nullptr && frame->data != nullptr && UsableFrame(frame->cols, frame->rows)) {
    lut->camW = frame->cols / 2;
    lut->camH = frame->rows / 2;
    for (int c = 0; c < 4; ++c) {
      lut->cameraImages[c] = Matrix_New(lut->camW, lut->camH);
      QuadrantCopyF32(frame, c, lut->camW, lut->camH, lut->cameraImages[c]->data);
    }
  }
  for (int32_t& k : lut->cornerCounts) k = 0;
  AllocPoints(lut, m);

  // Sequential reads: once the file ends, the remaining fields keep their
  // defaults.
  bool more = true;
  auto rd = [&](void* dst, size_t bytes) {
    if (more && bytes > 0) more = fread(dst, 1, bytes, f) == bytes;
    return more;
  };
  LutConfig& cfg = lut->cfg;
  int32_t words[8];
  if (rd(cfg.lensSlot, sizeof cfg.lensSlot) && rd(words, sizeof words)) {
    cfg.viewRange = words[0];
    cfg.extraValue = words[1];
    cfg.groupNumber = words[2];
    cfg.splitLength = words[3];
    // Counts index the point arrays: never beyond them.
    for (int c = 0; c < 4; ++c) lut->cornerCounts[c] = ClampCount(words[4 + c], m);
  }
  for (int c = 0; c < 4; ++c) rd(lut->imagePoints[c], sizeof(float) * 2 * n);
  for (int c = 0; c < 4; ++c) rd(lut->worldPoints[c], sizeof(float) * 3 * n);
  CameraParamSet ps;
  if (rd(&ps, sizeof ps)) lut->params = ps;
  int32_t tail[4] = {0, 0, 500, 3000};
  for (int32_t& t : tail) rd(&t, 4);
  cfg.wheelBase = (tail[3] > 0 && !(static_cast<float>(tail[3]) > 25000.0f)) ? tail[3] : 3000;
  cfg.frontOverhang = tail[2];
  if (cfg.frontOverhang < 501)
    cfg.frontOverhang = SaturateToInt32(
        (static_cast<int64_t>(cfg.carLength) - g.f20_23[0] - g.f20_23[1] - cfg.wheelBase) / 2);
  if (lut->camW == 0) {
    lut->camW = std::max(tail[0] / 2, 0);
    lut->camH = std::max(tail[1] / 2, 0);
  }
  rd(lut->seamAngles, sizeof lut->seamAngles);
  for (int c = 0; c < 4; ++c) rd(lut->imagePoints[c] + 2 * n, sizeof(float) * 2 * (m - n));
  for (int c = 0; c < 4; ++c) rd(lut->worldPoints[c] + 3 * n, sizeof(float) * 3 * (m - n));
  rd(lut->blendWidths, sizeof lut->blendWidths);
  rd(lut->bandSizes, sizeof lut->bandSizes);
  cfg.extraParam = 0;
  rd(&cfg.extraParam, sizeof cfg.extraParam);
  fclose(f);
  return 1;
}

int SaveLUTConfig(const LUTOB* lut, const char* path) {
  const GlobalVariables& g = gv();
  if (lut == nullptr || path == nullptr) return 0;
  const LutConfig& cfg = lut->cfg;
  LutConfigFileData d{};
  d.carWidth = cfg.carWidth;
  d.carLength = cfg.carLength;
  d.carBoxParam = cfg.carBoxParam;
  d.model = cfg.model[0];
  for (int c = 0; c < 4; ++c) d.lensSlot[c] = static_cast<uint32_t>(cfg.lensSlot[c]);
  d.viewRange = cfg.viewRange;
  d.extraValue = cfg.extraValue;
  d.groupNumber = cfg.groupNumber;
  d.splitLength = cfg.splitLength;
  for (int c = 0; c < 4; ++c) {
    d.cornerCount[c] = lut->cornerCounts[c];
    d.image[c] = lut->imagePoints[c];
    d.world[c] = lut->worldPoints[c];
    d.bandSizes[c] = lut->bandSizes[c];
    d.seamAngles[c] = lut->seamAngles[c];
  }
  d.params = lut->params;
  d.quadWidth = 2 * lut->camW;
  d.quadHeight = 2 * lut->camH;
  d.frontOverhang = cfg.frontOverhang;
  d.wheelBase = cfg.wheelBase;
  AvmLog("SaveLUTConfig LW %s %d %d \n", path, g.extraConfig.frontBlendWidth, g.extraConfig.rearBlendWidth);
  const bool own = lut->blendWidths[0] > 0 && lut->blendWidths[1] > 0;
  d.frontBlendWidth = own ? lut->blendWidths[0] : g.extraConfig.frontBlendWidth;
  d.rearBlendWidth = own ? lut->blendWidths[1] : g.extraConfig.rearBlendWidth;
  d.extraParam = cfg.extraParam;
  if (MaxPoints() == 0) return 0;
  return LutConfigFile_Write(path, d, g.pointsPerCamera, g.maxPoints) ? 1 : 0;
}

void LUTOB_GetCorners(const LUTOB* lut, int32_t counts[4], float* first, float* second) {
  if (lut == nullptr) return;
  for (int c = 0; c < 4; ++c) {
    counts[c] = lut->cornerCounts[c];
    if (lut->cornerCounts[c] <= 0 || lut->imagePoints[c] == nullptr || first == nullptr || second == nullptr)
      continue;
    const int32_t n = std::min(lut->cornerCounts[c], kLutobHandPoints);
    for (int32_t k = 0; k < n; ++k) {
      first[kLutobHandPoints * c + k] = lut->imagePoints[c][2 * k + 1];
      second[kLutobHandPoints * c + k] = lut->imagePoints[c][2 * k];
    }
  }
}

int LUTOB_WorldPointsChanged(LUTOB* lut) {
  if (lut == nullptr) return 0;
  const int32_t m = MaxPoints();
  std::vector<float> saved(static_cast<size_t>(4) * kLutobWorldCompareLimit * 3);
  int32_t n[4];
  for (int c = 0; c < 4; ++c) {
    n[c] = lut->worldPoints[c] != nullptr ? ClampCount(std::min(lut->cornerCounts[c], kLutobWorldCompareLimit), m)
                                          : 0;
    if (n[c] > 0)
      memcpy(&saved[static_cast<size_t>(c) * kLutobWorldCompareLimit * 3], lut->worldPoints[c],
             sizeof(float) * 3 * n[c]);
  }
  for (int c = 0; c < 4; ++c) {
    if (lut->worldPoints[c] == nullptr) continue;
    Matrix world{3, m, lut->worldPoints[c]};
    ComputeTargetWorldPoints(&lut->cfg, c + 1, &world);
  }
  int changed = 0;
  for (int c = 0; c < 4; ++c)
    if (n[c] > 0 && memcmp(&saved[static_cast<size_t>(c) * kLutobWorldCompareLimit * 3], lut->worldPoints[c],
                           sizeof(float) * 3 * n[c]) != 0)
      changed = 1;
  return changed;
}

void LUTOB_FreeCameraImages(LUTOB* lut) {
  if (lut == nullptr) return;
  FreePreview(lut);
  for (Matrix*& m : lut->cameraImages) {
    Matrix_Delete(m);
    m = nullptr;
  }
}

void LUTOB_ReleaseBuffers(LUTOB* lut) {
  if (lut == nullptr) return;
  LutConfig_Release(&lut->cfg, 1);
  FreePoints(lut);
  LUTOB_FreeCameraImages(lut);
  lut->camW = 0;
  lut->camH = 0;
}

int32_t LUTOB_GetCameraWord(const LUTOB* lut, int32_t index) {
  if (lut == nullptr || index < 1 || index > 4) return 0;
  return lut->singleFitFlags[index - 1];
}

void LUTOB_SetFrontCameraX(LUTOB* lut) {
  const GlobalVariables& g = gv();
  if (lut == nullptr || g.frontCameraXFixed == 0) return;
  AvmLog("FrontCameraX %f \n", static_cast<double>(lut->params.T[0][0]));
  const float delta = g.frontCameraX - lut->params.T[0][0];
  for (int c = 0; c < 4; ++c) lut->params.T[c][0] += delta;
}
