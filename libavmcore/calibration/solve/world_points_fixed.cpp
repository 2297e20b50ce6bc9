// World points of the board layouts whose marks are fixed by the layout, the
// configuration and the vehicle box (no vehicle profile).
#include <cstring>

#include "calibration/solve/block_calib.h"
#include "calibration/solve/block_pose_services.h"
#include "calibration/solve/site_frame.h"
#include "calibration/solve/world_point_layouts.h"
#include "calibration/solve/world_point_list.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"

namespace {

using List = WorldPointList;

bool ValidCamera(int32_t camera) { return camera >= 1 && camera <= 4; }

WorldSymbols FloatSymbols(const LutConfig* cfg) {
  int32_t box[3];
  SiteBox_FromLutConfig(cfg, box);
  return WorldSymbols(SiteAnchors_Float(box, SiteDistances_FromConfig()));
}

// Row at which a layout appends its marks behind the grid: the configured
// point count of the camera.
int32_t AppendRow(int32_t camera) {
  const GlobalVariables& g = gv();
  return camera <= 2 ? g.cornerCount1 : g.cornerCount34;
}

// ---- Layout 1: square marks beside the four chessboards.
const List kLayout1[4] = {
    List("(xC-8.5S, yF-1.5S) (xC-5.5S, yF-1.5S) (xC-5.5S, yF-4.5S) (xC-8.5S, yF-4.5S) (xC+8.5S, yF-1.5S) "
         "(xC+8.5S, yF-4.5S) (xC+5.5S, yF-4.5S) (xC+5.5S, yF-1.5S)"),
    List("(xC+8.5S, yB+1.5S) (xC+5.5S, yB+1.5S) (xC+5.5S, yB+4.5S) (xC+8.5S, yB+4.5S) (xC-8.5S, yB+1.5S) "
         "(xC-8.5S, yB+4.5S) (xC-5.5S, yB+4.5S) (xC-5.5S, yB+1.5S)"),
    List("(xL-1.5S, yF+19S) (xL-1.5S, yF+16S) (xL-4.5S, yF+16S) (xL-4.5S, yF+19S) (xL-1.5S, yF+2S) "
         "(xL-4.5S, yF+2S) (xL-4.5S, yF+5S) (xL-1.5S, yF+5S) (xC-8.5S, yF-4.5S) (xC-5.5S, yF-4.5S) "
         "(xC-8.5S, yF-1.5S) (xC-5.5S, yF-1.5S) (xC-8.5S, yB+1.5S) (xC-5.5S, yB+1.5S) (xC-8.5S, yB+4.5S) "
         "(xC-5.5S, yB+4.5S)"),
    List("(xR+1.5S, yF+2S) (xR+1.5S, yF+5S) (xR+4.5S, yF+5S) (xR+4.5S, yF+2S) (xR+1.5S, yF+19S) "
         "(xR+4.5S, yF+19S) (xR+4.5S, yF+16S) (xR+1.5S, yF+16S) (xC+5.5S, yF-4.5S) (xC+8.5S, yF-4.5S) "
         "(xC+5.5S, yF-1.5S) (xC+8.5S, yF-1.5S) (xC+5.5S, yB+1.5S) (xC+8.5S, yB+1.5S) (xC+5.5S, yB+4.5S) "
         "(xC+8.5S, yB+4.5S)"),
};

// ---- Layout 4: a 1500 mm pad with a 500 mm inner square at each corner.
const List kLayout4[4] = {
    List("(xL-1500, yF) (xL, yF) (xL, yF-1500) (xL-1500, yF-1500) (xR+1500, yF) (xR+1500, yF-1500) (xR, yF-1500) "
         "(xR, yF) (xL-1000, yF-500) (xL-500, yF-500) (xL-500, yF-1000) (xL-1000, yF-1000) (xR+1000, yF-500) "
         "(xR+1000, yF-1000) (xR+500, yF-1000) (xR+500, yF-500)"),
    List("(xR+1500, yB) (xR, yB) (xR, yB+1500) (xR+1500, yB+1500) (xL-1500, yB) (xL-1500, yB+1500) (xL, yB+1500) "
         "(xL, yB) (xR+1000, yB+500) (xR+500, yB+500) (xR+500, yB+1000) (xR+1000, yB+1000) (xL-1000, yB+500) "
         "(xL-1000, yB+1000) (xL-500, yB+1000) (xL-500, yB+500)"),
    List("(xL, yB+1500) (xL, yB) (xL-1500, yB) (xL-1500, yB+1500) (xL, yF-1500) (xL-1500, yF-1500) (xL-1500, yF) "
         "(xL, yF) (xL-500, yB+1000) (xL-500, yB+500) (xL-1000, yB+500) (xL-1000, yB+1000) (xL-500, yF-1000) "
         "(xL-1000, yF-1000) (xL-1000, yF-500) (xL-500, yF-500)"),
    List("(xR, yF-1500) (xR, yF) (xR+1500, yF) (xR+1500, yF-1500) (xR, yB+1500) (xR+1500, yB+1500) (xR+1500, yB) "
         "(xR, yB) (xR+500, yF-1000) (xR+500, yF-500) (xR+1000, yF-500) (xR+1000, yF-1000) (xR+500, yB+1000) "
         "(xR+1000, yB+1000) (xR+1000, yB+500) (xR+500, yB+500)"),
};

// ---- Layout 7 (cameras 3 and 4 from row 30).
const List kLayout7[4] = {
    List("(xC-600, yC-3300) (xC, yC-3300) (xC-600, yC-2700) (xC, yC-2700) (xC-2400, yC-3300) (xC-1800, yC-3300) "
         "(xC-2400, yC-2700) (xC-1800, yC-2700) (xC+1800, yC-3300) (xC+2400, yC-3300) (xC+1800, yC-2700) "
         "(xC+2400, yC-2700) (xC-1800, yC-3900) (xC+1800, yC-3900)"),
    List("(xC, yC+3900) (xC+600, yC+3300) (xC, yC+3300) (xC-600, yC+3300) (xC+2400, yC+3900) (xC+1800, yC+3900) "
         "(xC+2400, yC+3300) (xC+1800, yC+3300) (xC+2400, yC+2700) (xC+1800, yC+2700) (xC-1800, yC+3900) "
         "(xC-2400, yC+3900) (xC-1800, yC+3300) (xC-2400, yC+3300) (xC-1800, yC+2700) (xC-2400, yC+2700)"),
    List("(xC-2400, yC-3300) (xC-1800, yC-3300) (xC-2400, yC+3300) (xC-1800, yC+3300) (xC-2400, yC+3900) "
         "(xC-1800, yC+3900)"),
    List("(xC+1800, yC-3300) (xC+2400, yC-3300) (xC+1800, yC+3300) (xC+2400, yC+3300) (xC+1800, yC+3900) "
         "(xC+2400, yC+3900)"),
};
constexpr int32_t kLayout7First[4] = {0, 0, 30, 30};

// ---- Layout 10: one 600 mm square per corner seen; e, i outer and inner offsets.
const List kLayout10[4] = {
    List("(xL-e, yF-800) (xL-i, yF-800) (xL-e, yF-200) (xL-i, yF-200) (xR+i, yF-800) (xR+e, yF-800) (xR+i, yF-200) "
         "(xR+e, yF-200)"),
    List("(xL-e, yB+200) (xL-i, yB+200) (xL-e, yB+800) (xL-i, yB+800) (xR+i, yB+200) (xR+e, yB+200) (xR+i, yB+800) "
         "(xR+e, yB+800)"),
    List("(xL-e, yF-800) (xL-i, yF-800) (xL-e, yF-200) (xL-i, yF-200) (xL-e, yB+200) (xL-i, yB+200) (xL-e, yB+800) "
         "(xL-i, yB+800)"),
    List("(xR+i, yF-800) (xR+e, yF-800) (xR+i, yF-200) (xR+e, yF-200) (xR+i, yB+200) (xR+e, yB+200) (xR+i, yB+800) "
         "(xR+e, yB+800)"),
};

// ---- Layout 15: 400 mm squares about the site centre; hand-mode marks.
const List kLayout15[4] = {
    List("(xC-2300, yC-3800) (xC-1900, yC-3800) (xC-2300, yC-3400) (xC-1900, yC-3400) (xC+1900, yC-3800) "
         "(xC+2300, yC-3800) (xC+1900, yC-3400) (xC+2300, yC-3400)"),
    List("(xC-2300, yC+3400) (xC-1900, yC+3400) (xC-2300, yC+3800) (xC-1900, yC+3800) (xC+1900, yC+3400) "
         "(xC+2300, yC+3400) (xC+1900, yC+3800) (xC+2300, yC+3800)"),
    List("(xC-2300, yC-3800) (xC-1900, yC-3800) (xC-2300, yC-3400) (xC-1900, yC-3400) (xC-2300, yC+3400) "
         "(xC-1900, yC+3400) (xC-2300, yC+3800) (xC-1900, yC+3800)"),
    List("(xC+1900, yC-3800) (xC+2300, yC-3800) (xC+1900, yC-3400) (xC+2300, yC-3400) (xC+1900, yC+3400) "
         "(xC+2300, yC+3400) (xC+1900, yC+3800) (xC+2300, yC+3800)"),
};
const List kLayout15Hand[4] = {
    List("(xC-2300, yC-3800) (xC-2300, yC-3400) (xC+1900, yC-3800) (xC+1900, yC-3400)"),
    List("(xC+2300, yC+3800) (xC+2300, yC+3400) (xC-1900, yC+3800) (xC-1900, yC+3400)"),
    List("(xC-2300, yC+3800) (xC-1900, yC+3800) (xC-2300, yC-3400) (xC-1900, yC-3400)"),
    List("(xC+2300, yC-3800) (xC+1900, yC-3800) (xC+2300, yC+3400) (xC+1900, yC+3400)"),
};

// ---- Layout 20 (camera 2 only).
const List kLayout20(
    "(xL-S, yB) (xL, yB) (xL-S, yB+S) (xL, yB+S) (xR, yB) (xR+S, yB) (xR, yB+S) (xR+S, yB+S) "
    "(xL-S+200, yB+S+1700) (xL-200, yB+S+1700) (xR+200, yB+S+1700) (xR+S-200, yB+S+1700) (xL-S, yB+S+1900) "
    "(xR+S, yB+S+1900)");

// ---- Layout 22; h half the configured span.
const List kLayout22[4] = {
    List("(xC-1800, yC-h-1200) (xC+1800, yC-h-1200) (xC-1200, yC-h) (xC+1200, yC-h) (xC, yC-h-600)"),
    List("(xC+1800, yC+h+1800) (xC-1800, yC+h+1800) (xC+1200, yC+h+600) (xC-1200, yC+h+600) (xC, yC+h+1200)"),
    List("(xC-2400, yC+h) (xC-2400, yC-h) (xC-1200, yC+h-600) (xC-1200, yC-h+600) (xC-1800, yC+h-3000)"),
    List("(xC+2400, yC-h) (xC+2400, yC+h) (xC+1200, yC-h+600) (xC+1200, yC+h-600) (xC+1800, yC+h-3000)"),
};

// ---- Layout 23. The side columns of cameras 3 and 4 are not mirror images.
const List kLayout23[4] = {
    List("(xC-3050, yC-6975) (xC-2050, yC-6975) (xC-3050, yC-5975) (xC-2050, yC-5975) (xC+2050, yC-6975) "
         "(xC+3050, yC-6975) (xC+2050, yC-5975) (xC+3050, yC-5975)"),
    List("(xC-3050, yC+5975) (xC-2050, yC+5975) (xC-3050, yC+6975) (xC-2050, yC+6975) (xC+2050, yC+5975) "
         "(xC+3050, yC+5975) (xC+2050, yC+6975) (xC+3050, yC+6975)"),
    List("(xC-3150, yC+3875) (xC-3150, yC+2075) (xC-3150, yC+275) (xC-3150, yC-1525) (xC-3150, yC-3325) "
         "(xC-1950, yC+3875) (xC-1950, yC+2075) (xC-1950, yC+275) (xC-1950, yC-1525) (xC-1950, yC-3325) "
         "(xC-3050, yC-6975) (xC-2050, yC-6975) (xC-3050, yC-5975) (xC-2050, yC-5975) (xC-3050, yC+5975) "
         "(xC-2050, yC+5975) (xC-3050, yC+6975) (xC-2050, yC+6975)"),
    List("(xC+3150, yC-3375) (xC+3150, yC-1575) (xC+3150, yC+225) (xC+3150, yC+2025) (xC+3150, yC+3825) "
         "(xC+1950, yC-3375) (xC+1950, yC-1575) (xC+1950, yC+225) (xC+1950, yC+2025) (xC+1950, yC+3825) "
         "(xC+2050, yC-6975) (xC+3050, yC-6975) (xC+2050, yC-5975) (xC+3050, yC-5975) (xC+2050, yC+5975) "
         "(xC+3050, yC+5975) (xC+2050, yC+6975) (xC+3050, yC+6975)"),
};

// ---- Layout 27, variants A (word 34 = 1) and B.
#define L27_C1_FIELD                                                                                         \
  "(xC-300, yC-3500) (xC-100, yC-3500) (xC+100, yC-3500) (xC+300, yC-3500) (xC-300, yC-3300) (xC-100, yC-3300) " \
  "(xC+100, yC-3300) (xC+300, yC-3300) (xC-300, yC-3100) (xC-100, yC-3100) (xC+100, yC-3100) (xC+300, yC-3100) " \
  "(xC-300, yC-2900) (xC-100, yC-2900) (xC+100, yC-2900) (xC+300, yC-2900) "
#define L27_C2_FIELD                                                                                         \
  "(xC+300, yC+3500) (xC+100, yC+3500) (xC-100, yC+3500) (xC-300, yC+3500) (xC+300, yC+3300) (xC+100, yC+3300) " \
  "(xC-100, yC+3300) (xC-300, yC+3300) (xC+300, yC+3100) (xC+100, yC+3100) (xC-100, yC+3100) (xC-300, yC+3100) " \
  "(xC+300, yC+2900) (xC+100, yC+2900) (xC-100, yC+2900) (xC-300, yC+2900) "
const List kLayout27[2][4] = {
    {
        List(L27_C1_FIELD "(xC-1650, yC-3100) (xC+1650, yC-3100) (xC-1650, yC-2900) (xC-1650, yC-3300) "
                          "(xC+1650, yC-3300) (xC+1650, yC-2900)"),
        List(L27_C2_FIELD "(xC-1650, yC+3100) (xC+1650, yC+3100) (xC-1650, yC+2900) (xC-1650, yC+3300) "
                          "(xC+1650, yC+3300) (xC+1650, yC+2900)"),
        List("(xC-2050, yC+755) (xC-2050, yC+555) (xC-2050, yC+355) (xC-1850, yC+755) (xC-1850, yC+555) "
             "(xC-1850, yC+355) (xC-1650, yC+755) (xC-1650, yC+555) (xC-1650, yC+355) (xC-1450, yC+755) "
             "(xC-1450, yC+555) (xC-1450, yC+355) (xC-2050, yC-900) (xC-2050, yC-1100) (xC-1850, yC-900) "
             "(xC-1850, yC-1100) (xC-1650, yC-900) (xC-1650, yC-1100) (xC-1450, yC-900) (xC-1450, yC-1100) "
             "(xC-1650, yC-3100) (xC-1650, yC+3100)"),
        List("(xC+2050, yC+355) (xC+2050, yC+555) (xC+2050, yC+755) (xC+1850, yC+355) (xC+1850, yC+555) "
             "(xC+1850, yC+755) (xC+1650, yC+355) (xC+1650, yC+555) (xC+1650, yC+755) (xC+1450, yC+355) "
             "(xC+1450, yC+555) (xC+1450, yC+755) (xC+2050, yC-1100) (xC+2050, yC-900) (xC+1850, yC-1100) "
             "(xC+1850, yC-900) (xC+1650, yC-1100) (xC+1650, yC-900) (xC+1450, yC-1100) (xC+1450, yC-900) "
             "(xC+1650, yC-3100) (xC+1650, yC+3100)"),
    },
    {
        List(L27_C1_FIELD "(xC-1650, yC-3100) (xC+1650, yC-3100) (xC-1650, yC-2900) (xC-1650, yC-3300) "
                          "(xC+1600, yC-3300) (xC+1610, yC-2900)"),
        List(L27_C2_FIELD "(xC-1650, yC+3100) (xC+1650, yC+3100) (xC-1680, yC+2900) (xC-1680, yC+3300) "
                          "(xC+1650, yC+3300) (xC+1650, yC+2900)"),
        List("(xC-2050, yC+803) (xC-2050, yC+603) (xC-2050, yC+403) (xC-1850, yC+803) (xC-1850, yC+603) "
             "(xC-1850, yC+403) (xC-1650, yC+803) (xC-1650, yC+603) (xC-1650, yC+403) (xC-1450, yC+803) "
             "(xC-1450, yC+603) (xC-1450, yC+403) (xC-2050, yC-852) (xC-2050, yC-1052) (xC-1850, yC-852) "
             "(xC-1850, yC-1052) (xC-1650, yC-852) (xC-1650, yC-1052) (xC-1450, yC-852) (xC-1450, yC-1052) "
             "(xC-1650, yC-3100) (xC-1650, yC+3100)"),
        List("(xC+2050, yC+403) (xC+2050, yC+603) (xC+2050, yC+803) (xC+1850, yC+403) (xC+1850, yC+603) "
             "(xC+1850, yC+803) (xC+1650, yC+403) (xC+1650, yC+603) (xC+1650, yC+803) (xC+1450, yC+403) "
             "(xC+1450, yC+603) (xC+1450, yC+803) (xC+2050, yC-1052) (xC+2050, yC-852) (xC+1850, yC-1052) "
             "(xC+1850, yC-852) (xC+1650, yC-1052) (xC+1650, yC-852) (xC+1450, yC-1052) (xC+1450, yC-852) "
             "(xC+1650, yC-3100) (xC+1650, yC+3100)"),
    },
};
#undef L27_C1_FIELD
#undef L27_C2_FIELD

// ---- Layouts 30 and 31.
const List kLayout30[4] = {
    List("(xC-2235, yC-3850) (xC-1335, yC-3850) (xC-2235, yC-2500) (xC-1335, yC-2500) (xC+1335, yC-3850) "
         "(xC+2235, yC-3850) (xC+1335, yC-2500) (xC+2235, yC-2500)"),
    List("(xC-2235, yC+2950) (xC-1335, yC+2950) (xC-2235, yC+3400) (xC-1335, yC+3400) (xC+1335, yC+2950) "
         "(xC+2235, yC+2950) (xC+1335, yC+3400) (xC+2235, yC+3400) (xC-2235, yC+2500) (xC-1335, yC+2500) "
         "(xC+1335, yC+2500) (xC+2235, yC+2500) (xC-2235, yC+2050) (xC-1335, yC+2050) (xC+1335, yC+2050) "
         "(xC+2235, yC+2050)"),
    List("(xC-2235, yC-3850) (xC-1335, yC-3850) (xC-2235, yC-1600) (xC-1335, yC-1600) (xC-2235, yC+1150) "
         "(xC-1335, yC+1150) (xC-2235, yC+3400) (xC-1335, yC+3400) (xC-2235, yC+2950) (xC-1335, yC+2950)"),
    List("(xC+1335, yC-3850) (xC+2235, yC-3850) (xC+1335, yC-1600) (xC+2235, yC-1600) (xC+1335, yC+1150) "
         "(xC+2235, yC+1150) (xC+1335, yC+3400) (xC+2235, yC+3400) (xC+1335, yC+2950) (xC+2235, yC+2950)"),
};
const List kLayout31[4] = {
    List("(xC-2250, yC-3800) (xC-1500, yC-3800) (xC-2250, yC-3050) (xC-1500, yC-3050) (xC+1500, yC-3800) "
         "(xC+2250, yC-3800) (xC+1500, yC-3050) (xC+2250, yC-3050)"),
    List("(xC-2250, yC+3050) (xC-1500, yC+3050) (xC-2250, yC+3800) (xC-1500, yC+3800) (xC+1500, yC+3050) "
         "(xC+2250, yC+3050) (xC+1500, yC+3800) (xC+2250, yC+3800)"),
    List("(xC-2250, yC-3800) (xC-1500, yC-3800) (xC-2250, yC-3050) (xC-1500, yC-3050) (xC-2250, yC+550) "
         "(xC-1500, yC+550) (xC-2250, yC+1300) (xC-1500, yC+1300) (xC-2250, yC+3050) (xC-1500, yC+3050) "
         "(xC-2250, yC+3800) (xC-1500, yC+3800)"),
    List("(xC+1500, yC-3800) (xC+2250, yC-3800) (xC+1500, yC-3050) (xC+2250, yC-3050) (xC+1500, yC+550) "
         "(xC+2250, yC+550) (xC+1500, yC+1300) (xC+2250, yC+1300) (xC+1500, yC+3050) (xC+2250, yC+3050) "
         "(xC+1500, yC+3800) (xC+2250, yC+3800)"),
};

// Dot fields of layouts 3 and 6 at the four vehicle corners: x runs fastest,
// from the outermost column on the left, the innermost on the right; y from
// the farthest row at the front, the nearest at the rear.
enum Corner { kFrontLeft, kFrontRight, kRearLeft, kRearRight };
constexpr Corner kFieldsOfCamera[4][2] = {
    {kFrontLeft, kFrontRight}, {kRearLeft, kRearRight}, {kFrontLeft, kRearLeft}, {kFrontRight, kRearRight}};

int32_t WriteField(Matrix* out, int32_t row, const SiteAnchors& a, Corner corner, const int32_t* xOff, int32_t nx,
                   const int32_t* yOff, int32_t ny) {
  const bool left = corner == kFrontLeft || corner == kRearLeft;
  const bool front = corner == kFrontLeft || corner == kFrontRight;
  for (int32_t j = 0; j < ny; ++j) {
    const float y = front ? a.yF - static_cast<float>(yOff[ny - 1 - j]) : a.yB + static_cast<float>(yOff[j]);
    for (int32_t i = 0; i < nx; ++i) {
      const float x = left ? a.xL - static_cast<float>(xOff[nx - 1 - i]) : a.xR + static_cast<float>(xOff[i]);
      WorldPoints_Put(out, row++, x, y);
    }
  }
  return row;
}

void WriteFields(const LutConfig* cfg, int32_t camera, Matrix* out, const int32_t* xOff, int32_t nx,
                 const int32_t* yOff, int32_t ny) {
  if (!ValidCamera(camera)) return;
  const int32_t first = AppendRow(camera);
  if (!WorldPoints_Fits(out, first, 2 * nx * ny)) return;
  int32_t box[3];
  SiteBox_FromLutConfig(cfg, box);
  const SiteAnchors a = SiteAnchors_Float(box, SiteDistances_FromConfig());
  int32_t row = first;
  for (Corner c : kFieldsOfCamera[camera - 1]) row = WriteField(out, row, a, c, xOff, nx, yOff, ny);
}

void SetBlockHeights(Matrix* out) {
  const float z = -static_cast<float>(gv().advValue11);
  for (int32_t r = 0; r < 8; ++r) WorldPoints_PutZ(out, r, z);
}

}  // namespace

int32_t Layout1_FirstMarkRow(int32_t camera) {
  const int32_t n = AppendRow(camera);
  return n == 43 ? 35 : n;
}

int32_t Layout1_MarkCount(int32_t camera) { return ValidCamera(camera) ? kLayout1[camera - 1].size() : 0; }

void CalibLayout1_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (!ValidCamera(camera)) return;
  int32_t box[3];
  SiteBox_FromLutConfig(cfg, box);
  WorldSymbols s(SiteAnchors_Integer(box, SiteDistances_FromConfig()));
  s.v[kSymS] = static_cast<float>(gv().targetDimA);
  WorldPoints_WriteList(out, Layout1_FirstMarkRow(camera), kLayout1[camera - 1], s);
}

void CalibLayout3_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  static const int32_t kOff[3] = {300, 500, 700};
  WriteFields(cfg, camera, out, kOff, 3, kOff, 3);
}

void CalibLayout4_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (ValidCamera(camera)) WorldPoints_WriteList(out, 0, kLayout4[camera - 1], FloatSymbols(cfg));
}

void CalibLayout6_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  static const int32_t kX[3] = {200, 600, 1000}, kY[4] = {200, 600, 1000, 1400};
  WriteFields(cfg, camera, out, kX, 3, kY, 4);
}

void CalibLayout7_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (ValidCamera(camera))
    WorldPoints_WriteList(out, kLayout7First[camera - 1], kLayout7[camera - 1], FloatSymbols(cfg));
}

void CalibLayout10_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (!ValidCamera(camera)) return;
  WorldSymbols s = FloatSymbols(cfg);
  const bool narrow = gv().place0 == 2380;
  s.v[kSymE] = narrow ? 710.0f : 800.0f;
  s.v[kSymI] = narrow ? 110.0f : 200.0f;
  WorldPoints_WriteList(out, AppendRow(camera), kLayout10[camera - 1], s);
}

void CalibLayout15_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (!ValidCamera(camera)) return;
  const WorldSymbols s = FloatSymbols(cfg);
  if (cfg->handEntered != 0 && WorldPoints_Fits(out, 0, 12)) {
    // Rows 2..5 take the outer corners of the camera's 3 x 4 grid, read
    // before any row is overwritten.
    static const int32_t kGridRows[4] = {0, 2, 9, 11};
    float grid[4][2];
    for (int k = 0; k < 4; ++k) memcpy(grid[k], out->data + static_cast<size_t>(kGridRows[k]) * out->cols, 8);
    const List& m = kLayout15Hand[camera - 1];
    const int32_t markRows[4] = {0, 1, 6, 7};
    for (int k = 0; k < 4; ++k) WorldPoints_Put(out, markRows[k], m.Eval(k, 0, s), m.Eval(k, 1, s));
    for (int k = 0; k < 4; ++k) WorldPoints_Put(out, 2 + k, grid[k][0], grid[k][1]);
  }
  WorldPoints_WriteList(out, AppendRow(camera), kLayout15[camera - 1], s);
}

void CalibLayout20_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (camera != 2) return;
  WorldSymbols s = FloatSymbols(cfg);
  s.v[kSymS] = static_cast<float>(gv().targetDimA);
  WorldPoints_WriteList(out, 0, kLayout20, s);
}

void CalibLayout22_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (!ValidCamera(camera)) return;
  WorldSymbols s = FloatSymbols(cfg);
  s.v[kSymH] = static_cast<float>(gv().f18) / 2.0f;
  WorldPoints_WriteList(out, 0, kLayout22[camera - 1], s);
}

void CalibLayout23_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (ValidCamera(camera)) WorldPoints_WriteList(out, 0, kLayout23[camera - 1], FloatSymbols(cfg));
}

void CalibLayout27_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (!ValidCamera(camera)) return;
  const int variant = gv().targetDimB == 1 ? 0 : 1;
  WorldPoints_WriteList(out, 0, kLayout27[variant][camera - 1], FloatSymbols(cfg));
}

void CalibLayout29_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  const GlobalVariables& g = gv();
  if (!ValidCamera(camera) || g.blockCalib4 == nullptr || BlockCalib4_State(g.blockCalib4) == 0) return;
  if (!WorldPoints_Fits(out, 0, 8)) return;
  const WorldSymbols s = FloatSymbols(cfg);
  CalibPose_FromAngles(g.blockCalib4, camera, out, g.advAngle, s.v[kSymXC], s.v[kSymYC]);
  SetBlockHeights(out);
}

void CalibLayout52_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  const GlobalVariables& g = gv();
  if (!ValidCamera(camera) || g.blockCalib6 == nullptr || BlockCalib6_State(g.blockCalib6) == 0) return;
  if (!WorldPoints_Fits(out, 0, 8)) return;
  const WorldSymbols s = FloatSymbols(cfg);
  CalibPose6_FromAngles(g.blockCalib6, g.groupNumber, camera, out, g.advAngle, s.v[kSymXC], s.v[kSymYC]);
  SetBlockHeights(out);
}

void CalibLayout30_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (ValidCamera(camera)) WorldPoints_WriteList(out, 0, kLayout30[camera - 1], FloatSymbols(cfg));
}

void CalibLayout31_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  if (ValidCamera(camera)) WorldPoints_WriteList(out, 0, kLayout31[camera - 1], FloatSymbols(cfg));
}

void CalibLayout51_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out) {
  constexpr int32_t kLine = 27;
  if (!ValidCamera(camera) || !WorldPoints_Fits(out, 0, 2 * kLine)) return;
  const GlobalVariables& g = gv();
  const float xC = FloatSymbols(cfg).v[kSymXC];
  const float w = static_cast<float>(g.place0) / 2.0f, S = static_cast<float>(g.targetDimA);
  float x0, x1;
  switch (camera) {
    case 3:
      x0 = xC - w;
      x1 = xC - w - S;
      break;
    case 4:
      x0 = xC + w;
      x1 = xC + w + S;
      break;
    default:
      x0 = xC - w;
      x1 = xC + w;
      break;
  }
  for (int32_t r = 0; r < kLine; ++r) {
    WorldPoints_Put(out, r, x0, 0.0f);
    WorldPoints_Put(out, kLine + r, x1, 0.0f);
  }
}
