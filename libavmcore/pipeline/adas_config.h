#pragma once
// Driver-assistance configuration: frame size, vehicle values, enable mask
// and, per function, a few words and the look-up tables that map a ground
// grid around the vehicle to quad-frame pixels. Stored as adas_base.krv plus
// one file per function in the data directory.
//
// Table entries are packed positions: column in bits 0-15, row in bits 16-31.
#include <cstdint>

#include "frame/matrix_types.h"

// Word numbers of ADASConfig::C.
enum AdasWord : int {
  kAdasCameraCoords = 0,  // convert tables to per-camera coordinates once
  kAdasLoaded = 1,
  kAdasFrameWidth = 2,   // quad frame: 2 x camera width
  kAdasFrameHeight = 3,  // 2 x camera height
  kAdasCarWidth = 4,     // mm
  kAdasCarLength = 5,    // mm
  kAdasFrontOverhang = 6,
  kAdasWheelBase = 7,
  kAdasEnableMask = 8,
  kAdasCameraMask = 9,
  kAdasLdwsPresent = 10,  // words 11-18
  kAdasLdwsCols = 15,
  kAdasLdwsRows = 16,
  kAdasBsdsPresent = 24,  // words 25-29, 42-44
  kAdasBsdsCols = 26,
  kAdasBsdsRows = 27,
  kAdasBsdsCols3 = 29,
  kAdasBsdsCrossCols = 42,
  kAdasBsdsCrossRows = 43,
  kAdasBsdsRearExtent = 44,
  kAdasApaPresent = 54,  // words 55-62
  kAdasApaCols = 60,
  kAdasApaRows = 61,
  kAdasModsPresent = 68,  // words 69-71, 80-81
  kAdasModsCols = 70,
  kAdasModsRows = 71,
  kAdasModsSideCols = 80,
  kAdasModsSideRows = 81,
  kAdasDirtyPresent = 90,
  kAdasRctaPresent = 91,  // words 92-95
  kAdasRctaCols = 93,
  kAdasRctaRows = 94,
  kAdasLvsaPresent = 104,  // words 105-108
  kAdasLvsaCols = 106,
  kAdasLvsaRows = 107,
  kAdasLvsaFrontY = 108,
  kAdasWordCount = 109
};

// Bits of the enable mask (and of the save and generate masks).
constexpr int32_t kAdasLDWS = 1;
constexpr int32_t kAdasBSDS = 2;
constexpr int32_t kAdasMODS = 4;
constexpr int32_t kAdasAPA = 8;
constexpr int32_t kAdasRCTA = 16;
constexpr int32_t kAdasLVSA = 32;
constexpr int32_t kAdasDirty = 0x100;

// Largest table side a function file may give (positions are packed in
// 16 bits).
constexpr int64_t kAdasMaxTableSide = 65535;

constexpr uint32_t kAdasBaseMagic = 0x06070101u;
constexpr uint32_t kAdasLdwsMagic = 0x06070202u;
constexpr uint32_t kAdasBsdsMagic = 0x06070403u;
constexpr uint32_t kAdasApaMagic = 0x06070802u;
constexpr uint32_t kAdasModsMagic = 0x06070701u;
constexpr uint32_t kAdasRctaMagic = 0x06070901u;
constexpr uint32_t kAdasLvsaMagic = 0x06070601u;

// Start with ADASConfig cfg{} (all zero). Tables are owned (new[]); free
// with ADASConfig_Free.
struct ADASConfig {
  int32_t C[kAdasWordCount];
  ImageI32 ldws;     // L: C15 x C16
  ImageI32 bsds[5];  // B1, B2: C26 x C27; B3: C29 x C27; B4, B5: C42 x C43
  ImageI32 apa;      // A: C60 x C61
  ImageI32 mods[4];  // M1, M2 (front, back): C70 x C71; M3, M4 (left, right): C80 x C81
  ImageI32 rcta[2];  // R1, R2: C93 x C94
  ImageI32 lvsa;     // V: C106 x C107
};

// Largest quad frame side adas_base.krv may name.
constexpr int32_t kAdasMaxFrameSide = 16384;
// 1 when adas_base.krv opened with its magic and a frame of at most
// kAdasMaxFrameSide a side, else 0. A function file that is
// missing, has another magic, or is shorter than its words and tables leaves
// that function absent (nothing of it kept). A short base file keeps the
// defaults (enable mask 255, camera mask 15) for the words it lacks.
int ADASConfig_Load(ADASConfig* config, const char* dataDirectory);

// Writes adas_base.krv (with saveMask as its enable mask) and every function
// file whose present word is set and whose bit is in saveMask. Nothing is
// written unless the configuration is loaded (C1). Returns 1 when every file
// it set out to write was created, written, flushed and synced; 0 (with a
// message) when any failed; the files after a failed one are still tried.
int ADASConfig_Save(const ADASConfig* config, const char* dataDirectory, int32_t saveMask);

// Frees all tables and clears the loaded and present words.
void ADASConfig_Free(ADASConfig* config);

// Enable-mask word of adas_base.krv: 0 when it cannot be opened, 255 when the
// word is missing.
int32_t ADASConfig_ReadBaseValue(const char* dataDirectory);

// Quad-frame to per-camera coordinates, once (when C0 and C1 are set).
void ADASConfig_ToCameraCoords(ADASConfig* config);

// The cameras the table builders project through.
struct AdasCameraRig {
  int32_t camW, camH;
  int32_t carWidth, carLength, frontOverhang, wheelBase;  // mm
  int32_t groupNumber;       // 2 moves the BSDS cross tables one camera height down
  int32_t camera2Corners;    // non-zero: camera 2 sees its target (shorter BSDS search)
  int32_t model[4];
  int32_t slot[4];
  const Matrix* K[4];
  const Matrix* D[4];
  const Matrix* R[4];
  const Matrix* T[4];
};

// Fills the configuration from the rig and builds the tables of the
// functions in mask (LDWS, BSDS, MODS, RCTA, LVSA). Tables of earlier builds
// are freed first.
void ADAS_GenerateTablesFromRig(ADASConfig* config, const AdasCameraRig& rig, int32_t mask);

struct LUTOB;
// The same with the cameras, vehicle values and camera-2 corner count of a
// LUT object.
void ADAS_GenerateTables(ADASConfig* config, LUTOB* lut, int32_t mask);
