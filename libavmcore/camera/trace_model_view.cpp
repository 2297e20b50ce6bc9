#include <cstring>

#include "camera/trace_model.h"

// The view object begins with the six words the model copies: frame width
// and height, the two car-box words and the two limits.
int Undist4Camera_CreateModel(TraceModel* model, UndistOB* view) {
  int32_t w[6];
  memcpy(w, view, sizeof w);
  return TraceModel_Create(model, view, w[0], w[1], w[2], w[3], w[4], w[5]);
}
