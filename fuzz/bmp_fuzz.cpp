// Every BMP reader, and the in-place binariser.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "toolkit/bmp_file.h"

namespace {

void FreeMatrix(Matrix* m) {
  if (m == nullptr) return;
  free(m->data);
  free(m);
}
void FreeImage(ImageU8* m) {
  if (m == nullptr) return;
  free(m->data);
  free(m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("picture.bmp", data, size);
  const char* p = path.c_str();
  for (int mode = 0; mode < 3; ++mode) FreeMatrix(Bmp_LoadGrayFloat(p, mode));
  Matrix *r = nullptr, *g = nullptr, *b = nullptr, *a = nullptr;
  if (Bmp_LoadRGBPlanesFloat(p, &r, &g, &b, &a) == 1)
    for (Matrix* m : {r, g, b, a}) FreeMatrix(m);
  FreeImage(Bmp_LoadGrayU8(p));
  ImageU8 *ru = nullptr, *gu = nullptr, *bu = nullptr;
  if (Bmp_LoadRGBPlanesU8(p, &ru, &gu, &bu) == 1)
    for (ImageU8* m : {ru, gu, bu}) FreeImage(m);
  if (Rgb24Image* rgb = Bmp_LoadRGB24(p)) {
    free(rgb->data);
    free(rgb);
  }
  if (FloatPixelImage* f = Bmp_LoadRGB24Matrix(p)) {
    free(f->data);
    free(f);
  }
  Bmp_BinarizeGrayInPlace(p);
  return 0;
}
