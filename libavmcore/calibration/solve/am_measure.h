#pragma once
// Marker-angle measurement: the angle on the ground of the line through two
// square markers that one camera sees, relative to a base angle taken once
// at calibration, frame by frame and smoothed by a Kalman filter.
//
// Image points are (row, column) pairs; the camera model is lens model 3
// with lens-table slot 1. Angles are radians.
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "toolkit/kalman_filter.h"

constexpr uint32_t kAMModelMagic = 0x03080201u;
constexpr int32_t kAMModelFileSize = 304;
constexpr int32_t kAMModelMaxSide = 8192;  // largest frame side a model may name

// The model file's content (AMModelFile; the file holds the image corners
// before the world corners).
struct AMModel {
  int32_t width = 0, height = 0;
  uint32_t tag = 0;
  int32_t a = 0, b = 0;       // marker side, gap between the markers' inner edges
  float world[8][3] = {};     // 0-3 left marker, 4-7 right marker, grid order
  float image[8][2] = {};     // (row, column)
  float K[9] = {}, D[8] = {}, R[3] = {}, T[3] = {};
  int32_t window[4] = {0, 0, 0, 0};  // x0, y0, x1, y1
  float d = 0.0f;             // marker side in pixels
  float s = 0.0f;             // distance of the two markers' corner sums
  float baseAngle = 0.0f;
};

struct AMObject {
  AMModel model;
  float quadA[8] = {}, quadB[8] = {};
  float centreA[2] = {}, centreB[2] = {};
  int32_t tracking = 0;
  int32_t failures = 1000;  // consecutive frames without a measurement
  KalmanFilter filter = {};
  float filtered = 0.0f, raw = 0.0f;
  std::vector<float> work;  // width x height
};

// World corners of the two markers from side a and gap b (z = 0).
void AM_WorldCorners(int32_t a, int32_t b, float world[8][3]);

// Writes the model file through a temporary file (fsync, rename); false when
// any step fails, the old file then left as it was.
bool AM_SaveModelFile(const AMModel& model, const char* path);
// 1 when read, 0 when the file is missing, is not 304 bytes, has another
// magic, or names a frame or window that cannot be used (0 <= x0 < x1 <=
// width, the same for y, sides 1..8192).
int32_t AM_LoadModelFile(AMModel* model, const char* path);

// Calibration from a BMP still image: window (x0, y0, x1, y1) or null for
// the whole image less 10 pixels. 0 when a marker pair was accepted and the
// model file written; 1 when no pair was accepted, the image could not be
// read or the file could not be written.
int32_t AM_Calib(const char* bmpPath, const int32_t* window, uint32_t tag, int32_t a, int32_t b,
                 const char* modelPath);

// Object from a model file, or null. Free with AM_Release.
AMObject* AM_InitOB(const char* modelPath);
// One frame: luma plane of the model's width x height with the given row
// stride (bytes). 0 when the angle was updated, 2 when not (also for null
// arguments).
int32_t AM_InputVideo(AMObject* obj, const void* unused, const uint8_t* luma, int32_t stride);
// 0 and the filtered (and, when raw is given, the raw) angle; -1 while more
// than five frames in a row failed, or for a null object.
int32_t AM_GetAngle(const AMObject* obj, float* filtered, float* raw);
int32_t AM_Release(AMObject* obj);

// ---- Internal steps, exposed for tests ----
// Reorders a quad of four (row, column) corners into grid order starting at
// the corner towards smaller row and column.
void AM_SortQuadCorners(float quad[8]);
// Ground shape test of a candidate marker quad: 1 and the side ratio as
// score, or 0.
int32_t AM_CheckMarkerQuad(const AMObject* obj, const float quad[8], float* score);
// Puts the pair in measuring order (A left, or by the calibration's slant).
void AM_OrderMarkerPair(const AMObject* obj, float quadA[8], float quadB[8]);
// Ground points (X, Y) of the two centres (row, column).
void AM_ImageToGround(const AMModel& model, const float centreA[2], const float centreB[2], float X[2], float Y[2]);
// The schedule index the per-frame search uses next (0..2), shared by all
// objects; the setter is for tests.
int32_t AM_ScheduleIndex();
void AM_SetScheduleIndex(int32_t index);
