#include <cmath>

#include "pipeline/mod_core.h"

void MODBlockTrackerRelease(MODBlockTracker* tracker) {
  if (tracker == nullptr) return;
  tracker->tracks.clear();
  for (uint8_t& f : tracker->idFree) f = 1;
  KalmanFilter_Free(&tracker->greyFilter);
  KalmanFilter_Free(&tracker->positionFilterX);
  KalmanFilter_Free(&tracker->positionFilterY);
  tracker->greyFilter = KalmanFilter{};
  tracker->positionFilterX = KalmanFilter{};
  tracker->positionFilterY = KalmanFilter{};
  tracker->currentRects.clear();
  tracker->previousRects.clear();
  std::vector<uint8_t>().swap(tracker->bytes_);
  std::vector<float>().swap(tracker->floats_);
  std::vector<int32_t>().swap(tracker->ints_);
  std::vector<int32_t>().swap(tracker->rowSum);
  std::vector<int32_t>().swap(tracker->rowCount);
  std::vector<int32_t>().swap(tracker->rowRef);
  tracker->workImage = tracker->previousFrame = tracker->staticMask = tracker->spareImage = ImageU8{};
  tracker->background = tracker->foreground = ImageU8{};
  for (ImageU8& r : tracker->ring) r = ImageU8{};
  tracker->mask = Matrix{};
  tracker->labelImage = ImageI32{};
  tracker->ringRead = tracker->ringWrite = 0;
}

void MODBlockTrackerInit(MODBlockTracker* tracker, int32_t width, int32_t height) {
  if (tracker == nullptr) return;
  MODBlockTrackerRelease(tracker);
  if (width < 1 || height < 1) width = height = 0;
  tracker->width = width;
  tracker->height = height;
  tracker->freeze = 6;
  tracker->id = 1;
  tracker->spareWord = 1;
  tracker->detected = 0;
  KalmanFilter_InitLevelRate(&tracker->greyFilter, 1e-5f, 0.1f);
  KalmanFilter_InitLevelRate(&tracker->positionFilterX, 1e-5f, 0.1f);
  KalmanFilter_InitLevelRate(&tracker->positionFilterY, 1e-5f, 0.1f);
  tracker->measurementValue[0] = 0;
  tracker->measurement = Matrix{1, 1, tracker->measurementValue};
  for (uint8_t& f : tracker->idFree) f = 1;
  tracker->idWord = 1;
  tracker->score = 0.0;
  tracker->resultX = tracker->resultY = 0;
  tracker->lastReported[0] = tracker->lastReported[1] = 0;
  tracker->bestDistance = 0;

  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  // Byte images: work, previous, static mask, spare, background, foreground
  // and the 20 ring images, all in one zeroed block.
  constexpr int kByteImages = 6 + 20;
  tracker->bytes_.assign(n * kByteImages, 0);
  tracker->floats_.assign(n, 0.0f);
  tracker->ints_.assign(n, 0);
  uint8_t* p = tracker->bytes_.data();
  auto carve = [&](ImageU8* img) {
    *img = ImageU8{width, height, p};
    p += n;
  };
  carve(&tracker->workImage);
  carve(&tracker->previousFrame);
  carve(&tracker->staticMask);
  carve(&tracker->spareImage);
  carve(&tracker->background);
  carve(&tracker->foreground);
  for (ImageU8& r : tracker->ring) carve(&r);
  tracker->mask = Matrix{width, height, tracker->floats_.data()};
  tracker->labelImage = ImageI32{width, height, tracker->ints_.data()};
  tracker->rowSum.assign(static_cast<size_t>(height), 0);
  tracker->rowCount.assign(static_cast<size_t>(height), 0);
  tracker->rowRef.assign(static_cast<size_t>(height), 0);
  tracker->ringRead = tracker->ringWrite = 0;
}

int32_t MOD_TakeFreeSlot(MODBlockTracker* tracker) {
  for (int32_t i = 0; i < kModTrackIds; ++i) {
    if (tracker->idFree[i] != 0) {
      tracker->idFree[i] = 0;
      return i;
    }
  }
  return kModTrackIds - 1;
}

void MODTrack_AddPoint(MODBlockTracker* tracker, MODTrack* track, const MODRect* blob) {
  const int32_t k = (track->count + track->start) % kModTrackRing;
  const float lx = track->last.cx, ly = track->last.cy;
  track->dx[k] = blob->cx - lx;
  track->dy[k] = blob->cy - ly;
  float gx = 0.0f, gy = 0.0f;
  if (tracker != nullptr && tracker->motion != nullptr) {
    const float* a = tracker->motion;
    const float cx = lx - tracker->width / 2.0f, cy = ly - tracker->height / 2.0f;
    gx = a[0] + a[2] * cx + a[3] * cy;
    gy = a[1] + a[4] * cx + a[5] * cy;
  }
  track->egoX[k] = gx;
  track->egoY[k] = gy;

  const int32_t prev = (k + kModTrackRing - 1) % kModTrackRing;
  const float l2 = (track->dx[prev] * track->dx[prev] + track->dy[prev] * track->dy[prev]) *
                   (track->dx[k] * track->dx[k] + track->dy[k] * track->dy[k]);
  float c = 0.0f;
  if (l2 >= 0.0001f) c = (track->dx[prev] * track->dx[k] + track->dy[prev] * track->dy[k]) / std::sqrt(l2);
  track->cosine[prev] = c;
  track->cosineSum += c;

  track->last = *blob;
  track->count += 1;
  track->updated = 1;
  if (track->count > kModTrackMaxPoints) {
    track->count -= 1;
    track->cosineSum -= track->cosine[track->start];
    track->start = (track->start + 1) % kModTrackRing;
  }
}

MODTrack* MODTrack_Associate(MODBlockTracker* tracker, MODTrackList* list, const MODRect* blob,
                             const MODRect* reference) {
  if (tracker == nullptr || list == nullptr || blob == nullptr) return nullptr;
  MODTrack* best = nullptr;
  int32_t bestD = 9999;
  for (MODTrack& t : *list) {
    const double dix = static_cast<double>(blob->w) - t.last.w;
    const double diy = static_cast<double>(blob->h) - t.last.h;
    const double dx = static_cast<double>(blob->cx) - t.last.cx;
    const double dy = static_cast<double>(blob->cy) - t.last.cy;
    const double d = dix * dix + diy * diy + dx * dx + dy * dy;
    // Far blobs cannot win; the clamp keeps the truncation defined.
    const int32_t di = d < 9999.0 ? static_cast<int32_t>(d) : 9999;
    if (di < bestD) {
      bestD = di;
      best = &t;
    }
  }
  if (best != nullptr && bestD <= 99) {
    MODTrack_AddPoint(tracker, best, blob);
    return best;
  }
  const float rx = reference != nullptr ? reference->cx : 0.0f;
  const float ry = reference != nullptr ? reference->cy : 0.0f;
  MODTrack t = MOD_TrackCreate(tracker, blob, rx, ry);
  list->push_back(t);
  return &list->back();
}

int32_t MODTrack_Stats(MODBlockTracker* tracker, MODTrack* track) {
  (void)tracker;
  if (track == nullptr || track->count < 3) return 0;
  const int32_t n = track->count - 1;
  const float mean = track->cosineSum / n;
  float sdx = 0, sdy = 0, sgx = 0, sgy = 0, dev = 0;
  int32_t k = track->start;
  for (int32_t i = 0; i < n; ++i) {
    const float d = track->cosine[k] - mean;
    dev += d * d;
    sdx += track->dx[k];
    sdy += track->dy[k];
    sgx += track->egoX[k];
    sgy += track->egoY[k];
    k = (k + 1) % kModTrackRing;
  }
  track->meanCosine = mean;
  track->spreadCosine = std::sqrt(dev) / n;
  track->meanDx = sdx / n;
  track->meanDy = sdy / n;
  track->meanEgoX = sgx / n;
  track->meanEgoY = sgy / n;
  return k;
}
