#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "pipeline/bsds.h"

namespace {

// Predict and correct with one measurement; position and rate from the
// corrected state.
void Filter(BSDSEnd* e, int32_t measured) {
  if (e->filter.block == nullptr) {
    e->position = static_cast<float>(measured);
    e->rate = 0;
    return;
  }
  KalmanFilter_Predict(&e->filter, nullptr);
  float m = static_cast<float>(measured);
  Matrix z{1, 1, &m};
  const Matrix* s = KalmanFilter_Correct(&e->filter, &z);
  e->position = s->data[0];
  e->rate = s->data[1];
}

// Step 5 for one end. Returns false when the rate left -700 .. 1200.
bool UpdateEnd(const BSDSTracker* zone, BSDSEnd* e, int32_t measured) {
  const BSDSSettings& st = zone->settings;
  if (e->isNew != 0) {
    e->isNew = 0;
    if (e->filter.block != nullptr) {
      e->filter.statePost.data[0] = static_cast<float>(measured);
      e->filter.statePost.data[1] = 0;
    }
    Filter(e, measured);
    e->lastPosition = measured;
    return true;
  }
  Filter(e, measured);
  if (e->rate < -700.0f || e->rate > 1200.0f) {
    e->confirmed = 0;
    e->approachCount = 0;
    e->lastPosition = measured;
    return false;
  }
  if (e->confirmed == 0) {
    if (e->rate > st.approachRate && measured > e->lastPosition) {
      if (++e->approachCount == 1)
        e->startPosition = e->lastPosition <= zone->nearDistance + 2000 ? e->lastPosition : measured;
    } else if ((e->rate > st.approachRate && measured < e->lastPosition - 4) || e->rate <= st.approachRate) {
      e->approachCount = 0;
    }
  } else {
    if (e->rate <= st.leaveRate || measured <= e->lastPosition - 5)
      ++e->leaveCount;
    else if (measured != zone->farDistance && e->leaveCount > 0)
      --e->leaveCount;
    if (e->leaveCount >= st.S1) {
      e->confirmed = 0;
      e->approachCount = 0;
    }
  }
  e->lastPosition = measured;
  return true;
}

void Confirm(const BSDSSettings& st, BSDSEnd* e, const BSDSEnd& other) {
  if (e->confirmed != 0 || e->lastPosition < e->startPosition + 1300) return;
  bool ok;
  if (other.confirmed != 0)
    ok = e->approachCount >= st.S4;
  else
    ok = (e->approachCount >= st.S2 && other.approachCount >= st.S2) || e->approachCount >= st.S3;
  if (ok) {
    e->confirmed = 1;
    e->leaveCount = 0;
  }
}

// Steps 5 to 7 for one target; false when the update failed.
bool UpdateTarget(BSDSTracker* zone, BSDSTarget* t, const BSDSCandidate& c) {
  const bool bothOld = t->nearEnd.isNew == 0 && t->farEnd.isNew == 0;
  const bool okNear = UpdateEnd(zone, &t->nearEnd, c.first);
  const bool okFar = UpdateEnd(zone, &t->farEnd, c.second);
  if (bothOld && !okNear && !okFar) return false;
  Confirm(zone->settings, &t->nearEnd, t->farEnd);
  Confirm(zone->settings, &t->farEnd, t->nearEnd);
  bool counts;
  if (zone->kind == 2)
    counts = t->nearEnd.confirmed != 0 || t->farEnd.confirmed != 0;
  else
    counts = (t->nearEnd.confirmed != 0 && t->nearEnd.lastPosition < zone->farDistance - 1) ||
             t->farEnd.confirmed != 0;
  if (counts) {
    zone->result |= 1;
    zone->position = std::max(zone->position, t->nearEnd.lastPosition);
    zone->farLimit = std::min(zone->farLimit, t->farEnd.lastPosition);
  }
  return true;
}

int32_t Distance(bool secondPass, const BSDSTarget& t, const BSDSCandidate& c) {
  const int32_t dn = std::abs(t.nearEnd.lastPosition - c.first);
  const int32_t df = std::abs(t.farEnd.lastPosition - c.second);
  const bool nc = t.nearEnd.confirmed != 0, fc = t.farEnd.confirmed != 0;
  if (!secondPass) {
    if (nc) return fc ? std::min(dn, df) : dn;
    return fc ? df : 2001;
  }
  if (nc || fc) return std::min(dn, df);
  return (dn + df) / 2;
}

void MatchPass(BSDSTracker* zone, BSDSCandidate* cands, int32_t count, bool secondPass) {
  for (BSDSTarget& t : zone->targets) {
    if (secondPass && t.matched != 0) continue;
    if (!secondPass) t.matched = 0;
    int32_t best = -1, bestD = 0;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t d = Distance(secondPass, t, cands[i]);
      if (best < 0 || d < bestD) {
        best = i;
        bestD = d;
      }
    }
    if (best < 0 || bestD > 1999) continue;
    if (UpdateTarget(zone, &t, cands[best])) {
      t.matched = 1;
      cands[best].taken = 1;
    }
  }
}

}  // namespace

BSDSTarget::BSDSTarget() {
  KalmanFilter_InitLevelRate(&nearEnd.filter, 0.001f, 0.01f);
  KalmanFilter_InitLevelRate(&farEnd.filter, 0.001f, 0.01f);
}

BSDSTarget::~BSDSTarget() {
  KalmanFilter_Free(&nearEnd.filter);
  KalmanFilter_Free(&farEnd.filter);
}

void BSDS_ClearTargets(std::list<BSDSTarget>* list) {
  if (list != nullptr) list->clear();
}

void BSDS_ReleaseTracker(BSDSTracker* zone) {
  if (zone == nullptr) return;
  zone->targets.clear();
  std::vector<uint8_t>().swap(zone->slotStorage_);
  for (uint8_t*& s : zone->slots) s = nullptr;
  std::vector<int32_t>().swap(zone->rowSums);
  std::vector<int32_t>().swap(zone->rowHist);
  std::vector<float>().swap(zone->variation);
  std::vector<float>().swap(zone->mean);
  zone->candidateCount = 0;
  zone->result = 0;
}

void BSDS_InitTracker(BSDSTracker* zone, int32_t kind, int32_t width, int32_t rows, int32_t offset, int32_t cell,
                      const char* name, const BSDSSettings* settings) {
  if (zone == nullptr) return;
  BSDS_ReleaseTracker(zone);
  memset(zone->name, 0, sizeof(zone->name));
  if (name != nullptr) strncpy(zone->name, name, sizeof(zone->name) - 1);
  zone->kind = kind;
  if (width < 1 || rows < 1) width = rows = 0;
  zone->width = width;
  zone->rows = rows;
  zone->cell = cell;
  zone->nearDistance = 5 * cell + offset;
  zone->farDistance = zone->nearDistance + (rows - 11) * cell;
  zone->writeSlot = zone->readSlot = 0;
  zone->settings = settings != nullptr ? *settings : BSDSSettings{};
  const size_t n = static_cast<size_t>(width) * rows;
  zone->slotStorage_.assign(n * kBsdsRingSlots, 0);
  for (int k = 0; k < kBsdsRingSlots; ++k) zone->slots[k] = n > 0 ? zone->slotStorage_.data() + n * k : nullptr;
  zone->rowSums.assign(static_cast<size_t>(rows), 0);
  zone->rowHist.assign(static_cast<size_t>(rows) * 64, 0);
  const size_t positions = rows > 10 ? static_cast<size_t>(rows - 10) : 0;
  zone->variation.assign(positions, 0.0f);
  zone->mean.assign(positions, 0.0f);
  zone->result = 0;
  zone->position = -1000000;
  zone->farLimit = 1000000;
}

void BSDS_UpdateTargets(BSDSTracker* zone, BSDSCandidate* candidates, int32_t count) {
  zone->result = 0;
  zone->position = -1000000;
  zone->farLimit = 1000000;
  MatchPass(zone, candidates, count, false);
  MatchPass(zone, candidates, count, true);
  for (int32_t i = 0; i < count; ++i) {
    if (candidates[i].taken != 0) continue;
    zone->targets.emplace_back();
    BSDSTarget& t = zone->targets.back();
    t.matched = 1;
    UpdateTarget(zone, &t, candidates[i]);
  }
  zone->targets.remove_if([](const BSDSTarget& t) { return t.matched == 0; });
}

void BSDS_TrackTargets(int32_t night, BSDSTracker* zone) {
  if (zone == nullptr) return;
  const int32_t w = zone->width, rows = zone->rows;
  const int32_t positions = rows > 10 ? rows - 10 : 0;
  zone->candidateCount = 0;
  const int32_t slot = zone->readSlot;
  if (w < 1 || positions < 1 || slot < 0 || slot >= kBsdsRingSlots || zone->slots[slot] == nullptr) {
    BSDS_UpdateTargets(zone, zone->candidates, 0);
    return;
  }
  const uint8_t* img = zone->slots[slot];
  // Rows reduced to 64 levels, their sums and histograms.
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* p = img + static_cast<size_t>(r) * w;
    int32_t* hist = &zone->rowHist[static_cast<size_t>(r) * 64];
    std::fill(hist, hist + 64, 0);
    int32_t sum = 0;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = (x == 0 || x == w - 1) ? p[x] >> 2 : (p[x] + p[x - 1]) >> 3;
      sum += v;
      ++hist[v];
    }
    zone->rowSums[r] = sum;
  }
  // Windows of 11 rows.
  const double area = 11.0 * w;
  double meanV = 0;
  for (int32_t i = 0; i < positions; ++i) {
    int64_t wsum = 0;
    std::fill(zone->windowHist, zone->windowHist + 64, 0);
    for (int32_t r = i; r < i + 11; ++r) {
      wsum += zone->rowSums[r];
      const int32_t* hist = &zone->rowHist[static_cast<size_t>(r) * 64];
      for (int b = 0; b < 64; ++b) zone->windowHist[b] += hist[b];
    }
    const double m = wsum / area;
    const int32_t top = static_cast<int32_t>(std::lround(m));
    double acc = 0;
    int64_t counted = 0;
    for (int32_t b = 0; b < top && b < 64; ++b) {
      acc += zone->windowHist[b] / area * (b - m) * (b - m);
      counted += zone->windowHist[b];
      if (counted > 0.3 * area) break;
    }
    const double v = std::sqrt(acc) / (m + 0.000001);
    zone->mean[i] = static_cast<float>(m);
    zone->variation[i] = static_cast<float>(v);
    meanV += v;
  }
  const double x = meanV / positions;
  const double offset = night != 0 ? 0.01 : 0.05, cap = night != 0 ? 0.11 : 0.17, floor = night != 0 ? 0.1 : 0.13;
  double high, low;
  if (x + offset >= cap) {
    high = cap;
    low = floor;
  } else if (x + offset <= floor) {
    high = low = floor;
  } else {
    high = x + offset;
    low = std::max(floor, x);
  }
  // Runs above the high threshold, ended below the low one.
  int32_t count = 0;
  int32_t i = 0;
  while (i < positions && count < kBsdsMaxCandidates) {
    if (zone->variation[i] <= high) {
      ++i;
      continue;
    }
    const int32_t first = i;
    int32_t lastHigh = i;
    int32_t j = i + 1;
    for (; j < positions; ++j) {
      if (zone->variation[j] < low) break;
      if (zone->variation[j] > high) lastHigh = j;
    }
    if (static_cast<int64_t>(lastHigh - first) * zone->cell > 1000) {
      BSDSCandidate& c = zone->candidates[count++];
      c.first = zone->nearDistance + zone->cell * lastHigh;
      c.second = zone->nearDistance + zone->cell * first;
      c.taken = 0;
    }
    i = j + 1;
  }
  if (zone->kind == 1 && count == 1 && zone->candidates[0].first >= zone->farDistance &&
      zone->candidates[0].second <= zone->nearDistance)
    count = 0;
  zone->candidateCount = count;
  BSDS_UpdateTargets(zone, zone->candidates, count);
}

// A zone's near and far distances (5 cells past the offset, then one cell a
// row) must stay inside the tracker's +-1000000 "no target" sentinels.
// A zone without columns or rows has none (as the tracker takes it).
bool BSDS_ZoneDistancesFit(int32_t cell, int64_t offset, int32_t cols, int32_t rows) {
  if (cell <= -1000000 || cell >= 1000000 || offset <= -1000000 || offset >= 1000000) return false;
  if (cols < 1 || rows < 1) rows = 0;
  const int64_t nearD = 5 * static_cast<int64_t>(cell) + offset;
  const int64_t farD = nearD + (static_cast<int64_t>(rows) - 11) * cell;
  return nearD > -1000000 && nearD < 1000000 && farD > -1000000 && farD < 1000000;
}
