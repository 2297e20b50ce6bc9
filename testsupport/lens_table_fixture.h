#pragma once
// Lens tables for tests of lens model 3: an equidistant lens curve
// (height = heightPerRadian * theta) written as a lens-table file with
// "table.txt" into a data directory and loaded into the slots.
#include <cstdint>
#include <string>

struct EquidistantTable {
  float heightPerRadian = 5.0f;  // height units per radian of incidence angle
  float unitSize = 1.0f;
  uint32_t kind = 1;
  float sensorA = 4.0f;
  float sensorB = 3.0f;
  // Height entries reach this incidence angle (the file holds all but the
  // 3000 entries, 7.5 degrees, that the reader appends).
  float heightDegrees = 180.0f;
};

// Writes "table<id>.krv" (angle entries up to the height of pi) into dataDir. Returns false when it cannot.
bool LensTableFixture_Write(const std::string& dataDir, int32_t id, const EquidistantTable& table);

// Points the data directory at dataDir, writes "table.txt" naming table<id>
// (and table<id1> for slot 1 when id1 >= 0), forgets every loaded table and
// selects slot 0 so that the tables are loaded afresh.
void LensTableFixture_Install(const std::string& dataDir, int32_t id0, int32_t id1 = -1);
