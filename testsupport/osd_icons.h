#pragma once
// Overlay icon files for tests and sample data: glyphs 0..18 and the four
// camera names under "<dir>/res/", each a solid block of its own colour with
// a transparent (black) first column, so that a pixel of a drawn overlay
// tells which icon put it there.
#include <cstdint>
#include <string>

// R, G, B of glyph i (0..18) and of camera icon 19 + k (front, back, left, right).
void OsdIcon_Colour(int32_t icon, uint8_t rgb[3]);
// Writes the icons; skipCamera (0..3, or -1) leaves one camera icon out.
bool OsdIcons_Write(const std::string& dir, int32_t glyphW, int32_t glyphH, int32_t cameraW, int32_t cameraH,
                    int32_t skipCamera = -1);
