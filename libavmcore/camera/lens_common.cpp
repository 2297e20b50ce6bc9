#include "camera/lens_common.h"

#include "toolkit/matrix_inverse.h"

namespace lens {

bool InvertK(const Matrix* K, float* Kinv) {
  for (int k = 0; k < 9; ++k) Kinv[k] = K->data[k];
  Matrix m{3, 3, Kinv};
  return Matrix_Invert(&m) != 0;
}

}  // namespace lens
