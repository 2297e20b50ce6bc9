#pragma once
// Lens tables of lens model 3: the lens-table file, the selector file
// "table.txt" and the two process-wide slots with their selection rule.
//
// The two slots live inside the global configuration
// (GlobalVariables::lensTableSlot); the registry holds which one is in force.
// Nothing here takes a lock: work that may run on several threads at once
// (the calibration's solves and ground-grid maps) holds LensTable_Mutex
// (frame/lens_table_lock.h) from the selection to the end of its model-3
// work.
#include <cstdint>

constexpr uint32_t kLensTableMagic = 0x06060101;
// Entries the reader appends to every height table, continuing its last step.
constexpr int32_t kLensTableHeightExtension = 3000;

// One in-memory lens table. 96 bytes on LP64; the configuration embeds two.
struct LensTableSlot {
  int32_t id = -1;          // table number N of the loaded file; -1 when none
  char name[16] = {};       // "table%d" of the loaded table
  uint32_t reloadFlag = 1;  // set to 1 to make the next selection re-read "table.txt"
  uint32_t kind = 0;        // 1: native sensor aspect; else aspect from sensorA / sensorB
  float sensorA = 0.0f;
  float sensorB = 0.0f;
  float unitSize = 0.0f;
  float* heightTable = nullptr;  // owned (malloc), heightCount entries
  int32_t heightCount = 0;       // entries in the file + kLensTableHeightExtension
  float* angleTable = nullptr;   // owned (malloc), angleCount entries
  int32_t angleCount = 0;
  // Image-centre tracking; mirrors Config fields 14-20 (slot 0) or
  // AdvCameraConfig fields 2-8 (slot 1).
  int32_t trackCount = 0;  // tracking and fit mode
  int32_t trackWidth = 0;
  int32_t trackHeight = 0;
  float centreX = 0.0f;
  float centreY = 0.0f;
  float scaleX = 0.0f;  // 0: not yet derived
  float scaleY = 0.0f;
};

// Compact form: the angle table alone.
struct LensTableCompact {
  float unitSize;
  float* angleTable;  // malloc'ed by the reader, freed by the caller
  int32_t nAngle;
};

struct LensTableRegistry {
  LensTableSlot* current;    // slot in force; null means slot 0
  int32_t selectedSlot;      // -1 until a slot holding both tables is selected
  uint32_t slot1Unavailable;  // once set, slot 1 requests fall back to slot 0 for good
};

// The process-wide registry and its slot in force (never null).
LensTableRegistry& LensTable_Registry();
LensTableSlot* LensTable_Current();
LensTableSlot* LensTable_Slot(int index);  // index 0 or 1

// Loads the table named in "table.txt" (in the data directory, or at path
// when path is not null) into the current slot.
void LensTable_LoadFromTableTxt(const char* path);

// Selects slot 0 or 1 and loads it when needed; a negative slot forgets the
// selection (the current slot stays); 2 and above do nothing.
void LensTable_Select(int32_t slot);

// Reads a lens-table file into the slot (kind, floats, both tables; the height
// table extended by kLensTableHeightExtension entries). 1 loaded, 0 failed; on
// failure the slot is untouched. Tables already in the slot are freed when the
// new ones replace them.
int LensTable_LoadFile(LensTableSlot* slot, const char* path);

// Writes the slot as a lens-table file. 1 written, 0 failed.
int LensTable_SaveFile(const LensTableSlot* slot, const char* path);

// Reads only unitSize and the angle table. 1 loaded, 0 failed.
int LensTable_LoadAltLayout(LensTableCompact* out, const char* path);

// Frees both tables of the slot and marks it empty (id -1, no name).
void LensTable_FreeSlot(LensTableSlot* slot);
