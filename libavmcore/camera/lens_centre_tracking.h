#pragma once
#include <cstdint>

struct LensTableSlot;

// Image-centre tracking of a lens-table slot, run by the model-3 full fit:
// keeps the tracked centre plausible for the image size and derives the
// scales (scaleX = (W / 2) / unitSize, scaleY = scaleX / aspect) once per
// image size. trackCount (set by calibration) selects how much is kept.
void LensTable_TrackCentre(LensTableSlot* slot, int32_t width, int32_t height);
