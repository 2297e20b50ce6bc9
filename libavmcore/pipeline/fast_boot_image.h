#pragma once
// Fast-boot view image: what paints a first surround view from one raw quad
// frame without the full pipeline. A LUT of packed source positions for the
// bird's-eye part of the screen and two pictures (the car picture and a
// picture under the camera view), all in two bytes a pixel (U or V, then Y:
// U on even and V on odd pixels, as in a UYVY frame).
//
// File (little-endian): magic 0x08080808, H, W, Wb, Hb, QW, QH, P, Q
// (float), CW, CH, then the LUT (Wb x H words), picture 1 (CW x CH x 2
// bytes) and picture 2 ((W - Wb) x (H - Hb) x 2 bytes).
#include <cstdint>
#include <vector>

struct LUTOB;

constexpr uint32_t kFastBootMagic = 0x08080808u;
// A LUT word that takes nothing from the frame.
constexpr uint32_t kFastBootNoSource = 0xFFFFFFFFu;
// Larger sides in a file are a corrupt file.
constexpr int32_t kFastBootMaxSide = 8192;

struct FastBootImage {
  int32_t W = 0, H = 0;    // output screen
  int32_t Wb = 0, Hb = 0;  // bird's-eye part; Hb: rows above picture 2
  int32_t QW = 0, QH = 0;  // quad frame
  int32_t P = 0;           // car picture's top row (even); it is centred across the bird's-eye part
  float Q = 0.0f;          // mm per output pixel of the bird's-eye part
  int32_t CW = 0, CH = 0;  // car picture
  std::vector<uint32_t> lut;    // Wb x H: source column << 16 | source row
  std::vector<uint8_t> picture1;  // CW x CH x 2
  std::vector<uint8_t> picture2;  // (W - Wb) x (H - Hb) x 2
};

// Fills the image from the configuration (whole screen W x H, bird's-eye
// width Wb), the LUT object's stitched maps and two BMP pictures (the first
// CW x CH, the second the size of the area under the camera view). 1 built;
// 0 when the maps are missing or a picture cannot be read or has another
// size (message printed).
int FastBoot_Build(FastBootImage* image, const LUTOB* lut, const char* bmpPath1, const char* bmpPath2);
// 1 written, flushed and synced; 0 otherwise.
int FastBoot_Save(const FastBootImage* image, const char* path);
// 1 read; 0 when the file cannot be opened, has another magic, impossible
// sizes or is not exactly as long as its header says (image untouched).
int FastBoot_Load(FastBootImage* image, const char* path);
void FastBoot_Free(FastBootImage* image);
// Paints the W x H UYVY screen `out` from a raw UYVY quad frame (QW x QH):
// grey, the bird's-eye part through the LUT (words outside the frame give
// nothing), the rear camera mirrored and scaled to 80 % in the rest of the
// screen, then picture 1 at the car and picture 2 under the camera view.
// 1; 0 when the image is empty or an argument is missing.
int FastBoot_Render(const FastBootImage* image, const uint8_t* frame, uint8_t* out);
