// Driver-assistance look-up tables: ground grids around the vehicle
// projected into the quad frame through the calibrated cameras.
#include <cmath>
#include <cstdio>
#include <functional>
#include <new>
#include <vector>

#include "camera/camera_model.h"
#include "frame/global_variables.h"
#include "pipeline/adas_config.h"
#include "frame/log.h"
#include "toolkit/matrix_alloc.h"

namespace {

using GroundFn = std::function<void(int col, int row, float* x, float* y)>;

// Accepted projected pixel (after rounding) of a table.
struct Bounds {
  int colMin, colMaxOff, rowMin, rowMaxOff;  // colMin < col <= camW - colMaxOff, likewise rows
};
constexpr Bounds kUsualBounds{1, 2, 1, 2};
constexpr Bounds kModsBounds{2, 4, 0, 2};

void AllocTable(ImageI32* t, int cols, int rows) {
  ImageI32_FreeData(t);
  if (!ImageI32_NewData(t, cols, rows)) throw std::bad_alloc();
}

// Projects the ground points of n cells through camera `cam` (0..3) into
// pixels (u, v); false where the model fails.
void Project(const AdasCameraRig& rig, int cam, std::vector<float>& ground, std::vector<float>& pixels) {
  int n = static_cast<int>(ground.size() / 3);
  pixels.assign(static_cast<size_t>(n) * 2, -2.0f);
  if (n == 0) return;
  Matrix obj{3, n, ground.data()};
  Matrix img{2, n, pixels.data()};
  CameraModel_ProjectPoints(rig.model[cam], &obj, rig.R[cam], rig.T[cam], rig.K[cam], rig.D[cam], &img, nullptr,
                            nullptr, nullptr, nullptr, nullptr, rig.slot[cam]);
}

// Fills columns c0..c1-1 of rows r0..r1-1 of the table through one camera.
// Valid pixels store (col + offCol) | (row + offRow) << 16, others `invalid`.
void FillBlock(const AdasCameraRig& rig, ImageI32* t, int c0, int c1, int r0, int r1, int cam,
               const GroundFn& ground, const Bounds& b, int offCol, int offRow, int32_t invalid) {
  if (t->data == nullptr || c1 <= c0 || r1 <= r0) return;
  std::vector<float> pts;
  pts.reserve(static_cast<size_t>(c1 - c0) * (r1 - r0) * 3);
  for (int r = r0; r < r1; ++r)
    for (int c = c0; c < c1; ++c) {
      float x, y;
      ground(c, r, &x, &y);
      pts.push_back(x);
      pts.push_back(y);
      pts.push_back(0.0f);
    }
  std::vector<float> px;
  Project(rig, cam, pts, px);
  size_t i = 0;
  for (int r = r0; r < r1; ++r)
    for (int c = c0; c < c1; ++c, ++i) {
      float u = px[2 * i], v = px[2 * i + 1];
      int32_t value = invalid;
      if (std::isfinite(u) && std::isfinite(v) && std::fabs(u) < 1e6f && std::fabs(v) < 1e6f) {
        int iu = static_cast<int>(u + 0.5f), iv = static_cast<int>(v + 0.5f);
        if (iu > b.colMin && iu <= rig.camW - b.colMaxOff && iv > b.rowMin && iv <= rig.camH - b.rowMaxOff)
          value = static_cast<int32_t>(static_cast<uint32_t>(iu + offCol) | (static_cast<uint32_t>(iv + offRow) << 16));
      }
      t->data[static_cast<size_t>(r) * t->width + c] = value;
    }
}

// Quad-frame origin of camera 0..3.
int OffCol(const AdasCameraRig& rig, int cam) { return (cam == 1 || cam == 3) ? rig.camW : 0; }
int OffRow(const AdasCameraRig& rig, int cam) { return cam >= 2 ? rig.camH : 0; }
int32_t InvalidOf(const AdasCameraRig& rig, int cam) {
  return static_cast<int32_t>(static_cast<uint32_t>(OffCol(rig, cam)) |
                              (static_cast<uint32_t>(OffRow(rig, cam)) << 16));
}

void FillCamera(const AdasCameraRig& rig, ImageI32* t, int c0, int c1, int r0, int r1, int cam,
                const GroundFn& ground, const Bounds& b = kUsualBounds) {
  FillBlock(rig, t, c0, c1, r0, r1, cam, ground, b, OffCol(rig, cam), OffRow(rig, cam), InvalidOf(rig, cam));
}

void BuildLdws(ADASConfig* cfg, const AdasCameraRig& rig) {
  int32_t* C = cfg->C;
  const float halfLen = C[kAdasCarLength] / 2.0f;
  C[kAdasLdwsPresent] = 1;
  C[11] = 9000;
  C[12] = 7000;
  C[13] = 7000;
  C[14] = 1000;
  C[15] = 180;
  C[16] = 280;
  C[17] = 7000;
  C[18] = (rig.T[0] != nullptr && rig.T[0]->data != nullptr && rig.T[0]->data[2] < 2000.0f) ? 5000 : 7000;
  ImageI32* t = &cfg->ldws;
  AllocTable(t, 180, 280);
  int n = static_cast<int>(std::lround(C[kAdasCarLength] / 50.0));
  if (n > 140) n = 140;
  if (n < 0) n = 0;
  auto colX = [](int c) { return -4475.0f + 50.0f * c; };
  FillCamera(rig, t, 0, 180, 0, 140, 0, [&](int c, int r, float* x, float* y) {
    *x = colX(c);
    *y = 50.0f * r - (halfLen + 7000.0f);
  });
  FillCamera(rig, t, 0, 180, 140 + n, 280, 1, [&](int c, int r, float* x, float* y) {
    *x = colX(c);
    *y = halfLen + 50.0f * (r - 140 - n);
  });
  // Side band last: it wins over camera 1 in rows 120..139.
  int s = static_cast<int>(std::lround(((9000 - C[kAdasCarWidth]) / 2.0) / 50.0));
  if (s < 1) s = 1;
  if (s > 90) s = 90;
  auto sideGround = [&](int c, int r, float* x, float* y) {
    *x = colX(c);
    *y = 50.0f * (r - 120) - (halfLen + 1000.0f);
  };
  const int r0 = 120, r1 = 140 + n;
  FillCamera(rig, t, 0, s, r0, r1, 2, sideGround);
  FillCamera(rig, t, 180 - s, 180, r0, r1, 3, sideGround);
  for (int r = r0; r < r1; ++r) {
    int32_t* row = t->data + static_cast<size_t>(r) * 180;
    for (int c = s; c <= 89; ++c) row[c] = row[s - 1];
    for (int c = 90; c < 180 - s; ++c) row[c] = row[180 - s];
  }
}

// Both test points (-1500, y) through camera 3 and (1500, y) through
// camera 4 land inside their images (unrounded).
bool SideCamerasSee(const AdasCameraRig& rig, float y) {
  for (int cam : {2, 3}) {
    std::vector<float> g = {cam == 2 ? -1500.0f : 1500.0f, y, 0.0f}, px;
    Project(rig, cam, g, px);
    float u = px[0], v = px[1];
    if (!(u >= 0.0f && u <= rig.camW - 2 && v >= 0.0f && v <= rig.camH - 2)) return false;
  }
  return true;
}

void BuildBsds(ADASConfig* cfg, const AdasCameraRig& rig) {
  int32_t* C = cfg->C;
  const float halfLen = C[kAdasCarLength] / 2.0f;
  C[kAdasBsdsPresent] = 1;
  C[25] = 50;
  C[26] = 68;
  C[27] = 270;
  C[28] = 14000;
  C[29] = 52;
  auto rowY = [&](int r) { return halfLen + 14000.0f - 50.0f * r; };
  AllocTable(&cfg->bsds[0], 68, 270);
  AllocTable(&cfg->bsds[1], 68, 270);
  AllocTable(&cfg->bsds[2], 52, 270);
  FillCamera(rig, &cfg->bsds[1], 0, 68, 0, 270, 1, [&](int c, int r, float* x, float* y) {
    *x = 1300.0f + 50.0f * c;
    *y = rowY(r);
  });
  FillCamera(rig, &cfg->bsds[0], 0, 68, 0, 270, 1, [&](int c, int r, float* x, float* y) {
    *x = -1300.0f - 50.0f * c;
    *y = rowY(r);
  });
  FillCamera(rig, &cfg->bsds[2], 0, 52, 0, 270, 1, [&](int c, int r, float* x, float* y) {
    *x = -1300.0f + 50.0f * c;
    *y = rowY(r);
  });

  // Cross tables: how far behind and ahead both side cameras see.
  const int start = rig.camera2Corners != 0 ? 4500 : 14000;
  int D = start - 4000;
  for (int k = 0; k < 10; ++k) {
    int d = start - 400 * k;
    if (SideCamerasSee(rig, halfLen + d)) {
      D = d;
      break;
    }
  }
  int E = 3600;
  for (int k = 0; k < 10; ++k) {
    int e = -400 + 400 * k;
    if (SideCamerasSee(rig, -halfLen + e)) {
      E = e;
      break;
    }
  }
  C[42] = 64;
  C[44] = D;
  C[43] = (D + C[kAdasCarLength] - E) / 50;
  const int rows = C[43];
  AllocTable(&cfg->bsds[3], 64, rows);
  AllocTable(&cfg->bsds[4], 64, rows);
  if (rows < 1) return;
  const int R = rig.camH + (rig.groupNumber == 2 ? rig.camH : 0);
  auto crossY = [&](int r) { return halfLen + D - 50.0f * r; };
  FillBlock(rig, &cfg->bsds[4], 0, 64, 0, rows, 3,
            [&](int c, int r, float* x, float* y) {
              *x = 1500.0f + 50.0f * c;
              *y = crossY(r);
            },
            kUsualBounds, rig.camW, R,
            static_cast<int32_t>(static_cast<uint32_t>(rig.camW) | (static_cast<uint32_t>(R) << 16)));
  FillBlock(rig, &cfg->bsds[3], 0, 64, 0, rows, 2,
            [&](int c, int r, float* x, float* y) {
              *x = -1500.0f - 50.0f * c;
              *y = crossY(r);
            },
            kUsualBounds, 0, R, static_cast<int32_t>(static_cast<uint32_t>(R) << 16));
}

void BuildMods(ADASConfig* cfg, const AdasCameraRig& rig) {
  int32_t* C = cfg->C;
  const int carW = C[kAdasCarWidth], carL = C[kAdasCarLength];
  const float halfLen = carL / 2.0f, halfWid = carW / 2.0f;
  C[kAdasModsPresent] = 1;
  C[69] = 50;
  int cols = (carW + 5000) / 50;
  cols = (cols + 3) / 4 * 4;
  C[70] = cols;
  C[71] = 72;
  AvmLog(">> Gen MOD FB [%d x %d]\n", cols, 72);
  AllocTable(&cfg->mods[0], cols, 72);
  AllocTable(&cfg->mods[1], cols, 72);
  const float left = halfWid + static_cast<float>((50 * cols - carW) / 2);
  FillCamera(rig, &cfg->mods[0], 0, cols, 0, 72, 0,
             [&](int c, int r, float* x, float* y) {
               *x = 50.0f * c - left;
               *y = 50.0f * r - (halfLen + 3600.0f);
             },
             kModsBounds);
  FillCamera(rig, &cfg->mods[1], 0, cols, 0, 72, 1,
             [&](int c, int r, float* x, float* y) {
               *x = 50.0f * c - left;
               *y = halfLen + 50.0f * r;
             },
             kModsBounds);
  C[80] = 56;
  C[81] = (carL + 2000) / 50;
  AvmLog(">> Gen MOD LR [%d x %d]\n", 56, C[81]);
  const int rows = C[81];
  AllocTable(&cfg->mods[2], 56, rows);
  AllocTable(&cfg->mods[3], 56, rows);
  if (rows < 1) return;
  auto sideY = [&](int r) { return 50.0f * r - (halfLen + 1000.0f); };
  FillCamera(rig, &cfg->mods[2], 0, 56, 0, rows, 2,
             [&](int c, int r, float* x, float* y) {
               *x = 50.0f * c - (halfWid + 2800.0f);
               *y = sideY(r);
             },
             kModsBounds);
  FillCamera(rig, &cfg->mods[3], 0, 56, 0, rows, 3,
             [&](int c, int r, float* x, float* y) {
               *x = halfWid + 50.0f * c;
               *y = sideY(r);
             },
             kModsBounds);
}

void BuildRcta(ADASConfig* cfg, const AdasCameraRig& rig) {
  int32_t* C = cfg->C;
  const float halfLen = C[kAdasCarLength] / 2.0f;
  C[kAdasRctaPresent] = 1;
  C[92] = 60;
  C[93] = 63;
  C[94] = 266;
  C[95] = 13000;
  AllocTable(&cfg->rcta[0], 63, 266);
  AllocTable(&cfg->rcta[1], 63, 266);
  FillCamera(rig, &cfg->rcta[1], 0, 63, 0, 266, 1, [&](int c, int r, float* x, float* y) {
    *x = 60.0f * r - 13000.0f;
    *y = halfLen + 3800.0f - 60.0f * c;
  });
  FillCamera(rig, &cfg->rcta[0], 0, 63, 0, 266, 1, [&](int c, int r, float* x, float* y) {
    *x = 13000.0f - 60.0f * r;
    *y = halfLen + 3800.0f - 60.0f * c;
  });
}

void BuildLvsa(ADASConfig* cfg, const AdasCameraRig& rig) {
  int32_t* C = cfg->C;
  C[kAdasLvsaPresent] = 1;
  C[105] = 40;
  C[106] = 60;
  C[107] = 150;
  C[108] = -(C[kAdasCarLength] / 2);
  AllocTable(&cfg->lvsa, 60, 150);
  const float front = static_cast<float>(C[108]);
  FillCamera(rig, &cfg->lvsa, 0, 60, 0, 150, 0, [&](int c, int r, float* x, float* y) {
    *x = 40.0f * c;
    *y = front - 6000.0f + 40.0f * r;
  });
}

}  // namespace

void ADAS_GenerateTablesFromRig(ADASConfig* config, const AdasCameraRig& rig, int32_t mask) {
  if (config == nullptr) return;
  int32_t* C = config->C;
  C[kAdasLoaded] = 1;
  C[kAdasFrameWidth] = 2 * rig.camW;
  C[kAdasFrameHeight] = 2 * rig.camH;
  C[kAdasCarWidth] = rig.carWidth;
  C[kAdasCarLength] = rig.carLength;
  C[kAdasFrontOverhang] = rig.frontOverhang;
  C[kAdasWheelBase] = rig.wheelBase;
  C[kAdasCameraMask] = gv().cameraMask;
  if (mask & kAdasLDWS) BuildLdws(config, rig);
  if (mask & kAdasBSDS) BuildBsds(config, rig);
  if (mask & kAdasMODS) BuildMods(config, rig);
  if (mask & kAdasRCTA) BuildRcta(config, rig);
  if (mask & kAdasLVSA) BuildLvsa(config, rig);
}
