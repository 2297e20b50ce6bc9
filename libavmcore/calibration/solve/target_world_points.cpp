#include "calibration/solve/target_world_points.h"

#include <algorithm>

#include "calibration/solve/site_frame.h"
#include "calibration/solve/world_point_layouts.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "frame/log.h"

namespace {

struct GridShape {
  int32_t across;   // squares along a row of corners
  int32_t outward;  // squares away from the vehicle
};

GridShape CameraGrid(int32_t camera) {
  const GlobalVariables& g = gv();
  if (camera <= 2) return GridShape{g.boardCols12, g.boardRows12};
  return GridShape{g.boardCols34, g.boardRows34};
}

// Inner corners of the camera's configured board; 0 for a board with fewer
// than two squares either way. 64-bit: the words are the configuration's.
int64_t GridPoints(int32_t camera) {
  const GridShape b = CameraGrid(camera);
  if (b.across < 2 || b.outward < 2) return 0;
  return static_cast<int64_t>(b.across - 1) * (b.outward - 1);
}

// The chessboard grid of the camera, all arithmetic in 32-bit integers.
void WriteGrid(const int32_t box[3], int32_t camera, Matrix* out) {
  const GlobalVariables& g = gv();
  const SiteDistances d = SiteDistances_FromConfig();
  const int32_t S = g.targetDimA, G = g.targetDimB;
  const int32_t a = box[0], b = box[1], c = box[2];
  const GridShape shape = CameraGrid(camera);
  if (GridPoints(camera) == 0) return;
  const int32_t n = shape.across - 1;  // corners per row
  for (int32_t r = 0; r <= shape.outward - 2; ++r) {
    const int32_t far = S * (shape.outward - 1 - r);
    for (int32_t j = 0; j < n; ++j) {
      int32_t x = 0, y = 0;
      switch (camera) {
        case 1:
          x = HalfToZero(d.dR - d.dL) - HalfToZero(S * shape.across) + S * (j + 1);
          y = -HalfToZero(b) - G - d.dF - far;
          break;
        case 2:
          x = HalfToZero(d.dR - d.dL) + HalfToZero(S * shape.across) - S * (j + 1);
          y = HalfToZero(b) + G + d.dB + far;
          break;
        case 3:
          x = -HalfToZero(a) - G - d.dL - far;
          y = -HalfToZero(b) + c + G - d.dF + S * (n - j);
          break;
        default:
          x = HalfToZero(a) + G + d.dR + far;
          y = -HalfToZero(b) + c + G - d.dF + S * (j + 1);
          break;
      }
      float* row = out->data + static_cast<size_t>(r * n + j) * out->cols;
      row[0] = static_cast<float>(x);
      row[1] = static_cast<float>(y);
    }
  }
}

void Zero(Matrix* out) {
  std::fill(out->data, out->data + static_cast<size_t>(out->cols) * out->rows, 0.0f);
}

struct LayoutGenerator {
  int32_t code;
  WorldPointGenerator generate;
};

constexpr LayoutGenerator kGenerators[] = {
    {1, CalibLayout1_WorldPoints},   {2, CalibLayout2_WorldPoints},   {3, CalibLayout3_WorldPoints},
    {4, CalibLayout4_WorldPoints},   {5, CalibLayout5_WorldPoints},   {6, CalibLayout6_WorldPoints},
    {7, CalibLayout7_WorldPoints},   {8, CalibLayout8_WorldPoints},   {9, CalibLayout9_WorldPoints},
    {10, CalibLayout10_WorldPoints}, {11, CalibLayout11_WorldPoints}, {12, CalibLayout12_WorldPoints},
    {13, CalibLayout13_WorldPoints}, {14, CalibLayout14_WorldPoints}, {15, CalibLayout15_WorldPoints},
    {16, CalibLayout16_WorldPoints}, {17, CalibLayout17_WorldPoints}, {18, CalibLayout18_WorldPoints},
    {19, CalibLayout19_WorldPoints}, {20, CalibLayout20_WorldPoints}, {21, CalibLayout21_WorldPoints},
    {22, CalibLayout22_WorldPoints}, {23, CalibLayout23_WorldPoints}, {24, CalibLayout24_WorldPoints},
    {25, CalibLayout25_WorldPoints}, {26, CalibLayout26_WorldPoints}, {27, CalibLayout27_WorldPoints},
    {28, CalibLayout28_WorldPoints}, {29, CalibLayout29_WorldPoints}, {30, CalibLayout30_WorldPoints},
    {31, CalibLayout31_WorldPoints}, {32, CalibLayout32_WorldPoints}, {51, CalibLayout51_WorldPoints},
    {52, CalibLayout52_WorldPoints}, {53, CalibLayout53_WorldPoints}, {54, CalibLayout54_WorldPoints},
};

}  // namespace

WorldPointGenerator WorldPointGenerator_ForLayout(int32_t code) {
  for (const LayoutGenerator& g : kGenerators)
    if (g.code == code) return g.generate;
  return nullptr;
}

int32_t TargetWorldPoints_GridPoints(int32_t camera) {
  if (camera < 1 || camera > 4) return 0;
  return static_cast<int32_t>(std::min<int64_t>(GridPoints(camera), INT32_MAX));
}

int32_t TargetWorldPoints_RowsNeeded(int32_t camera) {
  if (camera < 1 || camera > 4) return 0;
  int64_t rows = GridPoints(camera);
  if (gv().CalibLayoutCode == 1)
    rows = std::max<int64_t>(rows, static_cast<int64_t>(Layout1_FirstMarkRow(camera)) + Layout1_MarkCount(camera));
  return static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
}

bool TargetWorldPoints_Fit(int32_t camera, int32_t rows) {
  if (camera < 1 || camera > 4) return true;
  // A negative first mark row is as impossible as one beyond the matrix.
  if (gv().CalibLayoutCode == 1 && Layout1_FirstMarkRow(camera) < 0) return false;
  return TargetWorldPoints_RowsNeeded(camera) <= rows;
}

void ComputeTargetWorldPoints(LutConfig* cfg, int32_t camera, Matrix* out) {
  if (cfg == nullptr || out == nullptr || out->data == nullptr || out->cols < 3 || out->rows < 0) return;
  Zero(out);
  if (camera < 1 || camera > 4) return;
  if (!TargetWorldPoints_Fit(camera, out->rows)) {
    AvmLog("camera %d: target of %d points does not fit %d rows\n", camera, TargetWorldPoints_RowsNeeded(camera),
           out->rows);
    return;
  }
  int32_t box[3];
  SiteBox_FromLutConfig(cfg, box);
  WriteGrid(box, camera, out);
  const WorldPointGenerator generate = WorldPointGenerator_ForLayout(gv().CalibLayoutCode);
  if (generate != nullptr) generate(cfg, camera, out);
}
