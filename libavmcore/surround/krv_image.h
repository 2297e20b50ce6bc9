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
#include <vector>

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

// Reads a file back: four new matrices of W x 2H (byte / 255; free with
// Matrix_Delete, toolkit/matrix_alloc.h) and the two pairs in the form
// the writer received. 1 on success; 0 when the file cannot be opened, has
// another magic, impossible sizes or is shorter than its pixels. On failure
// nothing is allocated and the outputs are untouched.
int KRVImage_Load(const char* path, Matrix** out0, Matrix** out1, Matrix** out2, Matrix** out3,
                  int32_t pair1[2], int32_t pair2[2]);

// A small CPU merger record set up straight from a KRVImage file.
struct KRVImageMerger {
  uint32_t loaded;
  int32_t inWidth, inHeight;
  int32_t outWidth, outHeight;
  Matrix* planes[4];
  int32_t pair1[2], pair2[2];
  std::vector<uint8_t> outRGB;  // outWidth x outHeight x 3
  std::vector<uint8_t> inRGB;   // inWidth x inHeight x 3
};

// Returns 0. Does nothing when already loaded. A file that does not load
// leaves the record not loaded (message printed).
int KRVImageMerger_Init(KRVImageMerger* merger, const char* path, int32_t width, int32_t height);
// Frees buffers and planes of a loaded merger and clears the flag; 0.
int KRVImageMerger_Release(KRVImageMerger* merger);

// A camera frame for the merger's stitch: width, height, data, row stride in
// bytes. Semi-planar frames carry their chroma rows right after the luma
// (data + stride * height).
struct KRVMergerFrame {
  int32_t width, height;
  const uint8_t* data;
  int32_t stride;
};
// Colour table of the coloured stitch: 132 floats (floats 12..17 camera 3's
// gain row, 18..23 camera 4's, 24..77 nine rows of camera 1, 78..131 nine of
// camera 2; a row is two RGB triples, the first where W2 = 1).
constexpr int32_t kKRVColourTableFloats = 132;
// Converts the frame (format 3 NV12, 6 NV21, 4 YUYV, 7 UYVY; another value
// converts nothing) into the input buffer and stitches it through the byte
// planes into the output buffer (bytes in reverse channel order of the
// input). 0; 1 when the merger is not loaded or the frame is missing or not
// of the merger's input size.
int KRVImageMerger_Exec(KRVImageMerger* merger, int32_t format, const KRVMergerFrame* frame);
// The same with each sample weighted by its camera's colour gains.
int KRVImageMerger_ExecColour(KRVImageMerger* merger, const float* colourTable, int32_t format,
                              const KRVMergerFrame* frame);
// UYVY frames of the merger's input size with a stride of twice its width.
int KRVImageMerger_ExecUYVY(KRVImageMerger* merger, const uint8_t* frame);
int KRVImageMerger_ExecColourUYVY(KRVImageMerger* merger, const float* colourTable, const uint8_t* frame);
