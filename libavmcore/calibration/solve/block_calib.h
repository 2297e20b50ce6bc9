#pragma once
// Block-calibration objects (board layouts 29 and 52). The global
// configuration owns one of each (created by the first calibration run,
// deleted by GlobalVariables_Release) and reads their measured blind-area
// terms.
//
// Corners are stored as (row, column) pairs in camera pixels. Block b of a
// block set belongs to camera position b / 2.
#include <cstdint>

// Fields every block fit reads.
struct BlockHeader {
  int32_t sideGate = 0;  // 1: the position gate of the rear side blocks (six blocks)
  int32_t halfWidth = 0, halfHeight = 0;  // one camera image
  float quadTol[4] = {5.0f, 1000.0f, 10.0f, 1000.0f};
  float squareSize = 0.0f;  // block side, world units
  int32_t cameraModel = 0;
};

// Camera-pair record: block B as seen from block A through one camera.
struct BlockPair {
  float vec[3];      // Rrel tB - tA
  float rot[9];      // Rrel = Rodrigues(-rA) Rodrigues(rB)
  float yaw;         // first angle of Rrel
  float corners[12]; // B's four corners in A's frame
  float length;      // |vec|
};
static_assert(sizeof(BlockPair) == 26 * sizeof(float), "26 floats");

// The per-block arrays of one four-camera block set.
struct BlockSet {
  float points[8][4][2] = {};
  uint32_t counts[4] = {0, 0, 0, 0};  // 0, or 8 once both blocks of the camera passed
  float K[8][9] = {};
  float D[8][8] = {};
  float R[8][3] = {};
  float T[8][3] = {};  // T[2] is the block's depth
  BlockPair pair[4] = {};
};

struct BlockCalib4 {
  int32_t state = 0;  // 1 once a whole calibration succeeded
  int32_t mode = 0;   // 0 all cameras; 1 without the second; 2 without the first
  int32_t cameraValue[4] = {0, 0, 0, 0};  // lens-table slot of each camera's fits
  BlockHeader header;
  int32_t alignMethod = 0;
  BlockSet blocks;
  float globalX[16] = {}, globalY[16] = {}, globalZ[16] = {};
  float lengthTerm = 0.0f;  // measured vehicle length between the blocks, mm
  float widthTerm = 0.0f;   // measured vehicle width, mm
};

struct BlockCalib6 {
  int32_t state = 0;
  int32_t mode = 0;  // 0 all six cameras; 1 without the back camera
  int32_t cameraValue[6] = {0, 0, 0, 0, 0, 0};
  BlockHeader header;
  BlockSet frontSet;  // first frame: cameras 0 (slots 0-1), 2 (4-5), 3 (6-7); the back camera (2-3) after a run
  BlockSet rearSet;   // back camera (2-3), camera 4 (4-5), camera 5 (6-7)
  float globalX[24] = {}, globalY[24] = {}, globalZ[24] = {};
  float lengthTerm = 0.0f;
  float widthTerm = 0.0f;
};

// The objects the global configuration holds, created on first use.
BlockCalib4* BlockCalib4_Instance();
BlockCalib6* BlockCalib6_Instance();
