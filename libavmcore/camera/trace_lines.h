#pragma once
// Static, dynamic and direct trace lines over a trace model.
#include <cstdint>

#include "camera/trace_model.h"

// Where a line is drawn: one view block and its ground-to-view mapping
// (bounds check on: 1 and the pixel when inside, else 0 and (-2, -2)).
struct TraceView {
  int32_t width = 0;
  int32_t height = 0;
  int (*map)(const void* ctx, float x, float y, float* px, float* py) = nullptr;
  const void* ctx = nullptr;
  // The mapping without the bounds check (the computed values are written
  // even outside); the direct projections report through it.
  int (*mapRaw)(const void* ctx, float x, float y, float* px, float* py) = nullptr;
};

// The undistorted (zoomFlag 0) or zoom block of a camera of the model's view
// object. An object without the block's mapping yields a view of size 0.
TraceView TraceView_Of(const TraceModel* model, int32_t camera, int32_t zoomFlag);

// ---- static lines ----
constexpr int32_t kStaticSegmentCapacity = 256;

// Plain segment: appended (1) when both mapped ends are inside the view.
int Trace_AddSegment(const TraceView& view, uint8_t kind, TraceSegmentList* list, float xa, float ya, float xb,
                     float yb);
// Ground line as a polyline of nine half-overlapping chords; returns the
// number appended.
int Trace_AddChordSegment(const TraceView& view, uint8_t kind, TraceSegmentList* list, float xa, float ya,
                          float xb, float yb);
// Trace_AddChordSegment (chord non-zero) or Trace_AddSegment.
int Trace_AddSegmentEx(const TraceView& view, int32_t chord, uint8_t kind, TraceSegmentList* list, float xa,
                       float ya, float xb, float yb);
// The static lines of one edge set in the given style; returns the number of
// segments appended.
int Trace_StaticLines(const TraceEdgeSet& e, int32_t style, int32_t nearMark, const TraceView& view,
                      TraceSegmentList* list);
// Camera 1: front set and camera 1's block; any other camera: rear set and
// camera 2's block.
int CalcUndistStaticTraceLine(TraceModel* model, int32_t camera, int32_t zoomFlag, TraceSegmentList* list);

// ---- dynamic lines ----
// Straight-steering bound of the dynamic lines: |a| < 0.4 is straight.
constexpr float kDynStraightBound = 0.4f;
// Colour byte used as the kind of the nearest zone (4, 7 while style 3 runs).
uint8_t Trace_ColourByte();

// Refills the camera's undistorted point list (camera 2: rear set, list B;
// others: front set, list A). Returns the number of points.
int CalcUndistDynamicTracePoint(TraceModel* model, int32_t camera, int32_t zoomFlag, float angle);
// The same for an explicit view (tests and the export share it).
int Trace_DynamicLines(TraceModel* model, int32_t camera, const TraceView& view, float angle);
// Refills the camera's bird's-eye point list. Returns the number of points.
int CalcDynamicMergerTracePoint(TraceModel* model, int32_t camera, float angle);
// Radius of one side's path (1.0 when straight).
float TraceTurnRadius(const TraceModel* model, int32_t camera, int32_t which, float angle);

// Circle helpers (side 1: x = cx - root, side 2: x = cx + root).
bool Circle_XAtY(float cx, float cy, float r, int32_t side, float y, float* x);
// Point on the circle reached after arc length s from the circle point at
// row y (on the given side), walking toward larger y for s > 0. False when
// |y - cy| > r. The AtArcLength form also gives the angle of the point
// (asin of (y - cy) / r after the walk).
bool Circle_PointAfterArc(float cx, float cy, float r, int32_t side, float y, float s, float* outX, float* outY);
bool Circle_PointAtArcLength(float cx, float cy, float r, int32_t side, float y, float s, float* outX, float* outY,
                             float* angle);
// Moves y away from the centre row cy by d, keeping x.
void Trace_PushOut(float cy, float d, float* y);

// ---- direct projections ----
// Straight bound of the direct projections: |angle| <= 0.4 is straight.
constexpr float kDirectStraightBound = 0.4f;

void Physical2DispMergerPoint(const TraceModel* model, float* x);
void Physical2DispMergerPointInt(const TraceModel* model, float* y);

void DirectCalcUndistPoints(TraceModel* model, int32_t mode, int32_t zoomFlag, int32_t n, const float* xin,
                            const float* yin, float* xout, float* yout, uint8_t* valid, float angle);
void DirectCalcMergerPoints(TraceModel* model, int32_t end, int32_t second, int32_t n, const float* xin,
                            const float* yin, float* xout, float* yout, uint8_t* valid, float angle);
void DirectCalcPhyTracePoints(TraceModel* model, int32_t mode, int32_t n, const float* xin, const float* yin,
                              float* xout, float* yout, uint8_t* valid, float angle);
int DirectCalcUndistTraceLP(TraceModel* model, int32_t mode, int32_t zoomFlag, int32_t n, float* xout, float* yout,
                            float* third, float angle, float x, float yA, float yB);
int DirectCalcMergerTraceLP(TraceModel* model, int32_t end, int32_t flags, int32_t n, float* xout, float* yout,
                            float* third, float angle, float x, float yA, float yB);
int DirectCalcPhyTraceLP(TraceModel* model, int32_t mode, int32_t n, float* xout, float* yout, float* third,
                         float angle, float x, float yA, float yB);
// The arrays of a direct point projection: n ground points in, n mapped
// points out; valid (may be null) gets 1 for a point that bent and mapped.
struct DirectPointSet {
  int32_t n;
  const float* xin;
  const float* yin;
  float* xout;
  float* yout;
  uint8_t* valid;
};
// A ground line x from yA to yB, sampled into n points; third (may be null)
// gets the bent ground y of each sample.
struct DirectGroundLine {
  float x, yA, yB;
};
struct DirectLineSamples {
  int32_t n;
  float* xout;
  float* yout;
  float* third;
};
// The bending and sampling over an explicit target (tests).
int Direct_TraceLP(TraceModel* model, int32_t mode, const TraceView* view, const DirectLineSamples& out, float angle,
                   const DirectGroundLine& line);
void Direct_Points(TraceModel* model, int32_t mode, const TraceView* view, const DirectPointSet& pts, float angle);
