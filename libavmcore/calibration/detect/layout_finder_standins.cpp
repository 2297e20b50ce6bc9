// Finders of board layouts that are not built yet: each reports "target not
// found". Delete a stand-in when its finder lands.
#include "calibration/detect/layout_finders.h"

#define STANDIN(name) \
  uint32_t name(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*) { return 0; }
#define STANDIN_SHORT(name) \
  uint32_t name(LUTOB*, uint32_t, Matrix*, float*) { return 0; }

STANDIN_SHORT(CalibInit_FindChessboardCorners)
STANDIN_SHORT(CalibFind_Layout5Side)
STANDIN(CalibFind_Layout8)
STANDIN_SHORT(CalibFind_Layout11Side)
STANDIN(CalibFind_Layout14)
STANDIN_SHORT(CalibFind_Layout16A)
STANDIN_SHORT(CalibFind_Layout16B)
STANDIN(CalibFind_Layout18)
STANDIN(CalibFind_Layout19)
STANDIN(CalibFind_Layout20)
STANDIN(CalibFind_Layout26A)
STANDIN(CalibFind_Layout26B)
STANDIN(CalibFind_Layout26Part)
STANDIN(CalibFind_Layout28)
STANDIN(CalibFind_Layout30)
STANDIN(CalibFind_Layout31)
STANDIN(CalibFind_Layout32)
STANDIN(CalibFind_Layout53)

uint32_t CalibFindMarkerBoard(LUTOB*, uint32_t, Matrix*, int32_t, float*) { return 0; }
uint32_t CalibFind_Layout13(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*, int32_t) { return 0; }
