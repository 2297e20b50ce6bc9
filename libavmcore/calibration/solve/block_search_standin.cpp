// Weak stand-in of the block corner search until the marker-quad finder is
// linked in: no block is found.
#include "calibration/solve/block_solve.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK int32_t FindFourCorners(const BlockHeader&, BlockSet*, int32_t, const void*, int32_t, int32_t* position,
                                 int32_t, int32_t) {
  if (position != nullptr) *position = 16;
  return 0;
}
