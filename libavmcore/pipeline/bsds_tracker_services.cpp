// Stand-ins of the blind-spot zone tracker that the rear cross-traffic input
// drives, until the tracker's module is in the build: a zone gets its slot
// images and finds nothing.
#include "pipeline/bsds.h"

#include <cstring>

#define AVM_WEAK __attribute__((weak))

AVM_WEAK BSDSTarget::BSDSTarget() {}
AVM_WEAK BSDSTarget::~BSDSTarget() {}

AVM_WEAK void BSDS_InitTracker(BSDSTracker* zone, int32_t kind, int32_t width, int32_t rows, int32_t offset,
                               int32_t cell, const char* name, const BSDSSettings* settings) {
  zone->kind = kind;
  zone->width = width;
  zone->rows = rows;
  zone->cell = cell;
  zone->nearDistance = 5 * cell + offset;
  zone->farDistance = zone->nearDistance + (rows - 11) * cell;
  std::strncpy(zone->name, name, 7);
  if (settings) zone->settings = *settings;
  if (width < 1 || rows < 1) return;
  const size_t image = static_cast<size_t>(width) * static_cast<size_t>(rows);
  zone->slotStorage_.assign(3 * image, 0);
  for (int i = 0; i < 3; ++i) zone->slots[i] = zone->slotStorage_.data() + i * image;
}

AVM_WEAK void BSDS_ReleaseTracker(BSDSTracker* zone) {
  std::vector<uint8_t>().swap(zone->slotStorage_);
  for (uint8_t*& s : zone->slots) s = nullptr;
}

AVM_WEAK void BSDS_TrackTargets(int32_t, BSDSTracker* zone) {
  zone->result = 0;
  zone->position = -1000000;
  zone->farLimit = 1000000;
}
