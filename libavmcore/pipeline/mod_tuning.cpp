#include <cstdio>

#include "pipeline/mod_core.h"

MODTuning g_modTuning = {31, 3, 16, 64, 4, 0.5f, 10, 1, 0};

const char* const kModTuningPath = "/home/krv/1_morvelin/mod_temp.txt";

void MODTuning_Reset() { g_modTuning = MODTuning{31, 3, 16, 64, 4, 0.5f, 10, 1, 0}; }

int MODTuning_Load(const char* path, int32_t* objectValue) {
  if (path == nullptr) return 0;
  FILE* f = fopen(path, "r");
  if (f == nullptr) return 0;
  char line[128];
  if (fgets(line, sizeof(line), f) != nullptr) {
    int a, b, c, d, e, g;
    float fl;
    // All seven or none: a half-read line would leave a mask without its top bit.
    if (sscanf(line, "%d,%d,%d,%d,%f,%d,%d", &a, &b, &c, &d, &fl, &e, &g) == 7) {
      g_modTuning.historyMask = a;
      g_modTuning.hitThreshold = b;
      g_modTuning.reservedA = c;
      g_modTuning.reservedB = d;
      g_modTuning.reservedC = fl;
      g_modTuning.reservedD = e;
      g_modTuning.reservedE = g;
      g_modTuning.historyTopBit = static_cast<int32_t>((static_cast<int64_t>(a) + 1) / 2);
    }
    int v;
    if (fgets(line, sizeof(line), f) != nullptr && sscanf(line, "%d", &v) == 1 && objectValue != nullptr)
      *objectValue = v;
    if (fgets(line, sizeof(line), f) != nullptr && sscanf(line, "%d", &v) == 1) g_modTuning.debugFlags = v;
  }
  fclose(f);
  return 1;
}
