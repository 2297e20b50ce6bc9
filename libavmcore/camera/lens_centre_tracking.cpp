#include "camera/lens_centre_tracking.h"
#include "frame/log.h"

#include <cmath>
#include <cstdio>

#include "frame/lens_table.h"

namespace {

bool CentreYAccepted(int32_t trackWidth, float cy) {
  if (trackWidth == 720) return cy >= 200.0f && cy <= 320.0f;
  if (trackWidth < 1280) return cy > 0.0f;
  return cy >= 200.0f;
}

}  // namespace

void LensTable_TrackCentre(LensTableSlot* s, int32_t width, int32_t height) {
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  const bool scalesSet = s->scaleX != 0.0f && s->scaleY != 0.0f;
  if (width != s->trackWidth || height != s->trackHeight) {
    s->trackWidth = width;
    s->trackHeight = height;
    s->centreX = w * 0.5f;
    s->centreY = h * 0.5f;
    if (s->trackCount == 0 || s->trackCount == 1) {
      s->scaleX = 0.0f;
      s->scaleY = 0.0f;
    } else if (s->trackCount >= 2 && scalesSet) {
      return;
    }
  } else if (scalesSet) {
    return;
  }
  if (s->trackCount == 0) {
    s->centreX = w * 0.5f;
    s->centreY = h * 0.5f;
  } else {
    if (std::fabs(s->centreX - w * 0.5f) > w * 20.0f / 720.0f) s->centreX = w * 0.5f;
    if (!CentreYAccepted(s->trackWidth, s->centreY)) s->centreY = h * 0.5f;
  }
  const float aspect = s->kind == 1 ? 1.0f : (w / h) / (s->sensorA / s->sensorB);
  s->scaleX = static_cast<float>(width / 2) / s->unitSize;
  s->scaleY = s->scaleX / aspect;
  AvmLog("=========2  %d %f %f \n", s->kind, s->scaleX, s->scaleY);
}
