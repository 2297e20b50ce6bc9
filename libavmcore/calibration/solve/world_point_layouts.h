#pragma once
// The world-point generators, one per board-layout code. Each takes the LUT
// configuration (its first three words are the vehicle box), camera 1..4 and
// the caller's world-point matrix (3 columns, one row per point), and writes
// the marks of that camera over or behind the configured chessboard grid.
// Any other camera number writes no points. A list that does not fit the
// matrix is not written.
#include <cstdint>

#include "frame/matrix_types.h"

struct LutConfig;

using WorldPointGenerator = void (*)(const LutConfig* cfg, int32_t camera, Matrix* out);

// Layouts without a vehicle profile.
void CalibLayout1_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout3_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout4_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout6_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout7_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout10_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout15_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout20_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout22_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout23_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout27_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout29_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout30_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout31_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout51_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout52_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);

// Layouts of a vehicle programme: each loads its profile first.
void CalibLayout2_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout5_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout8_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout9_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout11_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout12_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout13_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout14_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout16_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout17_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout18_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout19_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout21_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout24_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout25_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout26_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout28_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout32_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout53_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);
void CalibLayout54_WorldPoints(const LutConfig* cfg, int32_t camera, Matrix* out);

// The generator of a board-layout code; null for a code without one.
WorldPointGenerator WorldPointGenerator_ForLayout(int32_t code);

// First row of layout 1's marks for the camera: the configured point count
// (word 43 for cameras 1 and 2, word 38 for 3 and 4), 35 when it holds 43.
int32_t Layout1_FirstMarkRow(int32_t camera);
// Number of layout 1's marks of the camera (8, 8, 16, 16; 0 otherwise).
int32_t Layout1_MarkCount(int32_t camera);
