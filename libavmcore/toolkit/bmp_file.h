#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/matrix_alloc.h"
#include "toolkit/pixel_formats.h"

// Uncompressed Windows bitmaps: the one layout every writer produces (54
// bytes of headers, 24 or 32 bits a pixel, rows bottom-up, each padded to a
// multiple of 4 bytes) and readers into the library's image types.
//
// Readers accept 24- and 32-bit uncompressed files, bottom-up or top-down.
// Anything else (wrong magic, other depths, compression, sizes that do not
// fit, a file shorter than its pixel rows) is rejected with a message and a
// null / 0 result; nothing partial is handed back. Results are allocated
// with malloc, header and pixel block both, and belong to the caller, who
// frees both with free() (Matrix_Delete / ImageU8_Delete).

// Packed float pixels: width * height pixels of a fixed number of floats
// each (3 for R, G, B pictures, 8 for the interleaved channel pictures).
struct FloatPixelImage {
  int32_t width;
  int32_t height;
  float* data;
};

// Grey float picture, rows top first. mode 0: luma / 255; 1: max(R, G, B)
// / 255; other: min(R, G, B) / 255.
Matrix* Bmp_LoadGrayFloat(const char* path, int mode);
// R, G, B planes (value / 255); A for a 32-bit file, else *a = null.
// Returns 1, or 0 with every output null.
int Bmp_LoadRGBPlanesFloat(const char* path, Matrix** r, Matrix** g, Matrix** b, Matrix** a);
// Luma bytes.
ImageU8* Bmp_LoadGrayU8(const char* path);
// Returns 1, or 0 with every output null.
int Bmp_LoadRGBPlanesU8(const char* path, ImageU8** r, ImageU8** g, ImageU8** b);
// Bytes B, G, R (rgbOrder 0, stride 3 * width).
Rgb24Image* Bmp_LoadRGB24(const char* path);
// 3 floats a pixel, R, G, B, each / 255.
FloatPixelImage* Bmp_LoadRGB24Matrix(const char* path);

// Writers return 1 when the whole file was written and synced, else 0 (with
// a message). A file that cannot be opened prints "open file failed %s \n".
// A source without a pixel block leaves an empty file.
int Bmp_SaveRGB24(const Rgb24Image* img, const char* path);
// Grey trunc(v * 255 + 0.5), negative values 0, low 8 bits kept.
int Bmp_SaveFloatPlanes(const Matrix* m, const char* path);
int Bmp_SaveImageU8(const ImageU8* img, const char* path, int twoLevel);
int Bmp_SaveImageI32(const ImageI32* img, const char* path, int twoLevel);
int Bmp_SaveImageU16(const ImageU16* img, const char* path, int twoLevel);
// Planes G and B may be null (0 bytes); their sizes come from R.
int Bmp_SaveOverlayFloat(const Matrix* r, const Matrix* g, const Matrix* b, const char* path);
int Bmp_SaveOverlayU8(const ImageU8* r, const ImageU8* g, const ImageU8* b, const char* path);
int Bmp_SaveRGBA32(const ImageU8* r, const ImageU8* g, const ImageU8* b, const ImageU8* a,
                   const char* path);
int Bmp_SaveGrayU8(int width, int height, int stride, const uint8_t* data, const char* path);
// 3 floats a pixel R, G, B; each byte trunc(v * 255).
int Bmp_SaveRGBFloat(const FloatPixelImage* img, const char* path);
// Grey picture with n three-pixel marks at (trunc(xs[i]), trunc(ys[i])):
// the pixel, the one above and the one to the right take colour
// colours[i] (0 white, 1 red, 2 yellow, 3 green, 4 blue, 5 plum, 6 magenta,
// 7 cyan). Marks that do not fit or have another colour index are skipped.
int Bmp_SaveGrayWithMarks(const Matrix* m, int n, const float* xs, const float* ys,
                          const uint8_t* colours, const char* path);
// Binarises a picture file in place (iterative threshold at weight 0.5 on
// its luma), keeping its headers. The file is replaced only when the new one
// is complete.
int Bmp_BinarizeGrayInPlace(const char* path);
