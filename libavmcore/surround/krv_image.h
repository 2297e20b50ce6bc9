#pragma once
// The KRVImage byte LUT: the six float maps of the stitched view packed into
// four byte planes of W x 2H (rows 0..H-1 the first source and its weight,
// rows H..2H-1 the second source and the seam ramp), stored as one
// four-channel 8-bit image.
//
// File (little-endian 32-bit words): magic, width W, height 2H, four box
// words, W x 2H pixels of four bytes (P0, P1, P2, P3), then the four seam
// angles of the configuration as floats.
#include <cstdint>

#include "frame/matrix_types.h"

constexpr uint32_t kKRVImageMagic = 0x00666601u;
constexpr long kKRVImageHeaderBytes = 28;
// Larger planes than this are refused as corrupt (a texture the display
// could not hold anyway).
constexpr int32_t kKRVImageMaxSide = 16384;

// Packs the maps (all W x H) into the planes (W x 2H, already allocated;
// every byte written). Wq x Hq is the quad-frame size the coordinates address.
void LUT_PackBytePlanes(ImageU8* p0, ImageU8* p1, ImageU8* p2, ImageU8* p3, const Matrix* X1, const Matrix* Y1,
                        const Matrix* X2, const Matrix* Y2, const Matrix* W1, const Matrix* W2, int32_t Wq,
                        int32_t Hq);

// Writes the planes (W and height from plane 0; each plane read with its own
// width as stride). Each pair is written second word first. Then fflush and
// fsync. 1 when the whole file landed; 0 when it cannot be created or a
// write fails (message printed, a partial file may remain).
int KRVImage_Save(const ImageU8* p0, const ImageU8* p1, const ImageU8* p2, const ImageU8* p3,
                  const int32_t pair1[2], const int32_t pair2[2], const char* path);

// Reads a file back: four new matrices of W x 2H (byte / 255; header by new,
// data by new[], free with KRVImage_FreeMatrix) and the two pairs in the form
// the writer received. 1 on success; 0 when the file cannot be opened, has
// another magic, impossible sizes or is shorter than its pixels. On failure
// nothing is allocated and the outputs are untouched.
int KRVImage_Load(const char* path, Matrix** out0, Matrix** out1, Matrix** out2, Matrix** out3,
                  int32_t pair1[2], int32_t pair2[2]);
void KRVImage_FreeMatrix(Matrix* m);

// A small CPU merger record set up straight from a KRVImage file.
struct KRVImageMerger {
  uint32_t loaded;
  int32_t inWidth, inHeight;
  int32_t outWidth, outHeight;
  Matrix* planes[4];
  int32_t pair1[2], pair2[2];
  uint8_t* outRGB;  // outWidth x outHeight x 3
  uint8_t* inRGB;   // inWidth x inHeight x 3
};

// Returns 0. Does nothing when already loaded. A file that does not load
// leaves the record not loaded (message printed).
int KRVImageMerger_Init(KRVImageMerger* merger, const char* path, int32_t width, int32_t height);
// Frees buffers and planes of a loaded merger and clears the flag; 0.
int KRVImageMerger_Release(KRVImageMerger* merger);
