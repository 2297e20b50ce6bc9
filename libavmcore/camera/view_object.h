#pragma once
#include <cstdint>
#include <memory>

#include "camera/camera_model.h"
#include "camera/trace_model.h"
#include "camera/lut_config_file.h"
#include "frame/matrix_types.h"

// The single-camera view object: the calibration of the four cameras of the
// quad frame and, per camera, the settings of its undistorted, cut and zoom
// views. Cameras are numbered 1 to 4; camera k's picture is quadrant k of
// the quad frame (frameWidth / 2 x frameHeight / 2 pixels).

// One camera's model and parameters as a view block keeps them.
struct ViewCameraRecord {
  uint32_t model;
  int32_t lensSlot;
  float K[9];
  float D[8];
  float R[3];
  float T[3];
};

// Everything the cut types 5, 7 and 11 to 18 project through: a four-camera
// context with prepared single-point projections.
struct ViewParamRecord {
  int32_t frameWidth, frameHeight;
  int32_t headerWord2, headerWord3;
  uint32_t model[4];
  int32_t lensSlot[4];
  CameraParamSet params;
  CameraParamHeaders headers;
  ProjectPointFn fn[4];
  ProjectionContext ctx[4];
  float quadOffsetX[4], quadOffsetY[4];
};

// Virtual view of a cut block for cut types 11 to 18.
struct VirtualViewState {
  const ViewParamRecord* record;
  uint32_t viewCode;
  float planeN[3];
  float planeD;
  float eye[3];
  int32_t cameraIndex;  // 2 = camera 3, 3 = camera 4
  int32_t width, height;
  int32_t originX, originY;
  int32_t scaleX, scaleY;
  float shiftX, shiftY;
  float originXf, originYf;
  float pitch0, yaw0;
  float pitchSlope, yawSlope;
  float fx, fy;
  float angleA, angleB;
  float rotation[9];
};

struct UndistViewBlock {
  uint32_t camera;
  int32_t width, height;  // default 600 x 400
  uint32_t flip;
  float xShift, yShift;
  float heightWidthRatio;
  int32_t viewType;  // 1 to 4
  float fovDeg;
  float invAngleDivisor;
  float rollRad;
  float sideWarp, sideWarpLinear;
  float yOffset;
  float upperWarp, lowerWarp;
  float cyLift;
  ViewCameraRecord cam;
  // View types 1, 3, 4.
  float rotation[9];
  float translation[3];
  float focal, cx, cy, cosRoll, sinNegRoll;
  // View type 2 (curved panorama).
  float sign, halfWidth, halfHeight, negT0, negT1, focal2;
  int32_t firstRow;
  float scratchRotation[9];
  float tCopy[3];
  float scratchVector[3];
  Matrix mapX, mapY;  // width x height, owned
  Matrix rowMap;      // (frameWidth / 4) x (frameHeight / 4), owned
  ProjectPointFn pointFunction;
  ProjectionContext pointContext;
};

struct CutViewBlock {
  uint32_t camera;
  int32_t width, height;  // default 600 x 400
  float xShift, yShift, focalRef, aspect;
  float rx, ry, rz;  // radians
  float zOffset, extra1, extra2;
  int32_t cutType;
  ViewCameraRecord cam;
  // Cut types 1 to 7.
  int32_t tableProjection;
  float farLimit, sign, colCentre, rowCentre, x0, y0, scale;
  float rotationInv[9];
  float rotationM[9];
  float origin[3];
  float originRotated[3];
  float depthPlane;
  // Cut types 11 to 18.
  VirtualViewState virt;
};

struct ZoomViewBlock {
  uint32_t camera;
  int32_t width, height;
  uint32_t flip;
  float left, top, right, bottom;  // crop fractions of the camera picture
  int32_t srcWidth, srcHeight;
  float angle;
  float invSpanX, invSpanY, leftN, topN;
  float invSrcW, invSrcH, srcCx, srcCy;
  float cosA, sinA;
  uint32_t model;
  int32_t lensSlot;
  ProjectPointFn pointFunction;
  ProjectionContext pointContext;
};

struct UndistOB {
  int32_t frameWidth, frameHeight;
  int32_t carBoxWidth, carBoxLength;
  int32_t limits[2];  // default 500, 3000
  uint32_t model[4];
  int32_t lensSlot[4];
  CameraParamSet params;
  UndistViewBlock undist[4];
  CutViewBlock cut[4];
  ZoomViewBlock zoom[4];
  TraceModel traceModel;  // trace lines of the views
  ViewParamRecord viewParam;
};

// Block index of a camera: 2 -> 1, 3 -> 2, 4 -> 3, anything else 0.
int32_t View_CameraSlot(int32_t camera);

// A zeroed object with every block's camera number set (heap; free with
// UndistOB_Destroy).
UndistOB* UndistOB_Create();
// Undist4Camera_Release, then delete.
void UndistOB_Destroy(UndistOB* view);
// Owner of an object inside the library (release() hands it to an export's
// caller).
struct UndistOBDeleter {
  void operator()(UndistOB* view) const { UndistOB_Destroy(view); }
};
using UndistOBPtr = std::unique_ptr<UndistOB, UndistOBDeleter>;

// Fills a fresh object from the lut_config file at path (locking the
// calibration first). 1 done, 0 when the file cannot be read.
int Undist4Camera_Init(UndistOB* view, const char* path);
// Frees what the object owns (the type-2 maps and the trace-line model).
void Undist4Camera_Release(UndistOB* view);

// The set-up values of an undistorted view, in the order the set-up logs them.
struct UndistViewParam {
  int32_t camera;
  int32_t width;
  int32_t height;
  int32_t viewType;
  int32_t flip;
  float fovDeg;
  float angleDivisor;
  float xShift;
  float yShift;
  float heightWidthRatio;
  float rollDeg;
  float sideWarp;
  float upperWarp;
  float lowerWarp;
  float sideWarpLinear;
  float cyLift;
};

// The set-up values of a cut view.
struct CutViewParam {
  int32_t camera;
  int32_t width;
  int32_t height;
  int32_t cutType;
  float focalRef;
  float xShift;
  float yShift;
  float aspect;
  float rxDeg;
  float ryDeg;
  float rzDeg;
  float zOffset;
  float extra1;
  float extra2;
};

// Sets a view up from its record; the SetParam forms are the same over
// loose values.
void UndistView_Configure(UndistOB* view, const UndistViewParam& param);
void CutView_Configure(UndistOB* view, const CutViewParam& param);

void UndistView_SetParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                         int32_t viewType, int32_t flip, float fovDeg, float angleDivisor,
                         float xShift, float yShift, float heightWidthRatio, float rollDeg,
                         float sideWarp, float upperWarp, float lowerWarp, float sideWarpLinear,
                         float cyLift);
void CutView_SetParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                      int32_t cutType, float focalRef, float xShift, float yShift, float aspect,
                      float rxDeg, float ryDeg, float rzDeg, float zOffset, float extra1,
                      float extra2);
void UndistView_SetZoominParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                               int32_t flip, float angle, float left, float top, float right,
                               float bottom);

// Floats of an (x, y) grid at an 8-pixel step over the camera's view.
int32_t UndistView_GridFloatCount(const UndistOB* view, int32_t camera);
int32_t CutView_GridFloatCount(const UndistOB* view, int32_t camera);

// The cut block of a camera: camera 3 uses block 2, every other camera 3.
CutViewBlock* CutBlockOf(UndistOB* view, int32_t camera);

// Rotation of cut types 5 and 7: Mat4 rotations about z by rz, y by ry, x by
// rx; rotationInv its inverse.
void CutView_SetRotation(CutViewBlock* block);
void CutView_SetGeometry(CutViewBlock* block);
