// Detection and tracking step of the blind-spot interface object: grade the
// strip against the strip of 29 steps ago and the row backgrounds, measure
// the dark spread of 9-row windows, cut the zone into runs and track both
// ends of every run.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pipeline/bsdsif_object.h"
#include "toolkit/matrix.h"

namespace {

constexpr int32_t kWindowPixels = 9 * kBsdsifCols;                      // 288
constexpr int32_t kLowTail = static_cast<int32_t>(0.3 * kWindowPixels);  // 86

void InitHalf(BSDSIFTrackHalf* h) {
  h->needsInit = 1;
  h->lastValue = h->riseStart = 0.0f;
  h->confirmed = 0;
  h->riseCount = h->staleCount = 0;
  h->filter = KalmanFilter{};
  KalmanFilter* kf = &h->filter;
  KalmanFilter_Init(kf, 2, 1, 0);
  const float transition[4] = {1, 1, 0, 1};
  std::memcpy(kf->transitionMatrix.data, transition, sizeof(transition));
  kf->measurementMatrix.data[0] = 1.0f;
  kf->measurementMatrix.data[1] = 0.0f;
  Matrix_SetDiagonal(&kf->processNoiseCov, 0.001f);
  Matrix_SetDiagonal(&kf->measurementNoiseCov, 0.01f);
  Matrix_SetDiagonal(&kf->errorCovPost, 1.0f);
  Matrix_Transpose(&kf->transitionMatrix, &kf->transitionMatrixT);
  Matrix_Transpose(&kf->measurementMatrix, &kf->measurementMatrixT);
}

void FreeTarget(BSDSIFTarget* t) {
  KalmanFilter_Free(&t->farHalf.filter);
  KalmanFilter_Free(&t->nearHalf.filter);
  delete t;
}

// Grading and the background of the next step (steps 1 to 3).
void GradeStrip(BSDSIFObject* obj) {
  const uint8_t* cur = obj->slots[obj->readIndex.load(std::memory_order_relaxed)];
  const uint8_t* ref = obj->history[obj->historyRef];
  std::memcpy(obj->history[obj->historyStore], cur, kBsdsifStrip);
  obj->historyRef = (obj->historyRef + 1) % kBsdsifHistory;
  obj->historyStore = (obj->historyStore + 1) % kBsdsifHistory;
  std::memset(obj->rowHistogram, 0, sizeof(uint32_t) * kBsdsifRows * 64);
  const bool bright = obj->secondSwitch.load(std::memory_order_relaxed) != 0;
  for (int32_t r = 0; r < kBsdsifRows; ++r) {
    const int32_t b = obj->rowBackground[r] & 0xFF;
    int32_t sum = 0, count = 0, binSum = 0;
    uint32_t* hist = obj->rowHistogram + static_cast<size_t>(r) * 64;
    for (int32_t c = 0; c < kBsdsifCols; ++c) {
      const int32_t p = cur[r * kBsdsifCols + c], q = ref[r * kBsdsifCols + c];
      bool steady;
      int32_t g = p;
      if (b == 0) {
        steady = std::abs(p - q) <= 11;
      } else {
        steady = std::abs(p - b) <= 35 && std::abs(p - q) <= 11;
        if (steady) g = b;
      }
      if (steady) {
        sum += p;
        ++count;
      }
      const int32_t bin = bright ? (g > 200 ? g - 200 : 0) : g / 4;
      hist[bin] += 1;
      binSum += bin;
    }
    obj->rowSimilarSum[r] = sum;
    obj->rowSimilarCount[r] = count;
    obj->rowBinSum[r] = binSum;
  }
  auto clampRow = [](int32_t k) { return std::min(std::max(k, 0), kBsdsifRows - 1); };
  int64_t sum = 0, count = 0;
  for (int32_t k = -40; k <= 40; ++k) {
    sum += obj->rowSimilarSum[clampRow(k)];
    count += obj->rowSimilarCount[clampRow(k)];
  }
  for (int32_t j = 0; j < kBsdsifRows; ++j) {
    if (j > 0) {
      sum += obj->rowSimilarSum[clampRow(j + 40)] - obj->rowSimilarSum[clampRow(j - 41)];
      count += obj->rowSimilarCount[clampRow(j + 40)] - obj->rowSimilarCount[clampRow(j - 41)];
    }
    obj->rowBackground[j] = count > 0 ? static_cast<int32_t>(sum / count) : 0;
  }
}

// Window ratios (step 4); returns their mean.
float WindowRatios(BSDSIFObject* obj) {
  uint32_t* wh = obj->windowHistogram;
  std::memset(wh, 0, sizeof(obj->windowHistogram));
  int64_t S = 0;
  for (int32_t r = 0; r < 9; ++r) {
    const uint32_t* h = obj->rowHistogram + static_cast<size_t>(r) * 64;
    for (int b = 0; b < 64; ++b) wh[b] += h[b];
    S += obj->rowBinSum[r];
  }
  double total = 0.0;
  for (int32_t j = 0; j < kBsdsifWindows; ++j) {
    if (j > 0) {
      const uint32_t* in = obj->rowHistogram + static_cast<size_t>(j + 8) * 64;
      const uint32_t* out = obj->rowHistogram + static_cast<size_t>(j - 1) * 64;
      for (int b = 0; b < 64; ++b) wh[b] += in[b] - out[b];
      S += obj->rowBinSum[j + 8] - obj->rowBinSum[j - 1];
    }
    const float m = static_cast<float>(S) / kWindowPixels;
    const int32_t k = std::min(static_cast<int32_t>(m + 0.5f), 64);
    float d = 0.0f;
    if (k > 0) {
      uint32_t cum = 0;
      float x = 0.0f;
      for (int32_t b = 0; b < k; ++b) {
        const uint32_t n = wh[b];
        if (n == 0) continue;
        cum += n;
        x += (b - m) * (b - m) * static_cast<float>(n) / kWindowPixels;
        if (cum > static_cast<uint32_t>(kLowTail)) break;
      }
      d = std::sqrt(x);
    }
    obj->windowRatio[j] = d / (m + 0.000001f);
    total += obj->windowRatio[j];
  }
  return static_cast<float>(total / kBsdsifWindows);
}

}  // namespace

void BSDSIF_FreeTargets(List* targets) {
  ListNode* cursor = nullptr;
  void* element = nullptr;
  List_Begin(targets, &cursor);
  while (List_Next(&cursor, &element)) FreeTarget(static_cast<BSDSIFTarget*>(element));
  List_Free(targets);
  *targets = List{};
}

void BSDSIF_ExtractRuns(int32_t n, const float* values, const float* positions, int32_t* count, BSDSIFRun* runs,
                        float high, float low) {
  const int32_t limit = std::max(*count, 1);
  int32_t kept = 0;
  bool inRun = false;
  int32_t first = 0, last = 0;
  for (int32_t j = 0; j < n && kept < limit; ++j) {
    bool close = false;
    if (!inRun) {
      if (values[j] > high) {
        inRun = true;
        first = last = j;
      }
    } else if (values[j] > high) {
      last = j;
    } else if (values[j] < low) {
      close = true;
    }
    if (inRun && j == n - 1) close = true;
    if (inRun && close) {
      inRun = false;
      const float far = positions[last], near = positions[first];
      if (far - near > 1000.0f) runs[kept++] = BSDSIFRun{far, near, 0};
    }
  }
  *count = kept;
}

float BSDSIF_TargetDistance(int32_t pass, const BSDSIFTarget* t, const BSDSIFRun* run) {
  const float dFar = std::fabs(t->farHalf.lastValue - run->far);
  const float dNear = std::fabs(t->nearHalf.lastValue - run->near);
  const bool cf = t->farHalf.confirmed != 0, cn = t->nearHalf.confirmed != 0;
  if (pass == 0) {
    if (cf && cn) return std::min(dFar, dNear);
    if (cf) return dFar;
    if (cn) return dNear;
    return 2500.1f;
  }
  if (cf || cn) return std::min(dFar, dNear);
  return (dFar + dNear) / 2.0f;
}

uint32_t BSDSIF_UpdateHalf(BSDSIFTrackHalf* h, float value) {
  float measurement = value;
  Matrix z{1, 1, &measurement};
  if (h->needsInit) {
    h->needsInit = 0;
    h->filter.statePost.data[0] = value;
    h->filter.statePost.data[1] = 0.0f;
    KalmanFilter_Predict(&h->filter, nullptr);
    KalmanFilter_Correct(&h->filter, &z);
    h->lastValue = value;
    return 1;
  }
  KalmanFilter_Predict(&h->filter, nullptr);
  const float u = KalmanFilter_Correct(&h->filter, &z)->data[1];
  if (u > 1500.0f || u < -1200.0f) {
    h->confirmed = 0;
    h->riseCount = 0;
    h->lastValue = value;
    return 0;
  }
  if (h->confirmed) {
    if (u > 20.0f && h->lastValue - value < 5.0f) {
      h->staleCount = std::max(h->staleCount - 1, 0);
    } else if (++h->staleCount > 11) {
      h->confirmed = 0;
      h->riseCount = 0;
    }
  } else if (u <= 20.0f) {
    h->riseCount = 0;
  } else {
    const float delta = value - h->lastValue;
    if (delta > 0.1f) {
      if (++h->riseCount == 1) h->riseStart = value;
    } else if (delta <= -5.0f) {
      h->riseCount = 0;
    }
  }
  h->lastValue = value;
  return 1;
}

void BSDSIF_ConfirmHalf(const BSDSIFObject*, BSDSIFTrackHalf* h, const BSDSIFTrackHalf* other) {
  if (h->confirmed || h->lastValue - h->riseStart < 1500.0f) return;
  const bool ok = other->confirmed
                      ? h->riseCount >= 4
                      : (h->riseCount >= 5 && (other->riseCount >= 5 || h->riseCount >= 8));
  if (ok) {
    h->confirmed = 1;
    h->staleCount = 0;
  }
}

uint32_t BSDSIF_UpdateTarget(BSDSIFObject* obj, BSDSIFTarget* t, BSDSIFRun* run) {
  const uint32_t a = BSDSIF_UpdateHalf(&t->farHalf, run->far);
  const uint32_t b = BSDSIF_UpdateHalf(&t->nearHalf, run->near);
  if (!a && !b) return 0;
  BSDSIF_ConfirmHalf(obj, &t->farHalf, &t->nearHalf);
  BSDSIF_ConfirmHalf(obj, &t->nearHalf, &t->farHalf);
  t->alarm = (t->nearHalf.confirmed || (t->farHalf.confirmed && t->farHalf.lastValue < obj->arcAt271 - 1.0f)) ? 1 : 0;
  t->matched = 1;
  return 1;
}

void BSDSIF_AssociateTargets(BSDSIFObject* obj, List* targets, int32_t count, BSDSIFRun* runs) {
  obj->stepResult = 0;
  for (int32_t pass = 0; pass < 2; ++pass) {
    ListNode* cursor = nullptr;
    void* element = nullptr;
    List_Begin(targets, &cursor);
    while (List_Next(&cursor, &element)) {
      BSDSIFTarget* t = static_cast<BSDSIFTarget*>(element);
      if (pass == 0)
        t->matched = 0;
      else if (t->matched)
        continue;
      if (count == 0) continue;
      int32_t best = -1;
      float bestDistance = 1000000.0f;
      for (int32_t i = 0; i < count; ++i) {
        const float d = BSDSIF_TargetDistance(pass, t, &runs[i]);
        if (d < bestDistance) {
          bestDistance = d;
          best = i;
        }
      }
      if (best < 0 || !(bestDistance < 2500.0f)) continue;
      if (BSDSIF_UpdateTarget(obj, t, &runs[best])) {
        obj->stepResult |= t->alarm;
        if (t->alarm) {
          obj->reportA = t->farHalf.lastValue;
          obj->reportB = t->nearHalf.lastValue;
        }
        runs[best].used = 1;
      }
    }
  }
  for (int32_t i = 0; i < count; ++i) {
    if (runs[i].used) continue;
    BSDSIFTarget* t = new BSDSIFTarget{};
    InitHalf(&t->farHalf);
    InitHalf(&t->nearHalf);
    t->matched = 1;
    t->alarm = 0;
    BSDSIF_UpdateTarget(obj, t, &runs[i]);
    List_PushFront(targets, t);
  }
  // A target survives only when some run updated it in this step.
  ListNode* cursor = nullptr;
  void* element = nullptr;
  List_Begin(targets, &cursor);
  std::vector<BSDSIFTarget*> gone;
  while (List_Next(&cursor, &element))
    if (!static_cast<BSDSIFTarget*>(element)->matched) gone.push_back(static_cast<BSDSIFTarget*>(element));
  for (BSDSIFTarget* t : gone) {
    List_Remove(targets, t);
    FreeTarget(t);
  }
}

void BSDSIF_Step(BSDSIFObject* obj) {
  if (!obj || !obj->inited) return;
  GradeStrip(obj);
  const float T = WindowRatios(obj) + 0.05f;
  float high, low;
  if (T >= 0.38f) {
    high = 0.38f;
    low = 0.33f;
  } else if (T > 0.21f) {
    high = T;
    low = std::max(T - 0.05f, 0.21f);
  } else {
    high = low = 0.21f;
  }
  int32_t count = kBsdsifMaxRuns;
  BSDSIF_ExtractRuns(kBsdsifWindows, obj->windowRatio, obj->arcLength, &count, obj->runs, high, low);
  if (count == 1 && obj->runs[0].far >= obj->arcAt271 - 1.0f && obj->runs[0].near <= obj->arcAt0 + 1.0f) count = 0;
  obj->runCount = count;
  BSDSIF_AssociateTargets(obj, &obj->targets, obj->runCount, obj->runs);
}
