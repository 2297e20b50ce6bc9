#include "frame/neighbour_services.h"

// Stand-in until the LUT configuration reader is part of the library: it
// behaves as a missing file. The real definition overrides this weak one.
__attribute__((weak)) void LutConfigBase_GetSize(int32_t* out1, int32_t* out2) {
  (void)out1;
  (void)out2;
}
