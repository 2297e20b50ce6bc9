// Finders of board layouts that are not built yet: each reports "target not
// found". Delete a stand-in when its finder lands.
#include "calibration/detect/layout_finders.h"

#define STANDIN(name) \
  uint32_t name(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*) { return 0; }
#define STANDIN_SHORT(name) \
  uint32_t name(LUTOB*, uint32_t, Matrix*, float*) { return 0; }

STANDIN(CalibFind_Layout7)
STANDIN(CalibFind_Layout25)
STANDIN(CalibFind_Layout27)

#ifndef AVM_WEAK
#define AVM_WEAK __attribute__((weak))
#endif

// Pieces being built beside their callers: weak, so that the real piece
// replaces them at link time. Each reports "not found" and moves the try
// counter past the last step, as the pieces do when nothing is found.
AVM_WEAK uint32_t CalibFind_TemplateRearPart(LUTOB*, uint32_t, Matrix*, float*, int32_t* tries) {
  if (tries != nullptr) *tries = 5;
  return 0;
}
AVM_WEAK uint32_t CalibFind_Layout53SideTemplates(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*) {
  return 0;
}
