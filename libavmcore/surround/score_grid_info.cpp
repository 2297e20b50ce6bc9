#include "surround/score_grid_info.h"

#include "surround/calibration_services.h"
#include "camera/lut_config.h"
#include "frame/log.h"
#include "toolkit/matrix_alloc.h"

namespace {
constexpr int32_t kCols = 5, kRows = 3;
}  // namespace

int ScoreGridInfo_Build(ScoreGridInfo* grid, const char* path) {
  if (grid == nullptr) return 0;
  if (grid->valid != 0) return 1;
  LutConfigInfo info;
  CameraParamSet params;
  if (path == nullptr || LoadLUTConfig(&info, &params, path, nullptr) == 0) return 0;
  if (static_cast<int32_t>(info.carLength) < 3000) return 0;
  CameraParamHeaders h;
  CameraParamSet_SetHeaders(&params, &h);
  const int32_t w = static_cast<int32_t>(info.quadWidth) / 2, hh = static_cast<int32_t>(info.quadHeight) / 2;
  const float carW = static_cast<float>(static_cast<int32_t>(info.carWidth));
  const float carL = static_cast<float>(static_cast<int32_t>(info.carLength));
  const int32_t leftX = static_cast<int32_t>(-carW / 2 - 2000.0f), rightX = static_cast<int32_t>(carW / 2 + 500.0f);
  const int32_t rearY = static_cast<int32_t>(carL / 2);
  const struct {
    int cam;  // 0-based
    int32_t x0, y0, xoff;
  } areas[4] = {{2, leftX, -400, 0}, {3, rightX, -400, w}, {2, leftX, rearY, 0}, {3, rightX, rearY, w}};
  for (int a = 0; a < 4; ++a) {
    float u[kCols * kRows], v[kCols * kRows];
    for (int i = 0; i < kCols * kRows; ++i) u[i] = v[i] = -1.0f;
    Matrix U{kCols, kRows, u}, V{kCols, kRows, v};
    const int c = areas[a].cam;
    Calib_ReprojectPoints(w, hh, kCols, kRows, areas[a].x0, areas[a].y0, &h.R[c], &h.T[c], &h.K[c], &h.D[c], &U, &V,
                          static_cast<int32_t>(info.model), static_cast<int32_t>(info.lensSlot[c]), 300.0f, 400.0f,
                          0.0f);
    ImageI32& tx = grid->tables[2 * a];
    ImageI32& ty = grid->tables[2 * a + 1];
    ImageI32_FreeData(&tx);
    ImageI32_FreeData(&ty);
    if (!ImageI32_NewData(&tx, kCols, kRows) || !ImageI32_NewData(&ty, kCols, kRows)) {
      AvmLog("ScoreGridInfo_Build: no memory for the score tables\n");
      ScoreGridInfo_Release(grid);
      return 0;
    }
    for (int i = 0; i < kCols * kRows; ++i) {
      tx.data[i] = static_cast<int32_t>(u[i]) + areas[a].xoff;
      ty.data[i] = static_cast<int32_t>(v[i]) + hh;
    }
  }
  grid->camW = w;
  grid->camH = hh;
  grid->valid = 1;
  grid->flag = 1;
  return 1;
}

void ScoreGridInfo_Release(ScoreGridInfo* grid) {
  if (grid == nullptr) return;
  for (ImageI32& t : grid->tables) {
    ImageI32_FreeData(&t);
    t = ImageI32{0, 0, nullptr};
  }
  grid->valid = 0;
}
