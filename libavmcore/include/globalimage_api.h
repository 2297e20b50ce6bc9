#pragma once
// Exported KRV_GlobalImage_* interface of libavmcore (C and C++).
// Picture sizes (frames, views, screens, camera pictures) are 1..8192 a side
// (the quad frame of the hand-entered builds 2..8192, the camera pictures of
// the six-camera hand build 1..4096); another size gets the export's failure
// value and a log line, before anything is allocated. An export that runs
// out of memory logs it and returns its failure value too.
#include <stdint.h>

#include "avm_export.h"
#include "config_records.h"

/* Failure results of the int exports whose success is 0; the comment of
 * each export names the ones it returns. */
enum {
  /* The common failure: a null or invalid handle or argument, a value out of
   * range, a file that cannot be read or written, out of memory. */
  kGlobalImageFailed = 1,
  /* Car motion matrices: an argument refused or a result not finite. */
  kCarMatrixRefused = -1,
  /* Colour correction: no output record, or the picture or the mix-area file
   * cannot be read. */
  kColorCorrectFailed = -1,
  /* Trace end points: the projection failed (equal ends). */
  kTraceLPFailed = 2,
  /* Angle measurement: no marker pair followed this frame; no angle yet. */
  kAMNotFollowed = 2,
  kAMNoAngle = -1,
  /* Manual pose adjustment: nothing replaced. */
  kModCPNotReplaced = -1
};

// Global configuration.
AVM_EXPORT int KRV_GlobalImage_Init();
AVM_EXPORT int KRV_GlobalImage_Release();
AVM_EXPORT int KRV_GlobalImage_SetConfig(Config* cfg);
AVM_EXPORT int KRV_GlobalImage_GetConfig(Config* cfg);
AVM_EXPORT int KRV_GlobalImage_SetExtraConfig(ExtraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_GetExtraConfig(ExtraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_SetAdvCameraConfig(AdvCameraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_GetAdvCameraConfig(AdvCameraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_ModGlobalVariablesFile(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
AVM_EXPORT int KRV_GlobalImage_ModChessParam(int32_t* params, int32_t* offsets, int32_t* outWidth,
                                             int32_t* outLength);
AVM_EXPORT int KRV_GlobalImage_AdvanceCtrl(int32_t id, int32_t value);
AVM_EXPORT int KRV_GlobalImage_GetLastCalibResult(float* out);
AVM_EXPORT int KRV_GlobalImage_GetCalibResult(const float* record, int32_t camera, int32_t kind, float* out);

// ---- Bird's-eye view: LUT objects and files, CPU stitching ----
// (definitions in lut_exports.cpp and cpu_merger_exports.cpp)
typedef struct MergerCPUOB MergerCPUOB;

typedef struct LUTOB LUTOB;

// Results of the LUT save chain and the file-writing exports beyond 0: the
// first step that failed (the chain stops there; sync() still runs).
enum {
  kLutSaveByteLutFailed = -1,  // byte LUT or lut_config file
  kLutSaveDynAlphaFailed = -2,
  kLutSaveMixAreaFailed = -3,
  kLutSaveAdasFailed = -4,
  kLutSaveNoObject = -5,
  kLutSaveRoiFailed = -6
};

// LUT objects. Every creating export returns null on failure (with *err set
// where given: 1 null path, unsupported format or selector; 2 image or
// parameter file unreadable; else the build's code) and keeps nothing.
// option: bits 0-3 the lens model for the build, bits 4 up the camera mask
// (0 = all four).
AVM_EXPORT LUTOB* KRV_GlobalImage_LoadLUTOB(const char* bmpPath, const char* paramPath, const char* previewPath);
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                            int32_t a5, int32_t option, int32_t reserved, uint32_t* err);
// format 0: 8-bit plane with rows of 2 x width bytes; 1, 4: luma plane.
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_New(int32_t format, uint8_t* frame, int32_t width, int32_t height,
                                                int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                                int32_t option, int32_t reserved, uint32_t* err);
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_Hand(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                                 int32_t quadWidth, int32_t quadHeight, const float* first,
                                                 const float* second, int32_t option, uint32_t* err);
// variant 1: the built-in parameter set; 2: car sizes from
// cc_config/param.txt and camera records cc_config/0.json .. 3.json of the
// data directory. paramPath, a2 and a3 are not used. out1..out4: car width,
// car length, front overhang, wheel base.
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_ParamFile(int32_t variant, const char* paramPath, int32_t a2,
                                                      int32_t a3, uint32_t* err, uint32_t* out1, uint32_t* out2,
                                                      uint32_t* out3, uint32_t* out4);
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOBLine(const char* paramPath, const char* bmpPath, int32_t option,
                                                int32_t reserved1, int32_t reserved2, uint32_t* err);
AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOBLine_New(const char* paramPath, int32_t format, uint8_t* frame,
                                                    int32_t width, int32_t height, int32_t option,
                                                    int32_t reserved1, int32_t reserved2, uint32_t* err);
// Save chain: byte LUT (path1) and lut_config file (path2), with mask bit 7
// lut_dyncalpha.krv, and when path2 is given lut_mixareainfo.krv and the
// driver-assistance files of the mask; then sync(). 0 or a kLutSave* code.
AVM_EXPORT int KRV_GlobalImage_GetLUTOBResult(LUTOB* lut, const char* path1, const char* path2);
AVM_EXPORT int KRV_GlobalImage_GetLUTOBResult_EX(LUTOB* lut, const char* path1, const char* path2, uint32_t mask);
AVM_EXPORT int KRV_GlobalImage_UnInitLUTOB(LUTOB* lut);
// 0; 1 for a null argument or an unreadable parameter file; else the LUT
// build's code or a kLutSave* code.
AVM_EXPORT int KRV_GlobalImage_GenerateMergerLUTFile(const char* paramPath, const char* path1);
AVM_EXPORT int KRV_GlobalImage_GenerateNewMergerLUTFile(const char* paramPath, const char* path1, int32_t w0,
                                                        int32_t w1, int32_t w2, int32_t w3, int32_t extra);
AVM_EXPORT int KRV_GlobalImage_GenerateROIFile(const char* paramPath, const char* roiPath, int32_t a, int32_t b,
                                               float c, float d, float e, float f, float g);
// out: f7, f8, f3, the four car-box values, f5 (eight words).
AVM_EXPORT int KRV_GlobalImage_CalcCarImagePos(int32_t width, int32_t height, int32_t* out);
AVM_EXPORT int KRV_GlobalImage_BuildSixLUTByImage(int32_t a0, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                  int32_t option, const char* imagePath1, const char* imagePath2,
                                                  int32_t* cameraSize, float* cornersA1, float* cornersA2,
                                                  float* cornersB1, float* cornersB2, const char* byteLutPathA,
                                                  const char* byteLutPathB, const char* configPathA,
                                                  const char* configPathB, float* splitPoint);
AVM_EXPORT int KRV_GlobalImage_BuildSixLUTByHand(int32_t a0, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                 int32_t option, int32_t cameraWidth, int32_t cameraHeight,
                                                 const float* pointsA1, const float* pointsA2,
                                                 const float* pointsB1, const float* pointsB2,
                                                 const char* byteLutPathA, const char* byteLutPathB,
                                                 const char* configPathA, const char* configPathB,
                                                 float* splitPoint);
// counts[4]; xs, ys: 59 points a camera; size (or null): camera width, height.
// 0, 1 for a null path or unreadable BMP, else the build's code.
AVM_EXPORT int KRV_GlobalImage_DirectGetCorner_EX(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3,
                                                  int32_t a4, int32_t a5, int32_t option, uint32_t* counts,
                                                  float* xs, float* ys, int32_t* size);
AVM_EXPORT int KRV_GlobalImage_DirectGetCorner(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                               int32_t a5, int32_t option, uint32_t* counts, float* xs, float* ys);
// 0; 1 when the file cannot be patched.
AVM_EXPORT int KRV_GlobalImage_ModLUTConfigFile(const char* path, int32_t a, int32_t b, int32_t c);

// CPU stitching object from a KRVImage byte LUT and its LUT configuration
// file; a..d are userValue1, cameraWidth, cameraHeight, userValue2. Null on
// failure (nothing kept).
AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB(const char* configPath, const char* lutPath, int32_t a,
                                                        int32_t b, int32_t c, int32_t d, uint32_t* outWidth,
                                                        uint32_t* outHeight);
// The same from a MAB run-table file and one grid-LUT file per camera (any
// grid path may be null).
AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB_YW(const char* configPath, const char* mabPath,
                                                           const char* frontGridPath, const char* backGridPath,
                                                           const char* leftGridPath, const char* rightGridPath,
                                                           int32_t userValue1, int32_t cameraWidth,
                                                           int32_t cameraHeight, int32_t userValue2,
                                                           uint32_t* outWidth, uint32_t* outHeight);
// Stitches four semi-planar camera images (front, back, left, right) into
// the output planes {luma, chroma} with pitches {luma, chroma}; gains: 24
// floats; region 1..5 or all. Always 0.
AVM_EXPORT int KRV_GlobalImage_ExecCPUMerger(MergerCPUOB* handle, const uint8_t* frontImage,
                                             const uint8_t* backImage, const uint8_t* leftImage,
                                             const uint8_t* rightImage, uint8_t** output, uint32_t* pitches,
                                             const float* gains, int32_t region);
AVM_EXPORT int KRV_GlobalImage_UnInitMergerCPUOB(MergerCPUOB* handle);

/* Colour correction between cameras computed once on a stored quad picture
 * (24-bit BMP) against a mix-area file: out receives the 132 floats of the
 * colour-correction record, the RGB form when (mode & ~2) == 1, else the grey
 * form. 0 (all 1.0 when the picture's size is not the mix-area quad size);
 * -1 when the picture or the mix-area file cannot be read (out all 1.0). */
AVM_EXPORT int KRV_GlobalImage_CalcColorCorrectValue(int32_t mode, const char* imagePath, const char* mixAreaPath,
                                                      float* out);
// Merger brightness balance (merger_balance_exports.cpp): a 28 x 42 table of
// per-cell gains (byte = gain x 255.99, 127 unchanged) of a stitched
// width x height frame with the car at (x0, y0) of w x h. Init returns the
// handle (null for an empty frame size) and the table's columns and rows
// through cols and rows when given. Calc: format 0, 2 four bytes a pixel, 4
// one byte, other three bytes; out 1176 bytes or null; 0, or 1 for a null
// handle or frame. Release frees the handle.
typedef struct MergerBalanceOB MergerBalanceOB;
AVM_EXPORT MergerBalanceOB* KRV_GlobalImage_InitMergerBalance(int32_t width, int32_t height, int32_t x0, int32_t y0,
                                                              int32_t w, int32_t h, uint32_t* cols,
                                                              uint32_t* rows);
AVM_EXPORT int KRV_GlobalImage_CalcMergerBalance(MergerBalanceOB* handle, int32_t format, const uint8_t* frame,
                                                 uint8_t* out);
AVM_EXPORT int KRV_GlobalImage_ReleaseMergerBalance(MergerBalanceOB* handle);
// ---------------------------------------------------------------------------
// Single-camera views, trace lines and point mappings (view_exports.cpp).
// The handle is created by KRV_GlobalImage_InitUndistOB and ended by
// KRV_GlobalImage_UnInitUndistOB. Cameras are numbered 1 to 4. Angles of the
// trace calls are steering angles in degrees. A null handle does nothing:
// calls that report failure report it, the others return 0 with counts 0.
typedef struct UndistOB UndistOB;

AVM_EXPORT UndistOB* KRV_GlobalImage_InitUndistOB(const char* cameraFile);
AVM_EXPORT int KRV_GlobalImage_UnInitUndistOB(UndistOB* view);

// Undistorted view set-up. a1 camera, a2 width, a3 height, a4 view type (the
// short forms: a4 flip, type 1), then flip, lower warp, linear side warp, cy
// lift; floats: view angle (deg), angle divisor, x shift, y shift,
// height/width ratio, roll (deg), side warp, upper warp. The fixed values
// each form inserts are listed beside its definition.
AVM_EXPORT int KRV_GlobalImage_SetUndistParam(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                              int32_t a5, int32_t a6, int32_t a7, float f0, float f1, float f2,
                                              float f3);
AVM_EXPORT int KRV_GlobalImage_SetUndistParam_EX(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                 int32_t a5, int32_t a6, int32_t a7, float f0, float f1, float f2,
                                                 float f3, float f4);
AVM_EXPORT int KRV_GlobalImage_SetUndistParam_EXD(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                  int32_t a5, int32_t a6, int32_t a7, float f0, float f1, float f2,
                                                  float f3, float f4, float f5);
AVM_EXPORT int KRV_GlobalImage_SetUndistParam_EXDD(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                   int32_t a5, int32_t a6, int32_t a7, int32_t a8, float f0,
                                                   float f1, float f2, float f3, float f4, float f5, float f6,
                                                   float f7);
AVM_EXPORT int KRV_GlobalImage_SetUndistParam_EXDDD(UndistOB* view, int32_t a1, int32_t a2, int32_t a3,
                                                    int32_t a4, int32_t a5, int32_t a6, int32_t a7, int32_t a8,
                                                    int32_t a9, int32_t a10, float f0, float f1, float f2, float f3,
                                                    float f4, float f5, float f6, float f7);
// Cut view set-up (side cameras): a1 camera, a2 width, a3 height, a4 cut type.
AVM_EXPORT int KRV_GlobalImage_SetCutParam(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                           float f0, float f1, float f2);
AVM_EXPORT int KRV_GlobalImage_SetCutParam_EX(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                              float f0, float f1, float f2, float f3, float f4);
AVM_EXPORT int KRV_GlobalImage_SetCutParam_EXD(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                               float f0, float f1, float f2, float f3, float f4, float f5,
                                               float f6);
AVM_EXPORT int KRV_GlobalImage_SetCutParam_EXDD(UndistOB* view, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                int32_t a5, int32_t a6, int32_t a7, int32_t a8, int32_t a9, float f0,
                                                float f1, float f2, float f3, float f4, float f5, float f6,
                                                float f7);
// Zoom view: camera, width, height, flip, angle (rad), crop left, top, right, bottom.
AVM_EXPORT int KRV_GlobalImage_SetZoominParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                                              int32_t flip, float angle, float left, float top, float right,
                                              float bottom);

// LUTs (width x height words): 0 done, 1 failed.
AVM_EXPORT int KRV_GlobalImage_GenerateUndistLUT(UndistOB* view, int32_t camera, uint32_t* out);
AVM_EXPORT int KRV_GlobalImage_GenerateCutLUT(UndistOB* view, int32_t camera, uint32_t* out);
AVM_EXPORT int KRV_GlobalImage_GenerateWideLUT_EX(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                                                  uint32_t* out, float f0, float f1, float f2);
AVM_EXPORT int KRV_GlobalImage_GenerateWideLUT_New(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                                                   int32_t mode, uint32_t* out, float f0, float f1, float f2,
                                                   float f3);
// Meshes: 9 position and 6 texture floats per triangle; null arrays ask for
// the count only. 0 done, 1 failed (count untouched).
AVM_EXPORT int KRV_GlobalImage_GenerateUndistTrian(UndistOB* view, int32_t camera, uint32_t* count,
                                                   float* positions, float* texture);
AVM_EXPORT int KRV_GlobalImage_GenerateCutTrian(UndistOB* view, int32_t camera, uint32_t* count,
                                                float* positions, float* texture);
AVM_EXPORT int KRV_GlobalImage_GenerateWideTrian(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                                                 int32_t mode, uint32_t* count, float* positions, float* texture,
                                                 float scale);
AVM_EXPORT int KRV_GlobalImage_GenerateWideTrian_New(UndistOB* view, int32_t camera, int32_t width,
                                                     int32_t height, int32_t mode, uint32_t* count,
                                                     float* positions, float* texture, float scale, float p1,
                                                     float p2, float p3);

// Point mappings.
AVM_EXPORT int KRV_GlobalImage_Physical2DispPoint(UndistOB* view, int32_t camera, int32_t zoom, float x, float y,
                                                  float z, float* outX, float* outY);
AVM_EXPORT int KRV_GlobalImage_Physical2DispLine(UndistOB* view, int32_t camera, int32_t zoom, float x0, float y0,
                                                 float x1, float y1, int32_t maxPoints, float* outX, float* outY);
// 0 when the pixel reaches the ground, 1 otherwise.
AVM_EXPORT int KRV_GlobalImage_CameraImage2Physical(UndistOB* view, int32_t camera, float* outX, float* outY,
                                                    float x, float y);
AVM_EXPORT int KRV_GlobalImage_Physical2DispMerger(UndistOB* view, float* outX, float* outY, float x, float y);

// Direct trace projections (mode: 2 rear end, other front; bit 4 radius
// rule; bit 8 line length scaling).
AVM_EXPORT int KRV_GlobalImage_DirectCalcUndistPoints(UndistOB* view, int32_t mode, int32_t zoom, int32_t n,
                                                      const float* xin, const float* yin, float* xout, float* yout,
                                                      double angle);
AVM_EXPORT int KRV_GlobalImage_DirectCalcMergerPoints(UndistOB* view, int32_t end, int32_t second, int32_t n,
                                                      const float* xin, const float* yin, float* xout, float* yout,
                                                      double angle);
// 0 done, 2 failed (equal ends).
AVM_EXPORT int KRV_GlobalImage_DirectCalcUndistTraceLP(UndistOB* view, int32_t mode, int32_t zoom, int32_t n,
                                                       float* xout, float* yout, float* third, double angle,
                                                       float x, float yA, float yB);
AVM_EXPORT int KRV_GlobalImage_DirectCalcMergerTraceLP(UndistOB* view, int32_t end, int32_t flags, int32_t n,
                                                       float* xout, float* yout, float* third, double angle,
                                                       float x, float yA, float yB);
// Ground points bent for the angle: xin, yin in, xyout n (x, y) pairs out;
// `unused` is not read.
AVM_EXPORT int KRV_GlobalImage_DirectCalcPhyTracePoints(UndistOB* view, int32_t mode, int32_t n, int32_t unused,
                                                        const float* xin, const float* yin, float* xyout,
                                                        double angle);
// n on success, 0 on failure.
AVM_EXPORT int KRV_GlobalImage_DirectCalcPhyTraceLP(UndistOB* view, int32_t mode, int32_t n, float* xout,
                                                    float* yout, double angle, float x, float yA, float yB);
AVM_EXPORT int KRV_GlobalImage_DirectCalcPhyTraceLP_EX(UndistOB* view, int32_t mode, int32_t n, float* xout,
                                                       float* yout, float* third, double angle, float x, float yA,
                                                       float yB);

// Static lines: the five arrays hold 256 entries; count gets the number of
// segments (kind 1, 2, 3 = zone).
AVM_EXPORT int KRV_GlobalImage_CalcUndistStaticTraceLine(UndistOB* view, int32_t camera, int32_t zoom,
                                                         uint32_t* count, float* x1, float* y1, float* x2,
                                                         float* y2, uint8_t* kinds);
// Dynamic lines: *count in = capacity of the caller's arrays, out = points copied.
AVM_EXPORT int KRV_GlobalImage_CalcUndistDynamicTracePoint(UndistOB* view, int32_t camera, int32_t zoom,
                                                           uint32_t* count, float* xs, float* ys, uint8_t* kinds,
                                                           double angle);
AVM_EXPORT int KRV_GlobalImage_CalcDynamicMergerTracePoint(UndistOB* view, int32_t camera, uint32_t* count,
                                                           float* xs, float* ys, uint8_t* kinds, double angle);

// Saves a camera frame as BMP: format 0 UYVY (2 bytes a pixel), 1 NV12.
// 0 written, 1 unknown format or write failure.
AVM_EXPORT int KRV_GlobalImage_SaveVideoImage(int32_t format, uint8_t* frame, int32_t width, int32_t height,
                                              const char* path);

// ---------------------------------------------------------------------------
// 3-D bowl view (bowl_exports.cpp). Ground frame: millimetres, origin at the
// vehicle's centre, x across the vehicle, y along it (rear positive), z
// minus the height above the ground. Texture coordinates address the quad
// frame, 0..1 over its width and height. Matrices are 16 floats, row-major,
// translation in elements 3, 7 and 11; a vertex (x, y, z) enters them as
// (x, -y, -z, 1).
typedef struct D3DGrid D3DGrid;
typedef struct LUT3DOB LUT3DOB;

// Bowl object from a lut_config.krv file (the path as given). shape: bowl
// set 1 (front/rear cameras) then set 2 (side cameras), each floor extension
// in x, floor extension in y, wall height (mm), wall reach factor; the plain
// form uses 2400, 5400, 6000, 1.0 and 2400, 3400, 4000, 1.0. insets: mm
// taken off the vehicle rectangle at its -y, +y, -x, +x edges. Null when the
// file cannot be read.
AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB(const char* path);
AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB_EX(const char* path, float s0, float s1, float s2, float s3,
                                                     float s4, float s5, float s6, float s7);
AVM_EXPORT D3DGrid* KRV_GlobalImage_Init3DTrianOB_EXD(const char* path, float s0, float s1, float s2, float s3,
                                                      float s4, float s5, float s6, float s7, float inset0,
                                                      float inset1, float inset2, float inset3);
AVM_EXPORT int KRV_GlobalImage_UnInit3DTrianOB(D3DGrid* grid);
// Camera (1..3, any other value 4)'s bowl mesh: mask bit 0 the seam part
// (blended), bit 1 the part the camera covers alone. count gets the number
// of triangles; vertices 9 floats and texture 12 floats (u, v, weight, seam
// value per corner) a triangle, when both are given. Always 0.
AVM_EXPORT int KRV_GlobalImage_Generate3DTrian(D3DGrid* grid, int32_t camera, int32_t mask, uint32_t* count,
                                               float* vertices, float* texture);
// Orbiting view matrix; angles in radians, distances in mm. The handle is
// not used. The _EX form adds zoom; its two pointers and two integers are
// not used.
AVM_EXPORT int KRV_GlobalImage_Generate3DMVP(D3DGrid* grid, float* mvp, float aspect, float offX, float offY,
                                             float pitch, float yaw, float distance, float targetX, float targetY);
AVM_EXPORT int KRV_GlobalImage_Generate3DMVP_EX(D3DGrid* grid, float* mvp, float* unused1, float* unused2,
                                                int32_t unused3, int32_t unused4, float zoom, float aspect,
                                                float offX, float offY, float pitch, float yaw, float distance,
                                                float targetX, float targetY);
// Re-projects camera's stored mesh texture for the pose (rotation vector,
// translation); corners that leave the picture keep their coordinates.
AVM_EXPORT int KRV_GlobalImage_Mod3DTrian(D3DGrid* grid, int32_t camera, const float* rvec, const float* tvec);
// Replaces the bowl meshes with meshes from n triangles (9 floats each);
// groupMode 1 front/rear cameras only, 2 side cameras only, other both.
AVM_EXPORT int KRV_GlobalImage_SetCustom3DTrian(D3DGrid* grid, const float* triangles, int32_t n,
                                                int32_t groupMode);
// The triangles camera sees whole: *count in = triangles given, out = kept;
// vertices 9 and texture 6 floats a kept triangle.
AVM_EXPORT int KRV_GlobalImage_GenerateCustomTBTrian(D3DGrid* grid, int32_t camera, const float* triangles,
                                                     int32_t* count, float* vertices, float* texture);
// Single-camera half-bowl mesh, shape 1 (TBA) or 2 (TBB): 9 vertex and 6
// texture floats a triangle; the last (camera, shape) mesh is kept.
AVM_EXPORT int KRV_GlobalImage_GenerateTBTrian(D3DGrid* grid, int32_t camera, int32_t shape, uint32_t* count,
                                               float* vertices, float* texture);
// n ground points lifted onto TB shape 1 or 2 as camera 1 (camera 1) or 2
// (other values) sees them; `unused` is not read.
AVM_EXPORT int KRV_GlobalImage_TrackPhyTransfer(D3DGrid* grid, int32_t camera, int32_t shape, int32_t n,
                                                int32_t unused, const float* x, const float* y, float* outX,
                                                float* outY, float* outZ);

// 3-D LUT object of an outW x outH view of the bowl (shape as above: set 1
// for the front/rear cameras, set 2 for the side cameras). The handle is
// returned even when the file cannot be read or the size is not 1..8192 a
// side (at most 4096 x 4096 pixels); it is then not valid and
// KRV_GlobalImage_Compute3DLut refuses it.
AVM_EXPORT LUT3DOB* KRV_GlobalImage_Init3DLutOB(const char* path, int32_t outW, int32_t outH, float s0, float s1,
                                                float s2, float s3, float s4, float s5, float s6, float s7);
// Does nothing; returns 0.
AVM_EXPORT int KRV_GlobalImage_Calc3DLut(LUT3DOB* lut, int32_t step, float* mvp, int32_t flag, int32_t* out0,
                                         int32_t* out1, int32_t* out2, int32_t* out3, int32_t reserved);
// Computes the table for the view (as KRV_GlobalImage_Generate3DMVP_EX) with
// samples every step pixels, writes the view matrix to mvp and hands out,
// for each pixel (row-major, any output may be null): sideUV1 and sideUV0
// the (U, V) source of the front/rear and of the side cameras in quad-frame
// pixels x 1024 (V of the side cameras counted from the quad frame's middle
// row; below -20470000 a hole), weights the front/rear share and (with
// secondWeight) the second weight, 0..1023, points the (x, y, z) surface
// point. 0 done; 1 for an invalid handle or step.
AVM_EXPORT int KRV_GlobalImage_Compute3DLut(LUT3DOB* lut, int32_t step, float* mvp, int32_t secondWeight,
                                            int32_t* sideUV1, int32_t* sideUV0, int32_t* weights, float* points,
                                            float zoom, float aspect, float offX, float offY, float pitch,
                                            float yaw, float distance, float targetX, float targetY);
AVM_EXPORT int KRV_GlobalImage_UnInit3DLutOB(LUT3DOB* lut);

// Car motion matrices (definitions in car_matrix_exports.cpp): out receives
// a 3 x 3 row-major matrix that moves the ground picture by the distance
// covered at speed (km/h) with the steering angle steer (degrees; below
// 0.01 either way counts as straight) in dtMs milliseconds; dtMs below 1
// takes the time since the last call of the same export (at most 1000 ms,
// none on the first call). Lengths in mm: the viewed ground's length and
// width and the wheel base; a turn pivots about the row
// viewLength / 2 - axleOffset - (configuration field f21) from the view's
// centre.
// Drive: the view mapped to -1..1 across its width and 1..-1 along its
// length. Scene: the ground window [xMin, xMax] x [yMin, yMax] mapped to
// 0..1; its ignoredWidth is not read. 0 done; -1 for a null out, a value
// that is not a number, a zero view or window size, or a turn with wheel
// base 0 (out untouched, the last time kept).
AVM_EXPORT int KRV_GlobalImage_CalcCarDriveMatrix(int32_t dtMs, float* out, float viewLength, float viewWidth,
                                                  float wheelBase, float axleOffset, float speed, float steer);
AVM_EXPORT int KRV_GlobalImage_CalcCarSceneMatrix(int32_t dtMs, float* out, float viewLength, float ignoredWidth,
                                                  float wheelBase, float axleOffset, float speed, float steer,
                                                  float xMin, float yMin, float xMax, float yMax);

// ---- Manual pose adjustment (definitions in modcp_exports.cpp) ----
typedef struct ModCPObject ModCPObject;

// Loads the camera file (and, for six cameras, the second file; null or ""
// for four). mode 0: single-camera steps, 1: linked steps. Null when a file
// cannot be read.
AVM_EXPORT ModCPObject* KRV_GlobalImage_ModCPInit(const char* configPath1, const char* configPath2, int32_t mode);
// One step (linked non-zero: the linked step), then every camera's rotation
// vector and position (3 floats each) into outRot and outPos. A camera
// outside the set-up or an unknown step changes nothing. 0.
AVM_EXPORT int KRV_GlobalImage_ModCPExec(ModCPObject* obj, int32_t camera, int32_t stepMode, int32_t linked,
                                         float* outRot, float* outPos, float step);
// camera 0..5: its pose back; -1: every pose back; -2: principal points to
// the image centre and every camera re-fitted. Then the poses as above. 0.
AVM_EXPORT int KRV_GlobalImage_ModCPReset(ModCPObject* obj, int32_t camera, float* outRot, float* outPos);
// Regenerates the tables from the adjusted poses and replaces the byte
// LUT(s), camera file(s) and mix-area file together. 0, or -1 (nothing
// replaced).
AVM_EXPORT int KRV_GlobalImage_ModCPSaveConfig(ModCPObject* obj, const char* lutPath1, const char* lutPath2,
                                               const char* configPath1, const char* configPath2);
AVM_EXPORT void KRV_GlobalImage_ModCPRelease(ModCPObject* obj);
// Widens the car body by extA (front), extB (rear), extC (left), extD
// (right) mm, moves the cameras with it, replaces the files as SaveConfig,
// then adds the values to the blind-area offsets of globalimage_base.txt.
// 0, or -1 (nothing replaced, offsets unchanged).
AVM_EXPORT int KRV_GlobalImage_ModConfigFileBlind(int32_t extA, int32_t extB, int32_t extC, int32_t extD,
                                                  const char* configPath1, const char* configPath2,
                                                  const char* lutPath1, const char* lutPath2);

// ---- Marker-angle measurement (AM) ----
// (definitions in am_exports.cpp)
typedef struct AMObject AMObject;

// Finds the two square markers (side a, gap b between their inner edges) in
// the BMP still image, within window (x0, y0, x1, y1; null: the image less
// 10 pixels), solves the camera (lens model 3, lens-table slot 1) and the
// base angle, and writes the 304-byte model file to modelPath; tag is stored
// in it. 1 on success, 0 when no marker pair was accepted or the image could
// not be read or the file not written.
AVM_EXPORT int KRV_GlobalImage_AMCalib(const char* bmpPath, const uint32_t* window, int32_t tag, int32_t a,
                                       int32_t b, const char* modelPath);
// A measurement handle from a model file, or null when the file is missing,
// not 304 bytes, of another kind, or names an unusable frame or window.
AVM_EXPORT AMObject* KRV_GlobalImage_AMInitOB(const char* modelPath);
// One frame: the 8-bit luma plane of the model's frame size with its row
// stride in bytes (`reserved` is not read). 0 when the angle was updated, 2
// when no marker pair could be followed this frame.
AVM_EXPORT int KRV_GlobalImage_AMInputVideo(AMObject* obj, const void* reserved, const uint8_t* luma,
                                            int32_t stride);
// 0 and the filtered angle (radians, from the calibration's base angle); -1
// while more than five frames in a row failed (before the first success too)
// or for a null handle.
AVM_EXPORT int KRV_GlobalImage_AMGetAngle(AMObject* obj, float* out);
// Frees the handle (null allowed); 0.
AVM_EXPORT int KRV_GlobalImage_AMReleaseOB(AMObject* obj);
