#include "camera/trace_model.h"
#include "camera/view_object.h"

int Undist4Camera_CreateModel(TraceModel* model, UndistOB* view) {
  return TraceModel_Create(model, view, view->frameWidth, view->frameHeight, view->carBoxWidth,
                           view->carBoxLength, view->limits[0], view->limits[1]);
}
