// Edits of globalimage_base.txt requested by the display application.
#include <cstdio>
#include <initializer_list>

#include "frame/block_calib_services.h"
#include "frame/checked_int.h"
#include "frame/base_file.h"
#include "frame/global_variables.h"
#include "frame/neighbour_services.h"
#include "frame/log.h"

void ModFileKeyParam(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
  AvmLog("ModFileKeyParam %d %d %d %d %d \n", a, b, c, d, e);
  int32_t f[kBaseFileFieldCount];
  if (!BaseFile_ReadValues(f)) {
    AvmLog("open globalimage_base fail\n");
    return;
  }
  const int32_t before[kBaseFileFieldCount] = {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]};
  if (a != 0) f[0] = a;
  if (b != 0 && c != 0 && d != 0 && e != 0) {
    f[3] = d & ~1;
    f[5] = e;
    f[7] = b;
    f[8] = c;
  }
  // A value the next read would refuse is not written.
  for (int i : {0, 3, 5, 7, 8}) {
    if (f[i] != before[i] && (f[i] < kBaseFileFieldRanges[i].lo || f[i] > kBaseFileFieldRanges[i].hi)) {
      AvmLog("ModFileKeyParam: f%d = %d outside %d .. %d, file not changed\n", i, f[i], kBaseFileFieldRanges[i].lo,
             kBaseFileFieldRanges[i].hi);
      return;
    }
  }
  if (!BaseFile_WriteValues(f)) AvmLog("open globalimage_base fail2\n");
}

namespace {

template <typename Block>
void BlockBlindArea(const Block* block, void (*terms)(const Block*, float*, float*),
                    const int32_t f[kBaseFileFieldCount], int32_t* w, int32_t* l) {
  if (block == nullptr) {
    *w = 0;
    *l = 0;
    return;
  }
  float lengthTerm = 0.0f, widthTerm = 0.0f;
  terms(block, &lengthTerm, &widthTerm);
  *w = SaturateToInt32(static_cast<int64_t>(TruncToInt32(widthTerm)) + f[22] + f[23]);
  *l = SaturateToInt32(static_cast<int64_t>(TruncToInt32(lengthTerm)) + f[20] + f[21]);
}

}  // namespace

void GlobalVariables_ModChessParam(int32_t* params, int32_t* offsets, int32_t* outWidth, int32_t* outLength) {
  GlobalVariables& g = gv();
  int32_t f[kBaseFileFieldCount];
  if (!BaseFile_ReadValues(f)) {
    AvmLog("open globalimage_base fail\n");
    return;
  }
  bool changed = false;
  if (params != nullptr) {
    if (params[0] != 0) {
      if (f[9] != params[0] || g.f9 != params[0]) changed = true;
      f[9] = g.f9 = params[0];
    }
    for (int i = 1; i <= 3; ++i) {
      if (params[i] > 0) {
        f[16 + i] = *BaseFile_RecordField(g, 16 + i) = params[i];  // f17-f19
        changed = true;
      }
    }
    for (int i = 4; i <= 7; ++i) {
      if (params[i] >= 0) {
        f[9 + i] = *BaseFile_RecordField(g, 9 + i) = params[i];  // f13-f16
        changed = true;
      }
    }
  } else {
    g.f9 = f[9];
    for (int i = 13; i <= 19; ++i) *BaseFile_RecordField(g, i) = f[i];
  }

  if (offsets != nullptr) {
    for (int i = 0; i < 4; ++i) {
      if (offsets[i] >= -9999 && offsets[i] != -1000) {
        f[20 + i] = g.f20_23[i] = offsets[i];
        changed = true;
      }
    }
    for (int i = 0; i < 4; ++i) offsets[i] = g.f20_23[i];
  } else {
    for (int i = 0; i < 4; ++i) g.f20_23[i] = f[20 + i];
  }

  // Blind-area width and length by the file's layout code.
  int32_t width = 0;
  int32_t length = 0;
  const int32_t code = f[9];
  if (IsLayoutCode_1_2_24(code)) {
    width = length = 0;
  } else if (code == 29) {
    BlockBlindArea(g.blockCalib4, BlockCalib4_BlindTerms, f, &width, &length);
  } else if (code == 52) {
    BlockBlindArea(g.blockCalib6, BlockCalib6_BlindTerms, f, &width, &length);
  } else {
    // File values: summed in 64 bits.
    width = SaturateToInt32(static_cast<int64_t>(f[17]) - f[15] - f[16] + f[22] + f[23]);
    length = SaturateToInt32(static_cast<int64_t>(f[18]) - f[13] - f[14] + f[20] + f[21]);
    if (code == 51) LutConfigBase_GetSize(&length, (g.place5 == 0 && g.place6 == 0) ? &width : nullptr);
  }
  if (outWidth != nullptr && outLength != nullptr) {
    *outWidth = width;
    *outLength = length;
  }

  if (!changed) {
    GlobalVariables_ApplyModelPresets();
    return;
  }
  if (width != 0 && length != 0) GlobalVariables_RecalcDerivedSizes(width, length);
  GlobalVariables_ApplyModelPresets();
  if (!BaseFile_WriteValues(f)) AvmLog("open globalimage_base fail2\n");
}
