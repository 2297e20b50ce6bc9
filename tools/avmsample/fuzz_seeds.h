#pragma once
#include <string>

// Writes the seed inputs of the fuzz targets (fuzz/*_fuzz.cpp) into
// dir/<target>/, each made by the library's own writers and kept small.
bool WriteFuzzSeeds(const std::string& dir);
