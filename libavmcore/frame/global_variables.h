#pragma once
// The process-wide global configuration.
//
// Layered: static defaults (the member initialisers below), the run-time
// defaults (once per process), the 24 integers of globalimage_base.txt with
// the presets of the board-layout code, and the records and values the
// display application sets. Other modules read the fields directly and by
// name; no code addresses it by word number.
//
// The record is laid out word for word as other modules and stored tables
// expect on LP64 (word k = byte offset 4k). The static_asserts at the end pin
// the words that are referred to elsewhere.
//
// No lock: the application sets the configuration from one thread before the
// video pipeline runs.
#include <cstddef>
#include <cstdint>

#include "frame/lens_table.h"
#include "config_records.h"

struct BlockCalib4;
struct BlockCalib6;

// Text of globalimage_base.txt: f0..f19 ',' separated, ';', f20..f23.
constexpr int kBaseFileFieldCount = 24;
constexpr const char* kBaseFileName = "globalimage_base.txt";
constexpr const char* kGlobalVariablesVersion = "V2.563";

struct GlobalVariables {
  int32_t loaded = 0;  // 1 after globalimage_base.txt was read

  // File fields, in record order (f1..f8, then f0, f9, f10..f19).
  int32_t f1 = 200;   // default targetDimA
  int32_t f2 = 100;   // default targetDimB
  int32_t f3 = 350;   // bird's-eye output width, px (even)
  int32_t f4 = 0;     // car image width, px (derived, multiple of 4)
  int32_t f5 = 600;   // bird's-eye output height, px
  int32_t f6 = 0;     // car image offset, px (derived, even); non-zero: sizes cached
  int32_t f7 = 900;   // width of the whole output picture, px
  int32_t f8 = 600;   // height of the whole output picture, px
  int32_t f0 = 2000;  // viewing range on each side of the car, mm
  int32_t f9 = 1;     // board-layout code as read from the file
  int32_t f10 = 8;    // board columns of preset 1
  int32_t f11 = 6;    // board rows of preset 1
  int32_t f12 = 35;   // corner count of preset 1
  int32_t f13 = 0;    // board margins (front, rear, left, right gaps)
  int32_t f14 = 0;
  int32_t f15 = 0;
  int32_t f16 = 0;
  int32_t f17 = 0;  // board spans (layout width, layout length)
  int32_t f18 = 0;
  int32_t f19 = 0;  // further board value (box value)

  // tableuser.krv, owned (malloc/free).
  float* userTable1 = nullptr;
  int32_t userTable1Count = 0;
  float* userTable2 = nullptr;  // already extended by the lens-table reader
  int32_t userTable2Count = 0;
  float userTableValue = 0.0f;

  int32_t pointsPerCamera = 43;
  int32_t maxPoints = 59;
  int32_t CalibLayoutCode = 1;  // board-layout code in force

  // Board preset of the layout code.
  int32_t targetDimA = 0;
  int32_t targetDimB = 0;
  int32_t boardKind34 = 0;
  int32_t boardCols34 = 0;
  int32_t boardRows34 = 0;
  int32_t cornerCount34 = 0;
  int32_t boardKind1 = 0;
  int32_t boardKind2 = 0;
  int32_t boardCols12 = 0;
  int32_t boardRows12 = 0;
  int32_t cornerCount1 = 0;
  int32_t cornerCount2 = 0;
  int32_t place0 = 0;  // f17
  int32_t place1 = 0;  // f18
  int32_t place2 = 0;  // f19
  int32_t place3 = 0;  // f13
  int32_t place4 = 0;  // f14
  int32_t place5 = 0;  // f15
  int32_t place6 = 0;  // f16
  float presetLimit[3] = {0.0f, 0.0f, 0.0f};  // largest accepted fit error: cam 1, cam 2, cams 3/4
  // Retry of a failed fit with the fallback corner counts; written by no
  // preset, file or export.
  int32_t fallbackEnable12 = 0;
  int32_t fallbackEnable34 = 0;
  int32_t f20_23[4] = {0, 0, 0, 0};  // file fields f20-f23: signed blind-area offsets

  int32_t cameraMask = 15;  // bit n: camera n+1 in use
  float lastCalibResult[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  int32_t JDSpecial = 0;    // AdvanceCtrl 4
  int32_t CutIfFill = 0;    // AdvanceCtrl 5
  int32_t HZCheckHigh = 1;  // AdvanceCtrl 6
  // Further calibration words.
  int32_t frontCameraXFixed = 0;
  float frontCameraX = 0.0f;  // mm
  int32_t groupNumber = 0;      // quad frame 0/1/2 of the six-camera build; layout variant flag
  int32_t cornerQuickMode = 0;  // quick mode of the marker-board finder
  // Lens-table slot (0/1) of each camera, from AdvCameraConfig::cameraBits.
  int32_t cameraEnabled[4] = {0, 0, 0, 0};
  int32_t cameraBit4 = 0;
  int32_t cameraBit5 = 0;
  float advAngle = 0.0f;  // AdvanceCtrl 7, radians
  int32_t advValue8 = 0;  // AdvanceCtrl 8
  // Layout-26 target words.
  int32_t layout26InvertFront = 1;
  int32_t layout26Cam2Variant = 0;
  int32_t layout26Cam1PartFinder = 0;
  int32_t advValue9 = 1;       // AdvanceCtrl 9
  int32_t advValue11 = 0;      // AdvanceCtrl 11
  float advValue12 = 7.0f;     // AdvanceCtrl 12
  float advValue13 = 90.0f;    // AdvanceCtrl 13
  int32_t advValue14 = 0;      // AdvanceCtrl 14
  int32_t advValue15 = 0;      // AdvanceCtrl 15

  LensTableSlot lensTableSlot[2];

  int32_t calibState = 0;
  int32_t SpaceIndex = 0;  // AdvanceCtrl 3
  BlockCalib4* blockCalib4 = nullptr;  // owned
  BlockCalib6* blockCalib6 = nullptr;  // owned
  ExtraConfig extraConfig = {};
  int32_t runtimeDefaultsDone = 0;
  Config config = {};
  AdvCameraConfig advCameraConfig = {};
};

// The one process-wide instance.
GlobalVariables& gv();

// Run-time defaults, applied once per process.
void GlobalVariables_InitRuntimeDefaults();
// Reads globalimage_base.txt unless already loaded (force 0). 1 when the
// values are in force, 0 when the file cannot be opened.
int GlobalVariables_Init(int force);
void GlobalVariables_Release();
// Car image width f4 and offset f6 for the given spans, only while f6 is 0.
// Returns f6.
int32_t GlobalVariables_CalcDerivedSizes(int32_t span1, int32_t span2);
// The same computation even when f6 is already set.
int32_t GlobalVariables_RecalcDerivedSizes(int32_t span1, int32_t span2);
void GlobalVariables_ApplyModelPresets();
void GlobalVariables_SetConfig(const Config* cfg);
void GlobalVariables_SetExtraConfig(ExtraConfig* cfg);
void GlobalVariables_SetAdvCameraConfig(const AdvCameraConfig* cfg);
// Rewrites globalimage_base.txt with a new range (a) and view size (b, c, d, e).
void ModFileKeyParam(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
// Board layout and blind-area offsets; rewrites the file when something changed.
void GlobalVariables_ModChessParam(int32_t* params, int32_t* offsets, int32_t* outWidth,
                                   int32_t* outLength);
// Loads tableuser.krv unless already loaded (force 0).
void LoadTableUser(int force);
bool IsLayoutCode_1_2_24(int32_t code);
bool IsLayoutCode_29_52(int32_t code);
bool GlobalVariables_IsRangeAbove7500();
// Re-apply the tracking settings of Config to slot 0 (returned), and of
// AdvCameraConfig to the camera flags and slot 1.
LensTableSlot* GlobalVariables_ApplyConfigTracking();
void GlobalVariables_ApplyAdvCameraConfig();

// Word positions relied on elsewhere (LP64).
static_assert(sizeof(void*) == 8, "the configuration layout is fixed for LP64");
static_assert(sizeof(LensTableSlot) == 96, "LensTableSlot layout");
static_assert(offsetof(LensTableSlot, heightTable) / 4 == 10, "slot word 10");
static_assert(offsetof(LensTableSlot, angleTable) / 4 == 14, "slot word 14");
static_assert(offsetof(LensTableSlot, trackCount) / 4 == 17, "slot word 17");
static_assert(offsetof(LensTableSlot, scaleY) / 4 == 23, "slot word 23");
static_assert(offsetof(GlobalVariables, f3) / 4 == 3, "word 3");
static_assert(offsetof(GlobalVariables, f7) / 4 == 7, "word 7");
static_assert(offsetof(GlobalVariables, f0) / 4 == 9, "word 9");
static_assert(offsetof(GlobalVariables, f18) / 4 == 19, "word 19");
static_assert(offsetof(GlobalVariables, userTable1) / 4 == 22, "word 22");
static_assert(offsetof(GlobalVariables, userTableValue) / 4 == 29, "word 29");
static_assert(offsetof(GlobalVariables, pointsPerCamera) / 4 == 30, "word 30");
static_assert(offsetof(GlobalVariables, maxPoints) / 4 == 31, "word 31");
static_assert(offsetof(GlobalVariables, CalibLayoutCode) / 4 == 32, "word 32");
static_assert(offsetof(GlobalVariables, targetDimA) / 4 == 33, "word 33");
static_assert(offsetof(GlobalVariables, targetDimB) / 4 == 34, "word 34");
static_assert(offsetof(GlobalVariables, cornerCount34) / 4 == 38, "word 38");
static_assert(offsetof(GlobalVariables, cornerCount2) / 4 == 44, "word 44");
static_assert(offsetof(GlobalVariables, place0) / 4 == 45, "word 45");
static_assert(offsetof(GlobalVariables, place6) / 4 == 51, "word 51");
static_assert(offsetof(GlobalVariables, presetLimit[2]) / 4 == 54, "word 54");
static_assert(offsetof(GlobalVariables, fallbackEnable12) / 4 == 55, "word 55");
static_assert(offsetof(GlobalVariables, fallbackEnable34) / 4 == 56, "word 56");
static_assert(offsetof(GlobalVariables, f20_23) / 4 == 57, "word 57");
static_assert(offsetof(GlobalVariables, cameraMask) / 4 == 61, "word 61");
static_assert(offsetof(GlobalVariables, lastCalibResult) / 4 == 62, "word 62");
static_assert(offsetof(GlobalVariables, JDSpecial) / 4 == 66, "word 66");
static_assert(offsetof(GlobalVariables, HZCheckHigh) / 4 == 68, "word 68");
static_assert(offsetof(GlobalVariables, frontCameraXFixed) / 4 == 69, "word 69");
static_assert(offsetof(GlobalVariables, frontCameraX) / 4 == 70, "word 70");
static_assert(offsetof(GlobalVariables, groupNumber) / 4 == 71, "word 71");
static_assert(offsetof(GlobalVariables, cornerQuickMode) / 4 == 72, "word 72");
static_assert(offsetof(GlobalVariables, cameraEnabled) / 4 == 73, "word 73");
static_assert(offsetof(GlobalVariables, cameraBit5) / 4 == 78, "word 78");
static_assert(offsetof(GlobalVariables, advAngle) / 4 == 79, "word 79");
static_assert(offsetof(GlobalVariables, advValue8) / 4 == 80, "word 80");
static_assert(offsetof(GlobalVariables, layout26InvertFront) / 4 == 81, "word 81");
static_assert(offsetof(GlobalVariables, layout26Cam1PartFinder) / 4 == 83, "word 83");
static_assert(offsetof(GlobalVariables, advValue11) / 4 == 85, "word 85");
static_assert(offsetof(GlobalVariables, advValue12) / 4 == 86, "word 86");
static_assert(offsetof(GlobalVariables, advValue13) / 4 == 87, "word 87");
static_assert(offsetof(GlobalVariables, advValue15) / 4 == 89, "word 89");
static_assert(offsetof(GlobalVariables, lensTableSlot) / 4 == 90, "word 90");
static_assert(offsetof(GlobalVariables, lensTableSlot[1]) / 4 == 114, "word 114");
static_assert(offsetof(GlobalVariables, calibState) / 4 == 138, "word 138");
static_assert(offsetof(GlobalVariables, SpaceIndex) / 4 == 139, "word 139");
static_assert(offsetof(GlobalVariables, blockCalib4) / 4 == 140, "word 140");
static_assert(offsetof(GlobalVariables, extraConfig) / 4 == 144, "word 144");
static_assert(offsetof(GlobalVariables, runtimeDefaultsDone) / 4 == 154, "word 154");
static_assert(offsetof(GlobalVariables, config) / 4 == 155, "word 155");
static_assert(offsetof(GlobalVariables, advCameraConfig) / 4 == 176, "word 176");
static_assert(sizeof(GlobalVariables) == 744, "GlobalVariables is 744 bytes");
