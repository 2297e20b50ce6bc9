#pragma once
// Threshold quad search and marker quads. A quad handed out is 8 f32: four
// (row, column) corners read like a 2 x 2 grid, corners 0 and 1 on one side
// and 2 and 3 on the opposite side, so the outline runs 0, 1, 3, 2. For a
// square seen about upright the order is top-left, top-right, bottom-left,
// bottom-right.
#include <cstdint>

#include "calibration/detect/chess_quad.h"
#include "frame/matrix_types.h"

// Room the callers give the two searches, in quads.
constexpr int32_t kQuadSearchMax = 64;
constexpr int32_t kMarkerQuadMax = 8;
// Entries of the two marker-quad schedules.
constexpr int32_t kMarkerScheduleSize = 14;

// Binarises the image by mode (bright above the local mean minus offset),
// fits a quad to every dark region (traceBoundaries != 0: to every closed
// boundary of the bright foreground) and writes, largest first, up to 64
// quads whose side lengths (pixels) lie strictly within (minEdgeLo,
// minEdgeHi) for the shortest and (maxEdgeLo, maxEdgeHi) for the longest
// side. dropOuterThird != 0 drops quads in the outer third away from the
// side (side 0: the left third, else the right third). Returns the count.
int32_t Chessboard_FindQuads(const Matrix* image, int32_t side, int32_t mode, int32_t dropOuterThird, float* out,
                             int32_t straightSchedule, int32_t traceBoundaries, float minEdgeLo, float minEdgeHi,
                             float maxEdgeLo, float maxEdgeHi, float offset);

// One entry (0..13) of the marker schedule: keeps up to 8 quads that hold an
// inner square of the opposite shade, no quad that holds a sizeable quad of
// its own shade, and none spanning two thirds of the image. Returns the count
// (0 for an index outside the schedule).
int32_t Chessboard_FindMarkerQuads(const Matrix* image, int32_t side, int32_t index, float* out, float minEdgeLo,
                                   float minEdgeHi, float maxEdgeLo, float maxEdgeHi);

// True when the quad (one 8-float record of the image) holds an inner
// square of the opposite shade near its centre; innerMode 3 or 6 is the
// binarisation mode of the inner search.
bool MarkerQuad_Verify(const Matrix* image, const float* quad, int32_t innerMode);

// Index of the fitted quad's corner that starts the output order.
int32_t Quad_FirstCorner(int32_t side, const ChessQuad* quad);
