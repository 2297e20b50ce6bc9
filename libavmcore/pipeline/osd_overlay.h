#pragma once
// On-screen overlay of recordings: date and time, speed and distance, and
// the names of the four cameras, drawn from icon files (24-bit BMP under
// "<data>/res/") into semi-planar frames before they are encoded. Icon
// pixels are kept as Y, U, V bytes; Y = 0 is transparent.
#include <cstdint>
#include <ctime>
#include <vector>

constexpr int32_t kGlyphCount = 19;
constexpr int32_t kBlankGlyph = 10;
// The longest composed text: the date and time with a three-digit number.
constexpr int32_t kOverlayMaxGlyphs = 23;

struct OSDIcon {
  int32_t index = 0;
  std::vector<uint8_t> yuv;  // width x height pixels of Y, U, V
};

struct OSDState {
  int32_t initialised = 0;
  int32_t glyphWidth = 0, glyphHeight = 0;
  OSDIcon glyphs[kGlyphCount];
  int32_t cameraIconsValid = 0;
  int32_t cameraWidth = 0, cameraHeight = 0;
  OSDIcon cameras[4];  // front, back, left, right
};

// A composed line of glyphs. Its pixel store holds kOverlayMaxGlyphs glyphs,
// whatever the text.
struct OverlayBuffer {
  int32_t valid = 0;
  int32_t width = 0, height = 0, glyphWidth = 0;
  std::vector<uint8_t> yuv;
};

int32_t OSD_GlyphIndex(char c);
// Loads the icons from "<dataDirectory>/res/". 0, or -1 when glyph 10 cannot
// be read (nothing initialised).
int32_t OSD_Init(OSDState* osd, const char* dataDirectory);
void OSD_FreeIcons(OSDState* osd);
// Sizes the buffer for kOverlayMaxGlyphs glyphs of the overlay's glyph size.
void OSD_AllocOverlay(const OSDState* osd, OverlayBuffer* buffer);
void OSD_FreeOverlay(OverlayBuffer* buffer);
// Composes glyph indices (at most kOverlayMaxGlyphs are kept).
void OSD_ComposeGlyphs(const OSDState* osd, OverlayBuffer* buffer, const int32_t* indices, int32_t count);
// Date and time of t (local time), layout A (19 glyphs) or B (21 glyphs).
void OSD_DrawDateTimeAt(const OSDState* osd, OverlayBuffer* buffer, int32_t layoutB, time_t t);
void OSD_DrawDateTime(const OSDState* osd, OverlayBuffer* buffer, int32_t layoutB);
// Speed text by the osdMode bits 1 and 3; width 0 when there is none.
void OSD_DrawSpeed(const OSDState* osd, OverlayBuffer* buffer, int32_t mode, int32_t speed, int32_t distance);
// Glyph columns [firstGlyph, firstGlyph + glyphs) of a buffer into an NV12
// frame at (x, y), clipped to the frame.
void OSD_BlitPlanar(uint8_t* frame, int32_t width, int32_t height, const OverlayBuffer* buffer, int32_t x, int32_t y,
                    int32_t firstGlyph, int32_t glyphs);
void OSD_BlitIcon(uint8_t* frame, int32_t width, int32_t height, const uint8_t* yuv, int32_t iconW, int32_t iconH,
                  int32_t x, int32_t y);
// The whole overlay by osdMode into an NV12 frame.
void OSD_DrawOverlay(uint8_t* frame, int32_t width, int32_t height, const OSDState* osd, const OverlayBuffer* date,
                     const OverlayBuffer* speed, int32_t mode, int32_t marginX, int32_t marginY);
