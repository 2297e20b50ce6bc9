#pragma once
// MAB and MAB6 run-table files: the stitched view as horizontal runs of
// output pixels (per camera, and per blend seam) plus a packed 12-bit weight
// map, for the CPU stitchers.
//
// MAB (little-endian): magic 0x00666801, W, H, four camera-table counts,
// four seam-table counts, the eight tables of 12-byte runs, then the weight
// map of trunc(3 W H / 2) bytes. MAB6: magic 0x00666901, W, H, twelve counts,
// the twelve tables, the weight map.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"

constexpr uint32_t kMABMagic = 0x00666801u;
constexpr uint32_t kMAB6Magic = 0x00666901u;

// Output pixels row, col .. col + length - 1.
struct CPUStitchRun {
  int32_t row;
  int32_t col;
  int32_t length;
};
static_assert(sizeof(CPUStitchRun) == 12, "a run record is three 32-bit words");

// The stitched maps of one set-up as the run builders read them. W x H is
// the size of the maps (all equal). bandSizes: top rows, bottom rows, left
// columns, right columns.
struct StitchMaps {
  int32_t camW, camH;
  int32_t bandSizes[4];
  const Matrix* X1;
  const Matrix* Y1;
  const Matrix* X2;
  const Matrix* Y2;
  const Matrix* W1;
  const Matrix* W2;
};

// Run lists sized by what the rows hold (a row may carry several runs of
// one table).
struct MABTables {
  std::vector<CPUStitchRun> camera[4];  // cameras 1..4
  std::vector<CPUStitchRun> seam[4];    // seams 0..3 (pairs 1-3, 1-4, 2-3, other)
};

// Bytes of the weight map and the first byte of row r.
size_t MAB_WeightMapBytes(int32_t W, int32_t H);
size_t MAB_WeightMapRowStart(int32_t W, int32_t r);
// Weight code (5 bits) and W2 code (7 bits) of values in 0..1 (clamped).
int32_t MAB_WeightCode(float weight);
int32_t MAB_W2Code(float w2);
// Stores the codes of column c of row r (pairs land when the odd column is
// reached: call columns in order).
void MAB_PackPixel(uint8_t* map, int32_t W, int32_t r, int32_t c, int32_t weightCode, int32_t w2Code,
                   int32_t* pendingWeight, int32_t* pendingW2);
// Camera 1..4 of a quad-frame source point.
int32_t MAB_CameraOf(float x, float y, int32_t camW, int32_t camH);

// Clears the tables and the whole map (MAB_WeightMapBytes), then classifies
// rows firstRow .. endRow - 1. Returns 0; -1 when the maps are missing or of
// unequal sizes.
int BuildMABTables(const StitchMaps& maps, MABTables* tables, uint8_t* map, int32_t firstRow, int32_t endRow);

// Writes the four-camera file. 0; 1 when the path cannot be created or a
// write, flush or sync fails (message printed); -1 for unusable maps.
int GenerateMABFileFromMaps(const StitchMaps& maps, const char* path);
// Writes the six-camera file from group A (front part) and group B (rear
// part); both sets of maps must have the same size. Runs a group's rows hold
// for a table the file does not have are dropped with a message. Same
// results as above.
int GenerateMAB6FileFromMaps(const StitchMaps& groupA, const StitchMaps& groupB, const char* path);

// A MAB file as read back: the eight tables and the weight map.
struct MABFileData {
  int32_t width = 0, height = 0;
  MABTables tables;
  std::vector<uint8_t> weightMap;
};
// Reads and checks a four-camera file: magic, sizes, counts against the file
// length, every run inside the W x H output. 1 read; 0 otherwise (message
// printed for a corrupt file; a missing file or other magic is silent).
int MABFile_Read(const char* path, MABFileData* out);

// A MAB6 file as read back: the twelve tables in file order.
struct MAB6FileData {
  int32_t width = 0, height = 0;
  std::vector<CPUStitchRun> tables[12];
  std::vector<uint8_t> weightMap;
};
int MAB6File_Read(const char* path, MAB6FileData* out);

// Creates path and writes the bytes, then fflush, fsync, fclose. 1 when all
// of it succeeded; 0 when the file cannot be created (errno kept, nothing
// printed) ; -1 when a write, flush, sync or close failed.
int WriteFileSynced(const char* path, const void* data, size_t size);
