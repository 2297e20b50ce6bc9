#pragma once
// Trace-line (parking guide line) model of a view object.
//
// Lines are defined on the ground in vehicle millimetres: origin at the
// centre of the car box, x across the car, y along it (front at negative y,
// rear at positive y), z = 0. They are mapped into the front or rear camera's
// undistorted or zoom view.
#include <cstdint>

struct UndistOB;

// Geometry of one end of the car (13 i32, index order fixed).
struct TraceEdgeSet {
  int32_t d0, d1, d2;    // 0-2: zone distances beyond the bumper, mm
  int32_t margin;        // 3: lateral margin of the lines beyond the car sides
  int32_t xLeft;         // 4
  int32_t xRight;        // 5
  int32_t bumperY;       // 6
  int32_t startY;        // 7: where the lines start
  int32_t edgeY;         // 8: car-box edge, +-L/2
  int32_t axleY;         // 9: rear axle line (turning centre row)
  int32_t turnDist10;    // 10, 11: longitudinal distances of the turning radii
  int32_t turnDist11;
  int32_t dir;           // 12: +1 rear, -1 front
};
static_assert(sizeof(TraceEdgeSet) == 13 * 4, "13 words");

// Point list filled by the dynamic lines.
struct TracePointList {
  int32_t capacity;
  int32_t count;
  float* x;
  float* y;
  uint8_t* kind;
  float* extra;
};

// Segment list of the static lines (view pixels).
struct TraceSegmentList {
  int32_t capacity;
  int32_t count;
  float* x1;
  float* y1;
  float* x2;
  float* y2;
  uint8_t* kind;  // 1, 2, 3 = zone
};

struct TraceModel {
  UndistOB* owner;  // non-null once created
  int32_t frameWidth, frameHeight, carBoxWidth, carBoxLength, limit1, limit2;
  TraceEdgeSet rear;
  TraceEdgeSet front;
  int32_t nearMark;
  int32_t traceOffset;  // ExtraConfig field 7
  int32_t dynStyle;     // Config field 5
  int32_t style;        // Config field 4
  int32_t layoutMode;   // ExtraConfig field 4 (3 stored as 0)
  float mmPerPixel;
  // Bird's-eye geometry, px.
  int32_t carLeftPx, carRightPx, f3, f6, carBottomPx, f5, row1, row2;
  TracePointList undistA, mergerA, undistB, mergerB;
};

// Fills the model once from the view object and the global configuration;
// does nothing when already created. Returns 1.
int Undist4Camera_CreateModel(TraceModel* model, UndistOB* view);
// The same from the six view-object words (frame size, car box, limits).
int TraceModel_Create(TraceModel* model, UndistOB* owner, int32_t frameWidth, int32_t frameHeight,
                      int32_t carBoxWidth, int32_t carBoxLength, int32_t limit1, int32_t limit2);
// Frees the point lists and clears the owner.
void Undist4Camera_ReleaseModel(TraceModel* model);
