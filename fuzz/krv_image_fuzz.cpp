// KRVImage byte LUTs: the reader and the small merger set up from one.
#include "fuzz/fuzz_support.h"
#include "surround/krv_image.h"
#include "toolkit/matrix_alloc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("krvimage.krv", data, size);
  Matrix* m[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t pair1[2], pair2[2];
  if (KRVImage_Load(path.c_str(), &m[0], &m[1], &m[2], &m[3], pair1, pair2) == 1)
    for (Matrix* p : m) Matrix_Delete(p);
  KRVImageMerger merger{};
  KRVImageMerger_Init(&merger, path.c_str(), 32, 24);
  KRVImageMerger_Release(&merger);
  return 0;
}
