// Every BMP reader, and the in-place binariser.
#include "fuzz/fuzz_support.h"
#include "toolkit/bmp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("picture.bmp", data, size);
  const char* p = path.c_str();
  for (int mode = 0; mode < 3; ++mode) Matrix_Delete(Bmp_LoadGrayFloat(p, mode));
  Matrix *r = nullptr, *g = nullptr, *b = nullptr, *a = nullptr;
  if (Bmp_LoadRGBPlanesFloat(p, &r, &g, &b, &a) == 1)
    for (Matrix* m : {r, g, b, a}) Matrix_Delete(m);
  ImageU8_Delete(Bmp_LoadGrayU8(p));
  ImageU8 *ru = nullptr, *gu = nullptr, *bu = nullptr;
  if (Bmp_LoadRGBPlanesU8(p, &ru, &gu, &bu) == 1)
    for (ImageU8* m : {ru, gu, bu}) ImageU8_Delete(m);
  Rgb24Image_Delete(Bmp_LoadRGB24(p));
  FloatPixelImage_Delete(Bmp_LoadRGB24Matrix(p));
  Bmp_BinarizeGrayInPlace(p);
  return 0;
}
