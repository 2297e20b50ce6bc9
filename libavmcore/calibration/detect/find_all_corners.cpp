#include "calibration/detect/find_all_corners.h"

#include <cstring>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/detect_services.h"
#include "calibration/detect/template_corners.h"
#include "frame/clock.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/lutob.h"

namespace {

using Finder = uint32_t (*)(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*);

template <uint32_t (*F)(LUTOB*, uint32_t, Matrix*, float*)>
uint32_t Short(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  return F(lut, camera, image, points);
}

uint32_t Layout1(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points) {
  if (cols == 8 && rows == 6) return CalibFind_Board8x6(lut, camera, image, 8, 6, points);
  return CalibFind_Layout1Board(lut, camera, image, cols, rows, points);
}

uint32_t Layout13(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points) {
  if (camera != 1 && camera != 2) {
    const uint32_t n = CalibFind_Layout13(lut, camera, image, cols, rows, points, 0);
    if (n == 8) return n;
  }
  return CalibFind_Layout13(lut, camera, image, cols, rows, points, 1);
}

uint32_t Layout29(LUTOB*, uint32_t camera, Matrix*, int32_t, int32_t, float* points) {
  const BlockCalib4* block = gv().blockCalib4;
  // The object's 8 points must fit the camera's point buffer.
  if (block == nullptr || gv().maxPoints < 8) return 0;
  float found[16];
  memcpy(found, points, sizeof found);  // what the object does not fill stays
  const uint32_t n = BlockCalib4_CopyFoundPoints(block, camera, found);
  memcpy(points, found, sizeof found);
  return n;
}

struct LayoutEntry {
  int32_t code;
  Finder front;  // cameras 1 and 2
  Finder rest;   // every other camera
};

// One row per layout code; codes not listed (22 among them) find nothing.
const LayoutEntry kLayouts[] = {
    {1, Layout1, Layout1},
    {2, CalibFind_Layout2, CalibFind_Layout2},
    {3, CalibFind_Layout3, CalibFind_Layout3},
    {4, CalibFind_Layout4, CalibFind_Layout4},
    {5, Short<CalibInit_FindChessboardCorners>, Short<CalibFind_Layout5Side>},
    {6, CalibFind_Layout6, CalibFind_Layout6},
    {7, CalibFind_Layout7, CalibFind_Layout7},
    {8, CalibFind_Layout8, CalibFind_Layout8},
    {9, CalibFind_Layout9, CalibFind_Layout9},
    {10, CalibFind_Layout10, CalibFind_Layout10},
    {11, nullptr, Short<CalibFind_Layout11Side>},  // camera 1 front, camera 2 rear: below
    {12, CalibFind_Layout12, CalibFind_Layout12},
    {13, Layout13, Layout13},
    {14, CalibFind_Layout14, CalibFind_Layout14},
    {15, CalibFind_Layout15, CalibFind_Layout15},
    {16, Short<CalibFind_Layout16A>, Short<CalibFind_Layout16B>},
    {17, CalibFind_Layout17, CalibFind_Layout17},
    {18, CalibFind_Layout18, CalibFind_Layout18},
    {19, CalibFind_Layout19, CalibFind_Layout19},
    {20, CalibFind_Layout20, CalibFind_Layout20},
    {21, CalibFind_Layout21, CalibFind_Layout3},
    {23, CalibFind_Layout23, CalibFind_Layout23},
    {24, CalibFind_Layout24, CalibFind_Layout24},
    {25, CalibFind_Layout25, CalibFind_Layout25},
    {26, CalibFind_Layout26, CalibFind_Layout26},
    {27, CalibFind_Layout27, CalibFind_Layout27},
    {28, CalibFind_Layout28, CalibFind_Layout28},
    {29, Layout29, Layout29},
    {30, CalibFind_Layout30, CalibFind_Layout30},
    {31, CalibFind_Layout31, CalibFind_Layout31},
    {32, CalibFind_Layout32, CalibFind_Layout32},
    {51, CalibFind_Layout51, CalibFind_Layout51},
    {52, CalibFind_Layout52, CalibFind_Layout52},
    {53, CalibFind_Layout53, CalibFind_Layout53},
    {54, CalibFind_Layout54, CalibFind_Layout54},
};

Finder Lookup(int32_t code, uint32_t camera) {
  if (code == 11 && camera == 1) return Short<CalibFind_Layout11Front>;
  if (code == 11 && camera == 2) return Short<CalibFind_Layout11Rear>;
  for (const LayoutEntry& e : kLayouts)
    if (e.code == code) return (camera == 1 || camera == 2) ? e.front : e.rest;
  return nullptr;
}

}  // namespace

uint32_t CalibFind_Layout1Board(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                float* points) {
  // A board larger than the point buffer (word 31 points), or one without
  // inner corners, is refused before anything is written.
  if (cols < 2 || rows < 2) return 0;
  const int64_t expected = static_cast<int64_t>(cols - 1) * (rows - 1);
  if (expected > gv().maxPoints) return 0;
  lut->cornerCounts[camera - 1] = static_cast<int32_t>(expected);
  if (Chessboard_FindCorners(image, cols, rows, points, 2) != 0) return static_cast<uint32_t>(expected);
  if (FindChessboardByTemplates(image, cols, rows, points, 2, 0, 0, 0) != 0) return static_cast<uint32_t>(expected);
  return 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout26) {
  GlobalVariables& g = gv();
  if (camera == 1 && g.layout26Cam1PartFinder != 0)
    return CalibFind_Layout26Part(lut, camera, image, cols, rows, points);
  if ((g.groupNumber != 0) == (g.layout26InvertFront != 0))
    return CalibFind_Layout26B(lut, camera, image, cols, rows, points);
  if (camera != 1) return CalibFind_Layout26A(lut, camera, image, cols, rows, points);
  AvmLog("DK1 LG Front F0 \n");
  const uint32_t n = CalibFind_Layout26A(lut, camera, image, cols, rows, points);
  if (n != 0) return n;
  AvmLog("DK1 LG Front F1 \n");
  const int32_t saved = g.groupNumber;
  g.groupNumber = g.layout26InvertFront != 0 ? 1 : 0;
  if (lut->worldPoints[0] != nullptr && g.maxPoints > 0) {
    Matrix target{3, g.maxPoints, lut->worldPoints[0]};
    ComputeTargetWorldPoints(&lut->cfg, 1, &target);
  }
  const uint32_t result = CalibFind_Layout26B(lut, camera, image, cols, rows, points);
  g.groupNumber = saved;
  return result;
}

uint32_t FindAllChessboardCorners(LUTOB* lut, uint32_t camera) {
  const GlobalVariables& g = gv();
  const int32_t layout = g.CalibLayoutCode;
  const uint32_t start = GetTickMs();
  AvmLog("FindAllChessboardCorners begin %d %d \n", static_cast<int>(camera), layout);
  uint32_t count = 0;
  if (lut != nullptr && camera >= 1 && camera <= 4) {
    const int32_t c = static_cast<int32_t>(camera) - 1;
    Matrix* image = lut->cameraImages[c];
    float* points = lut->imagePoints[c];
    const bool front = camera <= 2;
    const int32_t cols = front ? g.boardCols12 : g.boardCols34;
    const int32_t rows = front ? g.boardRows12 : g.boardRows34;
    const Finder finder = Lookup(layout, camera);
    if (finder != nullptr && image != nullptr && image->data != nullptr && points != nullptr)
      count = finder(lut, camera, image, cols, rows, points);
    lut->cornerCounts[c] = static_cast<int32_t>(count);
  }
  AvmLog("FindAllChessboardCorners end %d %d %d \n", static_cast<int>(camera), layout,
         static_cast<int>(GetTickMs() - start));
  return count;
}
