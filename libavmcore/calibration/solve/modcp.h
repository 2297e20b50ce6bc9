#pragma once
// Manual pose adjustment: a technician nudges each camera's position and
// rotation in small steps and then rewrites the camera files and the
// stitching tables from the corrected poses. Four cameras (one camera file)
// or six (a second file supplies the back camera and the two rear side
// cameras). Mode 0 steps move one camera alone; mode 1 ("linked") steps
// move a camera together with the corners of the two target blocks it sees
// and re-fit its two neighbours to the moved corners, so the seams stay
// closed.
#include <cstdint>

constexpr int32_t kModCPMaxCameras = 6;
constexpr int32_t kModCPBlocks = 6;

struct ModCPObject {
  int32_t cameraCount = 0;  // 4 or 6
  int32_t state = 0;        // 0 empty, 1 loaded, 2 linked geometry prepared, 3 principal points centred
  int32_t mode = -1;        // 0 single-camera steps, 1 linked steps
  int32_t width = 0, height = 0;  // camera image size
  uint32_t model = 0;
  uint32_t lensSlot[kModCPMaxCameras] = {};
  float K[kModCPMaxCameras][9] = {};
  float D[kModCPMaxCameras][8] = {};
  float resetR[kModCPMaxCameras][3] = {};
  float resetT[kModCPMaxCameras][3] = {};
  float loadedX[kModCPBlocks * 4] = {}, loadedY[kModCPBlocks * 4] = {};
  float cornerZ[kModCPBlocks * 4] = {};
  float imageX[kModCPMaxCameras][8] = {}, imageY[kModCPMaxCameras][8] = {};
  float cornerX[kModCPBlocks * 4] = {}, cornerY[kModCPBlocks * 4] = {};  // moved by linked steps
  float changeX[kModCPMaxCameras][kModCPBlocks * 4] = {}, changeY[kModCPMaxCameras][kModCPBlocks * 4] = {};
  float curR[kModCPMaxCameras][3] = {};
  float curT[kModCPMaxCameras][3] = {};
};

// Loads the camera file(s) (configPath2 null or empty: four cameras). 1, or
// 0 when a file cannot be read or its points do not hold the block corners.
int32_t ModCP_Init(ModCPObject* obj, const char* configPath1, const char* configPath2, int32_t mode);
// Mode 0 step of camera slot 0..count-1: stepMode 1..3 moves the position,
// 4..6 turns about the first, second or third axis by -step.
void ModCP_Adjust(ModCPObject* obj, int32_t camera, int32_t stepMode, float step);
// Mode 1 step (stepMode 1, 2 move, 6 turns about the vertical). The first
// call after set-up only re-fits every camera and takes the result as the
// reset poses.
void ModCP_AdjustLinked(ModCPObject* obj, int32_t camera, int32_t stepMode, float step);
// camera 0..count-1: back to its reset pose; -1 every camera; -2 centres
// every principal point and re-fits all cameras.
void ModCP_Reset(ModCPObject* obj, int32_t camera);
// Rotation vectors and positions of every slot, 3 floats each.
void ModCP_Output(const ModCPObject* obj, float* outRotations, float* outPositions);
// Re-fits slot camera to its 8 block corners.
void ModCP_RefitCamera(ModCPObject* obj, int32_t camera);
// Regenerates the tables from the current poses and replaces the byte LUT,
// camera file(s) and mix-area file. Every output is written to a temporary
// file first and renamed only when all were written: a failure leaves the
// old files as they were. 1 or 0.
int32_t ModCP_SaveConfig(ModCPObject* obj, const char* lutPath1, const char* lutPath2, const char* configPath1,
                         const char* configPath2);
// Widens the car body (blind area) by extA (front), extB (rear), extC
// (left), extD (right), moves the cameras with it, regenerates and replaces
// the files as ModCP_SaveConfig does, and only then adds the four values to
// the blind-area offsets of the global configuration. 1 or 0.
int32_t ModCP_ConfigFileBlind(int32_t extA, int32_t extB, int32_t extC, int32_t extD, const char* configPath1,
                              const char* configPath2, const char* lutPath1, const char* lutPath2);
