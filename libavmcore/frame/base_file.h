#pragma once
// globalimage_base.txt: 24 decimal integers, no header, no line end:
// "%d,...,%d;%d,%d,%d,%d" (20 fields, ';', 4 fields). Values are in file
// order f0..f23.
#include <cstddef>
#include <cstdint>

#include "frame/global_variables.h"

// Only this much of the file is read.
constexpr size_t kBaseFileReadLimit = 128;

// Parses fields from text[0..len) into *dst[i] in order and stops at the
// first field that does not parse (that field and the rest keep their
// values). Never reads past text + len. Returns the number of fields stored.
int BaseFile_Parse(const char* text, size_t len, int32_t* const dst[kBaseFileFieldCount]);

// Accepted range of each field (f0..f23). Every later size and blind-area
// formula works on these without overflow: the output sizes also bound the
// maps a set-up allocates. f9 (the layout code) takes any value.
// Largest bird's-eye output side (f3, f5) a set-up makes maps for.
constexpr int32_t kBirdsEyeMaxSide = 2048;
struct BaseFileFieldRange {
  int32_t lo, hi;
};
extern const BaseFileFieldRange kBaseFileFieldRanges[kBaseFileFieldCount];
// The first field outside its range, or -1 when all are in range.
int BaseFile_FirstBadField(const int32_t values[kBaseFileFieldCount]);

// Formats the 24 values; returns the text length, or -1 when it does not fit.
int BaseFile_Format(char* out, size_t size, const int32_t values[kBaseFileFieldCount]);

// Reads the first kBaseFileReadLimit - 1 bytes of the file at path into
// text (NUL-terminated, size >= kBaseFileReadLimit). Returns the byte count,
// or -1 when the file cannot be opened.
long BaseFile_ReadText(const char* path, char* text, size_t size);

// Reads the file of the data directory into values (fields the text lacks are
// 0). False when the file cannot be opened.
bool BaseFile_ReadValues(int32_t values[kBaseFileFieldCount]);

// Truncates and writes the file of the data directory with exactly the text of
// values, then flushes and syncs it. False when it cannot be opened.
bool BaseFile_WriteValues(const int32_t values[kBaseFileFieldCount]);

// The record fields that hold file field i (f0..f23).
int32_t* BaseFile_RecordField(GlobalVariables& g, int i);
