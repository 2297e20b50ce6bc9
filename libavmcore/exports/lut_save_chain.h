#pragma once
// The save chain the GetLUTOBResult exports share.
#include <cstdint>

struct LUTOB;

// 0, or the kLutSave* code of the first step that failed.
int32_t GlobalImage_SaveLUTResult(LUTOB* lut, const char* path1, const char* path2, uint32_t mask);
