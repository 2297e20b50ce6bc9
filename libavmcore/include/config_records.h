#pragma once
// The three configuration records that the display application sets and
// reads through KRV_GlobalImage_Set/Get*Config. They travel byte for byte, so
// their layout is part of the library's interface. Field numbers in the
// comments are the 0-based positions the rest of the library refers to.
#include <stdint.h>

// 84 bytes.
typedef struct Config {
  int32_t zoneDistance[3];  // 0-2: trace-line zone distances, mm (500, 1400, 3000)
  int32_t lateralMargin;    // 3: lines beyond the car sides, mm
  int32_t staticStyle;      // 4: static trace-line style
  int32_t dynamicStyle;     // 5: dynamic trace-line style bits
  float seamAngle[4];       // 6-9: seam angles, degrees, front pair then rear pair
  float seamFraction[4];    // 10-13: seam fractions
  // 14-20: image-centre tracking settings of lens-table slot 0.
  int32_t trackCount;   // 14
  int32_t trackWidth;   // 15
  int32_t trackHeight;  // 16
  float centreX;        // 17
  float centreY;        // 18
  float scaleX;         // 19
  float scaleY;         // 20
} Config;

// 40 bytes.
typedef struct ExtraConfig {
  int32_t frontLineStart;      // 0: start offset of the front trace lines
  int32_t rearLineStart;       // 1: start offset of the rear trace lines
  int32_t frontBlendWidth;     // 2: >= 1
  int32_t rearBlendWidth;      // 3: >= 1
  int32_t layoutMode;          // 4: trace-line layout mode
  int32_t nearMark;            // 5: near mark distance, >= 1
  int32_t derivedSizePercent;  // 6: 1-99, percentage of the derived car offset
  int32_t traceOffset;         // 7: -999 to 2999
  int32_t spare8;              // 8
  int32_t spare9;              // 9
} ExtraConfig;

// 36 bytes.
typedef struct AdvCameraConfig {
  int32_t value0;       // 0
  uint32_t cameraBits;  // 1: bits 0-3 -> cameraEnabled[0..3], bits 4/5 -> cameraBit4/5
  // 2-8: image-centre tracking settings of lens-table slot 1.
  int32_t trackCount;   // 2
  int32_t trackWidth;   // 3
  int32_t trackHeight;  // 4
  float centreX;        // 5
  float centreY;        // 6
  float scaleX;         // 7
  float scaleY;         // 8
} AdvCameraConfig;

#ifdef __cplusplus
static_assert(sizeof(Config) == 84, "Config is 84 bytes");
static_assert(sizeof(ExtraConfig) == 40, "ExtraConfig is 40 bytes");
static_assert(sizeof(AdvCameraConfig) == 36, "AdvCameraConfig is 36 bytes");
#endif
