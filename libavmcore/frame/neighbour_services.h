#pragma once
// Services of the surround-view composition that the configuration calls
// (defined with the LUT configuration code).
#include <cstdint>

// Reads lut_config_base.krv of the data directory; on success stores its image
// height in out1 and its width in out2 (when out2 is not null). On failure both
// stay untouched.
void LutConfigBase_GetSize(int32_t* out1, int32_t* out2);
