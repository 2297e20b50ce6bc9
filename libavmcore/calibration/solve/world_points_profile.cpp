// World points of the board layouts that belong to a vehicle programme. Each
// generator loads its programme's profile first (the corner finders read it
// afterwards); the marks themselves are fixed by the layout, the vehicle box
// and the configured distances.
#include <cstdlib>

#include "calibration/solve/calib_profile_files.h"
#include "calibration/solve/site_frame.h"
#include "calibration/solve/target_world_points.h"
#include "calibration/solve/world_point_layouts.h"
#include "calibration/solve/world_point_list.h"
#include "camera/lut_config.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"

namespace {

using List = WorldPointList;

bool ValidCamera(int32_t camera) { return camera >= 1 && camera <= 4; }

WorldSymbols FloatSymbols(const LutConfig* cfg) {
  int32_t box[3];
  SiteBox_FromLutConfig(cfg, box);
  return WorldSymbols(SiteAnchors_Float(box, SiteDistances_FromConfig()));
}

void WriteCameraList(const LutConfig* cfg, int32_t camera, Matrix* out, const List* lists) {
  if (ValidCamera(camera)) WorldPoints_WriteList(out, 0, lists[camera - 1], FloatSymbols(cfg));
}

// ---- Layout 2: two squares per camera, sized by the square-size word.
struct Layout2Size {
  int32_t word33;
  float O, I, F, N;
};
constexpr Layout2Size kLayout2Sizes[] = {{600, 1700, 1100, 900, 300},   {601, 1900, 1300, 900, 300},
                                         {1000, 2100, 1100, 1100, 100}, {1001, 2425, 1425, 1400, 400},
                                         {1002, 2100, 1100, 1200, 200}, {1500, 3500, 2000, 1800, 300},
                                         {1501, 3800, 2300, 1800, 300}, {1502, 4100, 2600, 1800, 300}};
const List kLayout2[4] = {
    List("(xC-O, yF-F) (xC-I, yF-F) (xC-O, yF-N) (xC-I, yF-N) (xC+I, yF-F) (xC+O, yF-F) (xC+I, yF-N) (xC+O, yF-N)"),
    List("(xC-O, yB+N) (xC-I, yB+N) (xC-O, yB+F) (xC-I, yB+F) (xC+I, yB+N) (xC+O, yB+N) (xC+I, yB+F) (xC+O, yB+F)"),
    List("(xC-O, yF-F) (xC-I, yF-F) (xC-O, yF-N) (xC-I, yF-N) (xC-O, yB+N) (xC-I, yB+N) (xC-O, yB+F) (xC-I, yB+F)"),
    List("(xC+I, yF-F) (xC+O, yF-F) (xC+I, yF-N) (xC+O, yF-N) (xC+I, yB+N) (xC+O, yB+N) (xC+I, yB+F) (xC+O, yB+F)"),
};

// ---- Layout 5 (every height -10).
const List kLayout5[4] = {
    List("(xC-250, yC-2950) (xC, yC-2950) (xC+250, yC-2950) (xC-1750, yC-3100) (xC+1750, yC-3100) "
         "(xC-500, yC-3200) (xC+500, yC-2700) (xC-1750, yC-3100) (xC-2000, yC-3100) (xC-2000, yC-2850) "
         "(xC-1750, yC-2850) (xC-1500, yC-3100) (xC-1500, yC-3350) (xC-1750, yC-3350) (xC+1750, yC-3100) "
         "(xC+1500, yC-3100) (xC+1500, yC-3350) (xC+1750, yC-3350) (xC+2000, yC-3100) (xC+2000, yC-2850) "
         "(xC+1750, yC-2850)"),
    List("(xC+250, yC+3100) (xC, yC+3100) (xC-250, yC+3100) (xC+1750, yC+2950) (xC-1750, yC+2950) "
         "(xC+500, yC+3350) (xC-500, yC+2850) (xC-1750, yC+2950) (xC-2000, yC+2950) (xC-2000, yC+2700) "
         "(xC-1750, yC+2700) (xC-1500, yC+2950) (xC-1500, yC+3200) (xC-1750, yC+3200) (xC+1750, yC+2950) "
         "(xC+1500, yC+2950) (xC+1500, yC+2700) (xC+1750, yC+2700) (xC+2000, yC+2950) (xC+2000, yC+3200) "
         "(xC+1750, yC+3200)"),
    List("(xC-1750, yC+1150) (xC-1750, yC+900) (xC-1650, yC-900) (xC-1750, yC-1800) (xC-1900, yC-650) "
         "(xC-1400, yC-1150) (xC-1500, yC-1550) (xC-2000, yC-2050) (xC-1750, yC-3100) (xC-2000, yC-3100) "
         "(xC-2000, yC-2850) (xC-1750, yC-2850) (xC-1500, yC-3100) (xC-1500, yC-3350) (xC-1750, yC-3350) "
         "(xC-1750, yC+2950) (xC-2000, yC+2950) (xC-2000, yC+2700) (xC-1750, yC+2700) (xC-1500, yC+2950) "
         "(xC-1500, yC+3200) (xC-1750, yC+3200)"),
    List("(xC+1750, yC+900) (xC+1750, yC+1150) (xC+1750, yC-1800) (xC+1650, yC-900) (xC+2000, yC-2050) "
         "(xC+1500, yC-1550) (xC+1400, yC-1150) (xC+1900, yC-650) (xC+1750, yC-3100) (xC+1500, yC-3100) "
         "(xC+1500, yC-3350) (xC+1750, yC-3350) (xC+2000, yC-3100) (xC+2000, yC-2850) (xC+1750, yC-2850) "
         "(xC+1750, yC+2950) (xC+1500, yC+2950) (xC+1500, yC+2700) (xC+1750, yC+2700) (xC+2000, yC+2950) "
         "(xC+2000, yC+3200) (xC+1750, yC+3200)"),
};

// ---- Layout 8: cameras 1 and 2 by whether the yk3 profile is loaded.
const List kLayout8Yk3[2] = {
    List("(xC-600, yC-3300) (xC, yC-3300) (xC-600, yC-2700) (xC, yC-2700) (xC-1200, yC-2700) (xC+1200, yC-2700) "
         "(xC-1800, yC-3900) (xC-1200, yC-3900) (xC-1800, yC-3300) (xC-1200, yC-3300) (xC-1800, yC-2700) "
         "(xC-1200, yC-2700) (xC+1200, yC-3900) (xC+1800, yC-3900) (xC+1200, yC-3300) (xC+1800, yC-3300) "
         "(xC+1200, yC-2700) (xC+1800, yC-2700)"),
    List("(xC, yC+3300) (xC, yC+3900) (xC+1200, yC+2700) (xC+1800, yC+3300) (xC-1200, yC+2700) (xC-1800, yC+3300) "
         "(xC-2400, yC+2700) (xC-1800, yC+2700) (xC-2400, yC+3300) (xC-1800, yC+3300) (xC-2400, yC+3900) "
         "(xC-1800, yC+3900) (xC+1800, yC+2700) (xC+2400, yC+2700) (xC+1800, yC+3300) (xC+2400, yC+3300) "
         "(xC+1800, yC+3900) (xC+2400, yC+3900)"),
};
const List kLayout8[4] = {
    List("(xC-600, yC-3300) (xC, yC-3300) (xC-600, yC-2700) (xC, yC-2700) (xC-2400, yC-3300) (xC-1800, yC-3300) "
         "(xC-1200, yC-3300) (xC-2400, yC-2700) (xC-1800, yC-2700) (xC-1200, yC-2700) (xC+1200, yC-3300) "
         "(xC+1800, yC-3300) (xC+2400, yC-3300) (xC+1200, yC-2700) (xC+1800, yC-2700) (xC+2400, yC-2700) "
         "(xC-1800, yC-3900) (xC+1800, yC-3900)"),
    List("(xC, yC+3900) (xC+600, yC+3300) (xC, yC+3300) (xC-600, yC+3300) (xC+2400, yC+3900) (xC+1800, yC+3900) "
         "(xC+2400, yC+3300) (xC+1800, yC+3300) (xC+2400, yC+2700) (xC+1800, yC+2700) (xC-1800, yC+3900) "
         "(xC-2400, yC+3900) (xC-1800, yC+3300) (xC-2400, yC+3300) (xC-1800, yC+2700) (xC-2400, yC+2700)"),
    List("(xC-2400, yC-3300) (xC-1800, yC-3300) (xC-2400, yC+3300) (xC-1800, yC+3300) (xC-2400, yC+3900) "
         "(xC-1800, yC+3900)"),
    List("(xC+1800, yC-3300) (xC+2400, yC-3300) (xC+1800, yC+3300) (xC+2400, yC+3300) (xC+1800, yC+3900) "
         "(xC+2400, yC+3900)"),
};
constexpr uint32_t kYk3Tag = 19;

// ---- Layout 9.
const List kLayout9[4] = {
    List("(xL-600, yF-600) (xL-1200, yF-600) (xL-1200, yF-1200) (xL-600, yF-1200) (xL, yF-600) (xL, yF) "
         "(xL-600, yF) (xR+600, yF-600) (xR, yF-600) (xR, yF) (xR+600, yF) (xR+1200, yF-600) (xR+1200, yF-1200) "
         "(xR+600, yF-1200)"),
    List("(xR+600, yB+600) (xR+1200, yB+600) (xR+1200, yB+1200) (xR+600, yB+1200) (xR, yB+600) (xR, yB) "
         "(xR+600, yB) (xL-600, yB+600) (xL, yB+600) (xL, yB) (xL-600, yB) (xL-1200, yB+600) (xL-1200, yB+1200) "
         "(xL-600, yB+1200)"),
    List("(xL-600, yB+600) (xL-600, yB+1200) (xL-1200, yB+1200) (xL-1200, yB+600) (xL-600, yB) (xL, yB) "
         "(xL, yB+600) (xL-600, yF-600) (xL-600, yF) (xL, yF) (xL, yF-600) (xL-600, yF-1200) (xL-1200, yF-1200) "
         "(xL-1200, yF-600)"),
    List("(xR+600, yF-600) (xR+600, yF-1200) (xR+1200, yF-1200) (xR+1200, yF-600) (xR+600, yF) (xR, yF) "
         "(xR, yF-600) (xR+600, yB+600) (xR+600, yB) (xR, yB) (xR, yB+600) (xR+600, yB+1200) (xR+1200, yB+1200) "
         "(xR+1200, yB+600)"),
};

// ---- Layout 11 (with heights).
const List kLayout11[4] = {
    List("(xC-250, yC-3212, -110) (xC, yC-3212, -110) (xC+250, yC-3212, -110) (xC-500, yC-3462, -110) "
         "(xC+250, yC-3462, -110) (xC, yC-3462, -110)"),
    List("(xC+190, yC+3213, -25) (xC-60, yC+3213, -25) (xC-310, yC+3213, -25) (xC+1500, yC+3213, -25) "
         "(xC-1500, yC+3213, -25) (xC+1500, yC+3463, -25) (xC-1500, yC+3463, -25)"),
    List("(xC-1350, yC+1313, -50) (xC-1350, yC+1113, -50) (xC-1250, yC-287, -50) (xC-1350, yC-1287, -50) "
         "(xC-1500, yC+3213, -25) (xC-1500, yC-37, -50) (xC-1150, yC-1087, -50) (xC-1250, yC+3213, -25)"),
    List("(xC+1350, yC+1113, -50) (xC+1350, yC+1313, -50) (xC+1350, yC-1287, -50) (xC+1250, yC-287, -50) "
         "(xC+1500, yC+3213, -25) (xC+1150, yC-1487, -50) (xC+1500, yC-537, -50) (xC+1250, yC+3213, -25)"),
};

// ---- Layout 12: two 600 mm squares per camera.
const List kLayout12[4] = {
    List("(xL-900, yF-900) (xL-300, yF-900) (xL-900, yF-300) (xL-300, yF-300) (xR+300, yF-900) (xR+900, yF-900) "
         "(xR+300, yF-300) (xR+900, yF-300)"),
    List("(xL-900, yB+300) (xL-300, yB+300) (xL-900, yB+900) (xL-300, yB+900) (xR+300, yB+300) (xR+900, yB+300) "
         "(xR+300, yB+900) (xR+900, yB+900)"),
    List("(xL-900, yF-900) (xL-300, yF-900) (xL-900, yF-300) (xL-300, yF-300) (xL-900, yB+300) (xL-300, yB+300) "
         "(xL-900, yB+900) (xL-300, yB+900)"),
    List("(xR+300, yF-900) (xR+900, yF-900) (xR+300, yF-300) (xR+900, yF-300) (xR+300, yB+300) (xR+900, yB+300) "
         "(xR+300, yB+900) (xR+900, yB+900)"),
};

// ---- Layout 13.
const List kLayout13[4] = {
    List("(xC-1500, yC-3650) (xC-1500, yC-3150) (xC+1500, yC-3650) (xC+1500, yC-3150) (xC-1700, yC-2950) "
         "(xC+1700, yC-2950)"),
    List("(xC-1500, yC+3150) (xC-1500, yC+3650) (xC+1500, yC+3150) (xC+1500, yC+3650) (xC-2100, yC+4150) "
         "(xC+2100, yC+4150) (xC-1300, yC+3850) (xC+1300, yC+3850)"),
    List("(xC-2000, yC-2250) (xC-1500, yC-2250) (xC-2000, yC+550) (xC-1500, yC+550) (xC-1500, yC-3650) "
         "(xC-1500, yC-3150) (xC-1500, yC+3150) (xC-1500, yC+3650) (xC-2100, yC+4150)"),
    List("(xC+2000, yC-2250) (xC+1500, yC-2250) (xC+2000, yC+550) (xC+1500, yC+550) (xC+1500, yC-3650) "
         "(xC+1500, yC-3150) (xC+1500, yC+3150) (xC+1500, yC+3650) (xC+2100, yC+4150)"),
};

// ---- Layout 14: two 1000 mm squares per camera. Each square is listed from
// its corner of smallest x and y, row by row, the order a ground view of the
// floor gives its corners; on a chessboard site (square-size word other than
// 201) the same corners follow the board's, where its finder reports them.
const List kLayout14[4] = {
    List("(xL-1300, yF-1300) (xL-300, yF-1300) (xL-1300, yF-300) (xL-300, yF-300) (xR+300, yF-1300) "
         "(xR+1300, yF-1300) (xR+300, yF-300) (xR+1300, yF-300)"),
    List("(xL-1300, yB+300) (xL-300, yB+300) (xL-1300, yB+1300) (xL-300, yB+1300) (xR+300, yB+300) "
         "(xR+1300, yB+300) (xR+300, yB+1300) (xR+1300, yB+1300)"),
    List("(xL-1300, yF-1300) (xL-300, yF-1300) (xL-1300, yF-300) (xL-300, yF-300) (xL-1300, yB+300) "
         "(xL-300, yB+300) (xL-1300, yB+1300) (xL-300, yB+1300)"),
    List("(xR+300, yF-1300) (xR+1300, yF-1300) (xR+300, yF-300) (xR+1300, yF-300) (xR+300, yB+300) "
         "(xR+1300, yB+300) (xR+300, yB+1300) (xR+1300, yB+1300)"),
};

// ---- Layout 16 (heights for square-size word 201; -50 otherwise).
const List kLayout16[4] = {
    List("(xC-250, yC-3302, -16) (xC, yC-3302, -16) (xC+250, yC-3302, -16) (xC-1500, yC-3302, -16) "
         "(xC+1500, yC-3302, -16) (xC-1500, yC-3552, -16) (xC-1500, yC-3052, -16) (xC+1500, yC-3552, -16) "
         "(xC+1500, yC-3052, -16) (xC-1750, yC-3302, -16) (xC-1250, yC-3302, -16) (xC+1250, yC-3302, -16) "
         "(xC+1750, yC-3302, -16)"),
    List("(xC+250, yC+3302, -23) (xC, yC+3302, -23) (xC-250, yC+3302, -23) (xC+1500, yC+3302, -23) "
         "(xC-1500, yC+3302, -23) (xC+1500, yC+3552, -23) (xC+1500, yC+3052, -23) (xC-1500, yC+3552, -23) "
         "(xC-1500, yC+3052, -23) (xC+1750, yC+3302, -23) (xC+1250, yC+3302, -23) (xC-1250, yC+3302, -23) "
         "(xC-1750, yC+3302, -23)"),
    List("(xC-1500, yC+1045, -15) (xC-1500, yC-742, -15) (xC-1500, yC-2205, -15) (xC-1500, yC-3302, -15) "
         "(xC-1750, yC+1045, -15) (xC-1250, yC+1045, -15) (xC-1750, yC-2205, -15) (xC-1250, yC-2205, -15) "
         "(xC-1500, yC+3302, -15) (xC-1750, yC+3302, -15) (xC-1250, yC+3302, -15) (xC-1750, yC-3302, -15) "
         "(xC-1250, yC-3302, -15)"),
    List("(xC+1500, yC-2205, -8) (xC+1500, yC-742, -8) (xC+1500, yC+1045, -8) (xC+1500, yC-3302, -8) "
         "(xC+1750, yC-2205, -8) (xC+1250, yC-2205, -8) (xC+1750, yC+1045, -8) (xC+1250, yC+1045, -8) "
         "(xC+1500, yC+3302, -8) (xC+1750, yC+3302, -8) (xC+1250, yC+3302, -8) (xC+1750, yC-3302, -8) "
         "(xC+1250, yC-3302, -8)"),
};

// ---- Layout 17: squares of side S against the vehicle outline.
const List kLayout17[4] = {
    List("(xL-S, yF-S) (xL, yF-S) (xL-S, yF) (xL, yF) (xR, yF-S) (xR+S, yF-S) (xR, yF) (xR+S, yF)"),
    List("(xL-S, yB) (xL, yB) (xL-S, yB+S) (xL, yB+S) (xR, yB) (xR+S, yB) (xR, yB+S) (xR+S, yB+S)"),
    List("(xL-S, yF-S) (xL, yF-S) (xL-S, yF) (xL, yF) (xL-S, yB) (xL, yB) (xL-S, yB+S) (xL, yB+S)"),
    List("(xR, yF-S) (xR+S, yF-S) (xR, yF) (xR+S, yF) (xR, yB) (xR+S, yB) (xR, yB+S) (xR+S, yB+S)"),
};
// Heights of rows 0-3 and 4-7 per camera, by the mode word.
struct Layout17Heights {
  int32_t mode;
  float h[4][2];
};
constexpr Layout17Heights kLayout17Heights[] = {
    {1, {{-10, -25}, {-20, -25}, {-10, -20}, {-25, -25}}}, {2, {{-25, -25}, {-30, -25}, {-25, -30}, {-25, -25}}},
    {3, {{-25, -25}, {-25, -25}, {-25, -25}, {-25, -25}}}, {4, {{0, 10}, {18, 18}, {0, 18}, {10, 18}}},
    {6, {{15, 15}, {0, 10}, {15, 0}, {15, 10}}},
};
// Single-row overrides: mode, camera, row, height.
struct Layout17Override {
  int32_t mode, camera, row;
  float z;
};
constexpr Layout17Override kLayout17Overrides[] = {
    {3, 2, 4, -23}, {3, 2, 5, -26}, {3, 2, 6, -27}, {3, 2, 7, -29}, {3, 4, 4, -3},   {3, 4, 5, -6},
    {3, 4, 6, -7},  {3, 4, 7, -9},  {5, 2, 0, -30}, {5, 2, 1, -30}, {5, 2, 4, -30},  {5, 2, 5, -30},
    {5, 2, 2, -44}, {5, 2, 3, -44}, {5, 2, 6, -44}, {5, 2, 7, -44}, {5, 3, 4, -30},  {5, 3, 5, -30},
    {5, 3, 6, -44}, {5, 3, 7, -44}, {5, 4, 4, -30}, {5, 4, 5, -30}, {5, 4, 6, -44},  {5, 4, 7, -44},
    {6, 2, 0, -10}, {6, 2, 1, -10}, {6, 2, 2, -20}, {6, 2, 3, -20}, {6, 2, 4, 0},    {6, 2, 5, 0},
    {6, 2, 6, -10}, {6, 2, 7, -10}, {7, 4, 4, 0},   {7, 4, 5, -20}, {7, 4, 6, -10},  {7, 4, 7, -30},
};

// ---- Layouts 18, 19 and 28: the camera-1 fields.
const List kLayout18Camera1(
    "(xC-600, yC-3600) (xC, yC-3600) (xC-600, yC-3000) (xC, yC-3000) (xC-1500, yC-3000) (xC+1500, yC-3000) "
    "(xC-2100, yC-4200) (xC-1500, yC-4200) (xC-2100, yC-3600) (xC-1500, yC-3600) (xC-2100, yC-3000) "
    "(xC-1500, yC-3000) (xC+1500, yC-4200) (xC+2100, yC-4200) (xC+1500, yC-3600) (xC+2100, yC-3600) "
    "(xC+1500, yC-3000) (xC+2100, yC-3000)");
const List kLayout19Camera1(
    "(xC-600, yC-3600) (xC, yC-3600) (xC-600, yC-3000) (xC, yC-3000) (xC-1200, yC-3000) (xC+1200, yC-3000) "
    "(xC-2400, yC-4200) (xC-1800, yC-4200) (xC-1200, yC-4200) (xC-2400, yC-3600) (xC-1800, yC-3600) "
    "(xC-1200, yC-3600) (xC-2400, yC-3000) (xC-1800, yC-3000) (xC-1200, yC-3000) (xC+1200, yC-4200) "
    "(xC+1800, yC-4200) (xC+2400, yC-4200) (xC+1200, yC-3600) (xC+1800, yC-3600) (xC+2400, yC-3600) "
    "(xC+1200, yC-3000) (xC+1800, yC-3000) (xC+2400, yC-3000)");
const List kLayout28Camera1(
    "(xC-600, yC-3900) (xC, yC-3900) (xC-600, yC-3300) (xC, yC-3300) (xC-1400, yC-3300) (xC+1400, yC-3300) "
    "(xC-2000, yC-4500) (xC-1400, yC-4500) (xC-2000, yC-3900) (xC-1400, yC-3900) (xC-2000, yC-3300) "
    "(xC-1400, yC-3300) (xC+1400, yC-4500) (xC+2000, yC-4500) (xC+1400, yC-3900) (xC+2000, yC-3900) "
    "(xC+1400, yC-3300) (xC+2000, yC-3300)");

// ---- Layout 21, cameras 1 and 2: the left board's nine corners, then the
// right board's, each row by row from the smaller x and y, the order their
// finder writes (the list as first written held the two boards' corners
// interleaved, which no finder order matches). The side cameras take layout
// 3's points (CalibLayout21_WorldPoints).
const List kLayout21[2] = {
    List("(xL-700, yF-700) (xL-500, yF-700) (xL-300, yF-700) (xL-700, yF-500) (xL-500, yF-500) (xL-300, yF-500) "
         "(xL-700, yF-300) (xL-500, yF-300) (xL-300, yF-300) (xR+300, yF-700) (xR+500, yF-700) (xR+700, yF-700) "
         "(xR+300, yF-500) (xR+500, yF-500) (xR+700, yF-500) (xR+300, yF-300) (xR+500, yF-300) (xR+700, yF-300)"),
    List("(xL-700, yB+300) (xL-500, yB+300) (xL-300, yB+300) (xL-700, yB+500) (xL-500, yB+500) (xL-300, yB+500) "
         "(xL-700, yB+700) (xL-500, yB+700) (xL-300, yB+700) (xR+300, yB+300) (xR+500, yB+300) (xR+700, yB+300) "
         "(xR+300, yB+500) (xR+500, yB+500) (xR+700, yB+500) (xR+300, yB+700) (xR+500, yB+700) (xR+700, yB+700)"),
};

// ---- Layout 24.
const List kLayout24[4] = {
    List("(xC-300, yF-1000) (xC+300, yF-1000) (xC-300, yF-500) (xC+300, yF-500) (xC-600, yF-1250) "
         "(xC+600, yF-1250) (xC-600, yF-250) (xC+600, yF-250) (xC-1300, yF-1250) (xC-1300, yF-250) "
         "(xC+1300, yF-1250) (xC+1300, yF-250) (xC-2300, yF-1250) (xC-2300, yF-250) (xC+2300, yF-1250) "
         "(xC+2300, yF-250)"),
    List("(xC+300, yB+1000) (xC-300, yB+1000) (xC+300, yB+500) (xC-300, yB+500) (xC-600, yB+250) "
         "(xC+600, yB+250) (xC-600, yB+1250) (xC+600, yB+1250) (xC-1300, yB+250) (xC-1300, yB+1250) "
         "(xC+1300, yB+250) (xC+1300, yB+1250) (xC-2300, yB+250) (xC-2300, yB+1250) (xC+2300, yB+250) "
         "(xC+2300, yB+1250)"),
    List("(xC-2050, yF+2000) (xC-2050, yF+1200) (xC-1550, yF+2000) (xC-1550, yF+1200) (xC-2300, yF+800) "
         "(xC-1300, yF+800) (xC-2300, yF+2400) (xC-1300, yF+2400) (xC-2300, yF-250) (xC-1300, yF-250) "
         "(xC-2300, yF+3200) (xC-1300, yF+3200) (xC-2300, yF+4200) (xC-1300, yF+4200) (xC-2300, yB+250) "
         "(xC-1300, yB+250) (xC-2300, yF-1250) (xC-1300, yF-1250) (xC-2300, yB+1250) (xC-1300, yB+1250)"),
    List("(xC+2050, yF+1200) (xC+2050, yF+2000) (xC+1550, yF+1200) (xC+1550, yF+2000) (xC+1300, yF+800) "
         "(xC+2300, yF+800) (xC+1300, yF+2400) (xC+2300, yF+2400) (xC+1300, yF-250) (xC+2300, yF-250) "
         "(xC+1300, yF+3200) (xC+2300, yF+3200) (xC+1300, yF+4200) (xC+2300, yF+4200) (xC+1300, yB+250) "
         "(xC+2300, yB+250) (xC+1300, yF-1250) (xC+2300, yF-1250) (xC+1300, yB+1250) (xC+2300, yB+1250)"),
};

// ---- Layout 25.
const List kLayout25[4] = {
    List("(xC-600, yC-3200) (xC+600, yC-3200) (xC-600, yC-2600) (xC+600, yC-2600) (xC-1200, yC-3800) "
         "(xC-1200, yC-2600) (xC+1200, yC-3800) (xC+1200, yC-2600) (xC-1800, yC-3800) (xC-1800, yC-2600) "
         "(xC+1800, yC-3800) (xC+1800, yC-2600) (xC-2400, yC-3200) (xC-2400, yC-2600) (xC+2400, yC-3200) "
         "(xC+2400, yC-2600)"),
    List("(xC+600, yC+3800) (xC-600, yC+3800) (xC+600, yC+2600) (xC-600, yC+2600) (xC-1200, yC+2600) "
         "(xC-1200, yC+3800) (xC+1200, yC+2600) (xC+1200, yC+3800) (xC-1800, yC+2600) (xC-1800, yC+3800) "
         "(xC+1800, yC+2600) (xC+1800, yC+3800) (xC-2400, yC+2600) (xC-2400, yC+3200) (xC+2400, yC+2600) "
         "(xC+2400, yC+3200)"),
    List("(xC-2400, yC+600) (xC-2400, yC-600) (xC-1200, yC+600) (xC-1200, yC-600) (xC-2400, yC-1600) "
         "(xC-1200, yC-1600) (xC-2400, yC+1600) (xC-1200, yC+1600) (xC-2400, yC-2600) (xC-1200, yC-2600) "
         "(xC-2400, yC+2600) (xC-1200, yC+2600) (xC-2400, yC-3200) (xC-1800, yC-3200) (xC-2400, yC+3200) "
         "(xC-1800, yC+3200)"),
    List("(xC+2400, yC-600) (xC+2400, yC+600) (xC+1200, yC-600) (xC+1200, yC+600) (xC+2400, yC-1600) "
         "(xC+1200, yC-1600) (xC+2400, yC+1600) (xC+1200, yC+1600) (xC+2400, yC-2600) (xC+1200, yC-2600) "
         "(xC+2400, yC+2600) (xC+1200, yC+2600) (xC+1800, yC-3200) (xC+2400, yC-3200) (xC+1800, yC+3200) "
         "(xC+2400, yC+3200)"),
};

// ---- Layout 26: 900 mm squares; a margin shift, a camera-2 variant and a
// camera-1 mode of the configuration.
const List kLayout26Camera1(
    "(xC-2800, yC-4300) (xC-1900, yC-4300) (xC-2800, yC-3400) (xC-1900, yC-3400) (xC+1900, yC-4300) "
    "(xC+2800, yC-4300) (xC+1900, yC-3400) (xC+2800, yC-3400) (xC-450, yC-4300) (xC+450, yC-4300) "
    "(xC-450, yC-3400) (xC+450, yC-3400)");
const List kLayout26Camera1Mode(
    "(xC-450, yC-4300) (xC+450, yC-4300) (xC-450, yC-3400) (xC+450, yC-3400) (xC-2800+m+c3, yC-3400-m) "
    "(xC-2800+m+c3, yC-4300+m) (xC+2800-m+c4, yC-3400-m) (xC+2800-m+c4, yC-4300+m)");
const List kLayout26Camera2Squares(
    "(xC-2800, yC+3400) (xC-1900, yC+3400) (xC-2800, yC+4300) (xC-1900, yC+4300) (xC+1900, yC+3400) "
    "(xC+2800, yC+3400) (xC+1900, yC+4300) (xC+2800, yC+4300)");
const List kLayout26Camera2Inner(
    "(xC-2800+m, yC+2375-m) (xC-1900-m, yC+2375-m) (xC+1900+m, yC+2375-m) (xC+2800-m, yC+2375-m)");
const List kLayout26Camera2Pair("(xC-1900+c1, yC+2375) (xC+1900+c2, yC+2375)");
const List kLayout26Camera2Middle("(xC-450, yC+3400) (xC+450, yC+3400) (xC-450, yC+4300) (xC+450, yC+4300)");
const List kLayout26Side[2] = {
    List("(xC-2800, yC-2375) (xC-1900, yC-2375) (xC-2800, yC-1475) (xC-1900, yC-1475) (xC-2800, yC-450) "
         "(xC-1900, yC-450) (xC-2800, yC+450) (xC-1900, yC+450) (xC-2800, yC-4300) (xC-1900, yC-4300) "
         "(xC-2800, yC-3400) (xC-1900, yC-3400) (xC-2800, yC+1475) (xC-1900, yC+1475) (xC-2800, yC+2375) "
         "(xC-1900, yC+2375) (xC-2800, yC+3400) (xC-1900, yC+3400) (xC-2800, yC+4300) (xC-1900, yC+4300)"),
    List("(xC+1900, yC-2375) (xC+2800, yC-2375) (xC+1900, yC-1475) (xC+2800, yC-1475) (xC+1900, yC-450) "
         "(xC+2800, yC-450) (xC+1900, yC+450) (xC+2800, yC+450) (xC+1900, yC-4300) (xC+2800, yC-4300) "
         "(xC+1900, yC-3400) (xC+2800, yC-3400) (xC+1900, yC+1475) (xC+2800, yC+1475) (xC+1900, yC+2375) "
         "(xC+2800, yC+2375) (xC+1900, yC+3400) (xC+2800, yC+3400) (xC+1900, yC+4300) (xC+2800, yC+4300)"),
};

// The margin shift moves every edge of the 900 mm squares inward: inner
// edges (1900, 3400, 1475) away from the centre, outer edges (2800, 4300,
// 2375, 450) toward it.
float Layout26Shift(float constant, float m) {
  const float a = constant < 0.0f ? -constant : constant;
  const float sign = constant < 0.0f ? -1.0f : 1.0f;
  if (a == 1900.0f || a == 3400.0f || a == 1475.0f) return sign * (a + m);
  if (a == 2800.0f || a == 4300.0f || a == 2375.0f || a == 450.0f) return sign * (a - m);
  return constant;
}

// ---- Layout 32.
const List kLayout32[4] = {
    List("(xC-1500, yC-3425) (xC-1100, yC-3425) (xC-1500, yC-3025) (xC-1100, yC-3025) (xC+1100, yC-3425) "
         "(xC+1500, yC-3425) (xC+1100, yC-3025) (xC+1500, yC-3025)"),
    List("(xC-1500, yC+3025) (xC-1100, yC+3025) (xC-1500, yC+3525) (xC-1100, yC+3525) (xC+1100, yC+3025) "
         "(xC+1500, yC+3025) (xC+1100, yC+3525) (xC+1500, yC+3525) (xC-1500, yC+3775) (xC-1100, yC+3775) "
         "(xC-1500, yC+4275) (xC-1100, yC+4275) (xC+1100, yC+3775) (xC+1500, yC+3775) (xC+1100, yC+4275) "
         "(xC+1500, yC+4275)"),
    List("(xC-1500, yC-3425) (xC-1100, yC-3425) (xC-1500, yC-3025) (xC-1100, yC-3025) (xC-1500, yC+3025) "
         "(xC-1100, yC+3025) (xC-1500, yC+3525) (xC-1100, yC+3525) (xC-1500, yC+3775) (xC-1100, yC+3775) "
         "(xC-1500, yC+4275) (xC-1100, yC+4275)"),
    List("(xC+1100, yC-3425) (xC+1500, yC-3425) (xC+1100, yC-3025) (xC+1500, yC-3025) (xC+1100, yC+3025) "
         "(xC+1500, yC+3025) (xC+1100, yC+3525) (xC+1500, yC+3525) (xC+1100, yC+3775) (xC+1500, yC+3775) "
         "(xC+1100, yC+4275) (xC+1500, yC+4275)"),
};

// ---- Layout 53 (camera 2 has no marks; cameras 3 and 4 by the frame word).
const List kLayout53Camera1(
    "(xC-2220, yC-5400) (xC-2220, yC-4900) (xC-2220, yC-4400) (xC+2220, yC-5400) (xC+2220, yC-4900) "
    "(xC+2220, yC-4400)");
const List kLayout53Side[2][2] = {
    {List("(xC-3720, yC-1400) (xC-3720, yC-2400) (xC-2220, yC-1400) (xC-2220, yC-2400) (xC-2220, yC-5400) "
          "(xC-2220, yC-4900) (xC-2220, yC-4400) (xC-3220, yC+900) (xC-2720, yC+900) (xC-2220, yC+900) "
          "(xC-3220, yC+3400) (xC-2720, yC+3400) (xC-2220, yC+3400)"),
     List("(xC-2220, yC+3400) (xC-2720, yC+3400) (xC-3220, yC+3400) (xC-2220, yC+900) (xC-2720, yC+900) "
          "(xC-3220, yC+900)")},
    {List("(xC+3720, yC-2400) (xC+3720, yC-1400) (xC+2220, yC-2400) (xC+2220, yC-1400) (xC+2220, yC-5400) "
          "(xC+2220, yC-4900) (xC+2220, yC-4400) (xC+2220, yC+900) (xC+2720, yC+900) (xC+3220, yC+900) "
          "(xC+2220, yC+3400) (xC+2720, yC+3400) (xC+3220, yC+3400)"),
     List("(xC+3220, yC+3400) (xC+2720, yC+3400) (xC+2220, yC+3400) (xC+3220, yC+900) (xC+2720, yC+900) "
          "(xC+2220, yC+900)")},
};

// ---- Layout 54 (cameras 3 and 4 by the frame word).
const List kLayout54Front[2] = {
    List("(xC-1900, yC-5150) (xC-1900, yC-4350) (xC+1900, yC-5150) (xC+1900, yC-4350) (xC-1900, yC-4750) "
         "(xC+1900, yC-4750) (xC-3200, yC-3350) (xC-2800, yC-3350) (xC-2400, yC-3350) (xC+2400, yC-3350) "
         "(xC+2800, yC-3350) (xC+3200, yC-3350)"),
    List("(xC-1900, yC+4550) (xC-1900, yC+5350) (xC+1900, yC+4550) (xC+1900, yC+5350) (xC-1900, yC+4950) "
         "(xC+1900, yC+4950)"),
};
const List kLayout54Side[2][2] = {
    {List("(xC-3200, yC-3350) (xC-2400, yC-3350) (xC-3200, yC-50) (xC-2400, yC-50) (xC-2800, yC-3350) "
          "(xC-2800, yC-50) (xC-3200, yC+2550) (xC-2800, yC+2550) (xC-2400, yC+2550) (xC-1900, yC-5150) "
          "(xC-1900, yC-4750) (xC-1900, yC-4350)"),
     List("(xC-3200, yC-50) (xC-2400, yC-50) (xC-3200, yC+2550) (xC-2400, yC+2550) (xC-2800, yC-50) "
          "(xC-2800, yC+2550)")},
    {List("(xC+2400, yC-3350) (xC+3200, yC-3350) (xC+2400, yC-50) (xC+3200, yC-50) (xC+2800, yC-3350) "
          "(xC+2800, yC-50) (xC+2400, yC+2550) (xC+2800, yC+2550) (xC+3200, yC+2550) (xC+1900, yC-5150) "
          "(xC+1900, yC-4750) (xC+1900, yC-4350)"),
     List("(xC+2400, yC-50) (xC+3200, yC-50) (xC+2400, yC+2550) (xC+3200, yC+2550) (xC+2800, yC-50) "
          "(xC+2800, yC+2550)")},
};

}  // namespace

void CalibLayout2_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_fw();
  if (!ValidCamera(camera)) return;
  const int32_t word33 = gv().targetDimA;
  for (const Layout2Size& size : kLayout2Sizes) {
    if (size.word33 != word33) continue;
    WorldSymbols s = FloatSymbols(cfg);
    s.v[kSymO] = size.O;
    s.v[kSymIn] = size.I;
    s.v[kSymF] = size.F;
    s.v[kSymN] = size.N;
    WorldPoints_WriteList(out, 0, kLayout2[camera - 1], s);
    return;
  }
  // Another square size names no site of this programme: no marks.
}

void CalibLayout5_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_gj1();
  for (int32_t r = 0; r < 30; ++r) WorldPoints_PutZ(out, r, -10.0f);
  WriteCameraList(cfg, camera, out, kLayout5);
}

void CalibLayout8_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_yk3();
  if (!ValidCamera(camera)) return;
  const bool yk3 = CalibProfile().Tag() == kYk3Tag;
  const List& list = (camera <= 2 && yk3) ? kLayout8Yk3[camera - 1] : kLayout8[camera - 1];
  // The side cameras' finder reports their board's corners before the six
  // marks: the marks go behind the grid.
  const int32_t first = camera <= 2 ? 0 : TargetWorldPoints_GridPoints(camera);
  WorldPoints_WriteList(out, first, list, FloatSymbols(cfg));
}

void CalibLayout9_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_qd();
  WriteCameraList(cfg, camera, out, kLayout9);
}

void CalibLayout11_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_kelvor();
  WriteCameraList(cfg, camera, out, kLayout11);
}

void CalibLayout12_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  // kelvor2n_cfg.txt first; kelvor2_cfg.txt loads only when it could not.
  CalibProfile_Read_kelvor2n();
  CalibProfile_Read_kelvor2();
  WriteCameraList(cfg, camera, out, kLayout12);
}

void CalibLayout13_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_pq1();
  WriteCameraList(cfg, camera, out, kLayout13);
}

void CalibLayout14_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  const bool marked = gv().targetDimA == 201;
  if (marked) CalibProfile_Read_fw();
  if (!ValidCamera(camera)) return;
  // The marker board's finder reports the squares alone; the chessboard's
  // reports the board first and the squares behind it.
  const int32_t first = marked ? 0 : TargetWorldPoints_GridPoints(camera);
  WorldPoints_WriteList(out, first, kLayout14[camera - 1], FloatSymbols(cfg));
}

void CalibLayout16_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_rv463();
  if (!ValidCamera(camera)) return;
  const List& list = kLayout16[camera - 1];
  if (!WorldPoints_WriteList(out, 0, list, FloatSymbols(cfg))) return;
  if (gv().targetDimA != 201)
    for (int32_t r = 0; r < list.size(); ++r) WorldPoints_PutZ(out, r, -50.0f);
}

void CalibLayout17_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_zan1();
  GlobalVariables& g = gv();
  const int32_t mode = g.targetDimB;
  if (mode >= 1 && mode <= 3) {
    g.frontCameraXFixed = 1;
    g.frontCameraX = 10.0f;
  }
  if (!ValidCamera(camera)) return;
  WorldSymbols s = FloatSymbols(cfg);
  s.v[kSymS] = static_cast<float>(g.targetDimA);
  if (!WorldPoints_WriteList(out, 0, kLayout17[camera - 1], s)) return;
  float h[2] = {0.0f, 0.0f};
  for (const Layout17Heights& e : kLayout17Heights)
    if (e.mode == mode) {
      h[0] = e.h[camera - 1][0];
      h[1] = e.h[camera - 1][1];
    }
  for (int32_t r = 0; r < 8; ++r) WorldPoints_PutZ(out, r, h[r / 4]);
  for (const Layout17Override& o : kLayout17Overrides)
    if (o.mode == mode && o.camera == camera) WorldPoints_PutZ(out, o.row, o.z);
  if (mode == 3 && camera == 2) {
    out->data[5 * out->cols] -= 30.0f;
    out->data[7 * out->cols] -= 30.0f;
  }
}

void CalibLayout18_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_yk3();
  if (camera == 1) WorldPoints_WriteList(out, 0, kLayout18Camera1, FloatSymbols(cfg));
}

void CalibLayout19_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_yk3();
  if (camera == 1) WorldPoints_WriteList(out, 0, kLayout19Camera1, FloatSymbols(cfg));
}

void CalibLayout21_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_bq1();
  if (!ValidCamera(camera)) return;
  // The side cameras run layout 3's finder on layout 3's two dot fields:
  // their points are layout 3's, behind the board as there.
  if (camera >= 3)
    CalibLayout3_WorldPoints(cfg, camera, out);
  else
    WorldPoints_WriteList(out, 0, kLayout21[camera - 1], FloatSymbols(cfg));
}

void CalibLayout24_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_ruvk();
  WriteCameraList(cfg, camera, out, kLayout24);
}

void CalibLayout25_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_cvj();
  WriteCameraList(cfg, camera, out, kLayout25);
}

void CalibLayout26_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_dk1();
  GlobalVariables& g = gv();
  const int32_t word34 = g.targetDimB;
  const float m = (word34 & 0x10) != 0 ? 207.0f : 200.0f;
  const int32_t mode = word34 & 0xF;
  switch (mode) {
    case 0:
      g.layout26InvertFront = 1, g.layout26Cam2Variant = 0, g.layout26Cam1PartFinder = 0;
      break;
    case 1:
      g.layout26InvertFront = 0, g.layout26Cam2Variant = 1, g.layout26Cam1PartFinder = 0;
      break;
    case 2:
      g.layout26InvertFront = 1, g.layout26Cam2Variant = 1, g.layout26Cam1PartFinder = 1;
      break;
    default:
      break;
  }
  const bool modeFlag = g.layout26Cam1PartFinder == 1;
  const bool corrected = mode == 2;
  const bool shift = (g.groupNumber == 1 && g.layout26InvertFront != 0) ||
                     (g.groupNumber == 0 && g.layout26InvertFront == 0);
  if (!ValidCamera(camera)) return;
  WorldSymbols s = FloatSymbols(cfg);
  s.v[kSymM] = m;
  s.v[kSymC1] = corrected ? 30.0f : 0.0f;
  s.v[kSymC2] = corrected ? -10.0f : 0.0f;
  s.v[kSymC3] = corrected ? 20.0f : 0.0f;
  s.v[kSymC4] = corrected ? -40.0f : 0.0f;
  auto adjust = shift ? Layout26Shift : nullptr;
  switch (camera) {
    case 1:
      if (modeFlag) WorldPoints_WriteList(out, 0, kLayout26Camera1Mode, s);
      else WorldPoints_WriteList(out, 0, kLayout26Camera1, s, adjust, m);
      break;
    case 2:
      if (g.layout26Cam2Variant == 0) {
        if (!WorldPoints_Fits(out, 0, 12)) return;
        WorldPoints_WriteList(out, 0, kLayout26Camera2Squares, s, adjust, m);
        WorldPoints_WriteList(out, 8, kLayout26Camera2Inner, s);
      } else {
        if (!WorldPoints_Fits(out, 0, 14)) return;
        WorldPoints_WriteList(out, 0, kLayout26Camera2Squares, s, adjust, m);
        WorldPoints_WriteList(out, 8, kLayout26Camera2Pair, s);
        WorldPoints_WriteList(out, 10, kLayout26Camera2Middle, s, adjust, m);
      }
      break;
    default:
      WorldPoints_WriteList(out, 0, kLayout26Side[camera - 3], s, adjust, m);
      break;
  }
}

void CalibLayout28_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_yk3();
  if (camera == 1) WorldPoints_WriteList(out, 0, kLayout28Camera1, FloatSymbols(cfg));
}

void CalibLayout32_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_ez2();
  WriteCameraList(cfg, camera, out, kLayout32);
}

void CalibLayout53_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_mbto();
  if (!ValidCamera(camera) || camera == 2) return;
  const WorldSymbols s = FloatSymbols(cfg);
  if (camera == 1) {
    WorldPoints_WriteList(out, 0, kLayout53Camera1, s);
    return;
  }
  WorldPoints_WriteList(out, 0, kLayout53Side[camera - 3][gv().groupNumber == 1 ? 0 : 1], s);
}

void CalibLayout54_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  CalibProfile_Read_hulvex();
  if (!ValidCamera(camera)) return;
  const WorldSymbols s = FloatSymbols(cfg);
  if (camera <= 2) {
    WorldPoints_WriteList(out, 0, kLayout54Front[camera - 1], s);
    return;
  }
  const int32_t frame = gv().groupNumber;
  WorldPoints_WriteList(out, 0, kLayout54Side[camera - 3][(frame == 0 || frame == 1) ? 0 : 1], s);
}
