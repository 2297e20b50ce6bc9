#include "testsupport/lens_table_fixture.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "frame/lens_table.h"
#include "frame/data_directory.h"

bool LensTableFixture_Write(const std::string& dataDir, int32_t id, const EquidistantTable& t) {
  const int nHeight = static_cast<int>(t.heightDegrees * 400.0f) - kLensTableHeightExtension;
  std::vector<float> height(nHeight);
  for (int k = 0; k < nHeight; ++k)
    height[k] = static_cast<float>(t.heightPerRadian * (k / 400.0) * M_PI / 180.0);
  const int nAngle = static_cast<int>(std::ceil(t.heightPerRadian * M_PI * 1000.0)) + 1;
  std::vector<float> angle(nAngle);
  for (int i = 0; i < nAngle; ++i) angle[i] = static_cast<float>((i / 1000.0) / t.heightPerRadian);
  LensTableSlot slot;
  slot.kind = t.kind;
  slot.sensorA = t.sensorA;
  slot.sensorB = t.sensorB;
  slot.unitSize = t.unitSize;
  slot.heightTable = height.data();
  slot.heightCount = nHeight;
  slot.angleTable = angle.data();
  slot.angleCount = nAngle;
  const std::string path = dataDir + "/table" + std::to_string(id) + ".krv";
  return LensTable_SaveFile(&slot, path.c_str()) == 1;
}

void LensTableFixture_Install(const std::string& dataDir, int32_t id0, int32_t id1) {
  SetDataDirectory(dataDir.c_str());
  const std::string selector = dataDir + "/table.txt";
  if (FILE* f = fopen(selector.c_str(), "w")) {
    if (id1 >= 0)
      fprintf(f, "table%d,table%d\n", id0, id1);
    else
      fprintf(f, "table%d\n", id0);
    fclose(f);
  }
  LensTableRegistry& reg = LensTable_Registry();
  for (int s = 0; s < 2; ++s) {
    LensTableSlot* slot = LensTable_Slot(s);
    LensTable_FreeSlot(slot);
    slot->reloadFlag = 1;
    slot->trackCount = 0;
    slot->trackWidth = slot->trackHeight = 0;
    slot->centreX = slot->centreY = slot->scaleX = slot->scaleY = 0.0f;
  }
  reg.current = LensTable_Slot(0);
  reg.selectedSlot = -1;
  reg.slot1Unavailable = 0;
  LensTable_Select(0);
}
