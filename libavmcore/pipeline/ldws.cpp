#include "pipeline/ldws.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "frame/clock.h"
#include "frame/log.h"

namespace {

// Predict and correct; returns {value, rate}.
void Track(KalmanFilter* kf, float measured, float* value, float* rate) {
  if (kf->block == nullptr) {
    *value = measured;
    *rate = 0;
    return;
  }
  KalmanFilter_Predict(kf, nullptr);
  Matrix z{1, 1, &measured};
  const Matrix* s = KalmanFilter_Correct(kf, &z);
  *value = s->data[0];
  *rate = s->data[1];
}

void ResetFilterTo(KalmanFilter* kf, float v) {
  if (kf->block == nullptr) return;
  // Both states: a correction without a prediction starts from statePre.
  kf->statePost.data[0] = kf->statePre.data[0] = v;
  kf->statePost.data[1] = kf->statePre.data[1] = 0;
  kf->errorCovPost.data[0] = kf->errorCovPost.data[3] = 1.0f;
  kf->errorCovPost.data[1] = kf->errorCovPost.data[2] = 0.0f;
  kf->errorCovPre.data[0] = kf->errorCovPre.data[3] = 1.0f;
  kf->errorCovPre.data[1] = kf->errorCovPre.data[2] = 0.0f;
}

inline int32_t Div(int32_t a, int32_t b) { return b != 0 ? a / b : 0; }

void Geometry(LDWSState* s, int32_t parameter) {
  const int32_t margin = parameter > 0 ? 300 : (parameter < 0 ? -200 : 0);
  s->widthCells = Div(s->vehicleWidth + margin, s->cell);
  s->leftBound = s->columns / 2 - 1 - s->widthCells / 2;
  s->rightBound = s->columns / 2 + s->widthCells / 2;
  s->innerLeft = s->leftBound + 6;
  s->innerRight = s->rightBound - 6;
}

void Forget(LDWSState* s, const LDWSTrack* t) {
  if (s->left == t || s->right == t) {
    s->left = s->right = nullptr;
    s->laneTracked = 0;
  }
  if (s->lastLeft == t || s->lastRight == t) {
    s->lastLeft = s->lastRight = nullptr;
    s->confirmCount = 0;
  }
}

void RebuildArray(LDWSState* s) {
  s->currentCount = 0;
  if (s->laneTracked.load() != 0 && s->left != nullptr && s->right != nullptr) {
    s->current[s->currentCount++] = s->left;
    s->current[s->currentCount++] = s->right;
  }
  for (LDWSTrack& t : s->tracks) {
    if (s->currentCount >= kLdwsMaxTracks) break;
    if (s->laneTracked.load() != 0 && (&t == s->left || &t == s->right)) continue;
    s->current[s->currentCount++] = &t;
  }
}

void TrackLines(LDWSState* s, HoughSegment* segs, int32_t count) {
  RebuildArray(s);
  for (int32_t i = 0; i < s->currentCount; ++i) {
    LDWSTrack* t = s->current[i];
    int32_t best = -1;
    float bestD = 1000.0f;
    for (int32_t k = 0; k < count; ++k) {
      if (segs[k].reserved != 0 || std::fabs(segs[k].angleDeg - t->angle) > 6.0f) continue;
      const float d = std::fabs(segs[k].baseCol - t->column);
      if (d < bestD) {
        bestD = d;
        best = k;
      }
    }
    bool match = false;
    if (best >= 0) {
      const HoughSegment& g = segs[best];
      const float ds = std::fabs(g.angleDeg - 90.0f), dt = std::fabs(t->angle - 90.0f);
      const float m = std::min(5.0f, std::max(ds, dt));
      const float leaning = ds >= dt ? g.angleDeg : t->angle;
      const float d = g.baseCol - t->column;
      match = leaning < 90.0f ? (d > -5.0f - m && d < 5.0f) : (d > -5.0f && d < 5.0f + m);
    }
    if (match) {
      HoughSegment& g = segs[best];
      t->topRow = std::min(t->topRow, g.row0);
      t->bottomRow = std::max(t->bottomRow, g.row1);
      t->latestTop = g.row0;
      t->column = g.baseCol;
      t->angle = g.angleDeg;
      const bool offVertical = std::fabs(g.angleDeg - 90.0f) >= 5.0f;
      if (g.row0 >= s->refRow)
        t->ahead = offVertical ? 0 : std::max(0, t->ahead - 1);
      else
        t->ahead = s->filteredWidth <= s->width3a - 2 ? 1 : (!offVertical ? 6 : 1);
      Track(&t->filter, g.baseCol, &t->filtColumn, &t->filtRate);
      g.reserved = 1;
      t->matched = 1;
      t->age = std::min(35, t->age + 1);
    } else {
      t->ahead = 0;
      t->age -= 1;
      t->matched = 0;
    }
  }
  for (auto it = s->tracks.begin(); it != s->tracks.end();) {
    if (it->age <= 0) {
      Forget(s, &*it);
      it = s->tracks.erase(it);
    } else {
      ++it;
    }
  }
  for (int32_t k = 0; k < std::min(count, 5); ++k) {
    if (segs[k].reserved != 0) continue;
    s->tracks.emplace_back();
    LDWSTrack& t = s->tracks.back();
    t.age = 1;
    t.topRow = t.latestTop = t.pairingTop = segs[k].row0;
    t.bottomRow = segs[k].row1;
    t.column = segs[k].baseCol;
    t.angle = t.prevAngle = segs[k].angleDeg;
    KalmanFilter_InitLevelRate(&t.filter, 0.0001f, 0.1f);
    ResetFilterTo(&t.filter, t.column);
    float m = t.column;
    if (t.filter.block != nullptr) {
      Matrix z{1, 1, &m};
      const Matrix* st = KalmanFilter_Correct(&t.filter, &z);
      t.filtColumn = st->data[0];
      t.filtRate = st->data[1];
    } else {
      t.filtColumn = t.column;
    }
  }
  RebuildArray(s);
}

LDWSTrack* BestNeighbour(LDWSState* s, const LDWSTrack* from, bool toRight) {
  LDWSTrack* best = nullptr;
  float bestErr = 1e9f;
  for (LDWSTrack& t : s->tracks) {
    if (&t == s->left || &t == s->right || t.matched == 0 || t.age <= 16) continue;
    const float gap = toRight ? t.column - from->column : from->column - t.column;
    if (gap < s->minLane || gap > s->maxLane || std::fabs(t.angle - from->angle) > 3.0f) continue;
    const float err = std::fabs(gap - s->nominal);
    if (err < bestErr) {
      bestErr = err;
      best = &t;
    }
  }
  return best;
}

void ResetWidth(LDWSState* s, float gap) {
  ResetFilterTo(&s->widthFilter, gap);
  float rate;
  Track(&s->widthFilter, gap, &s->filteredWidth, &rate);
  s->laneWidth = gap;
}

void FollowLanes(LDWSState* s) {
  if (s->laneTracked.load() == 0 || s->left == nullptr || s->right == nullptr) return;
  LDWSTrack* L = s->left;
  LDWSTrack* R = s->right;
  if (s->crossCount >= 6) {
    if (++s->missCount >= 3) Forget(s, L);
    return;
  }
  const float W = s->filteredWidth;
  bool lm = L->matched != 0, rm = R->matched != 0;
  if (lm && rm) {
    const float gap = R->column - L->column;
    if (std::fabs(gap - W) <= 4.8f && gap >= s->minLane) {
      s->missCount = 0;
      float rate;
      Track(&s->widthFilter, gap, &s->filteredWidth, &rate);
      s->laneWidth = gap;
    } else if (std::fabs(L->filtRate) > std::fabs(R->filtRate)) {
      lm = false;
    } else {
      rm = false;
    }
  }
  if (lm && !rm) {
    R->column = L->column + W;
    R->angle += L->angle - L->prevAngle;
    Track(&R->filter, R->column, &R->filtColumn, &R->filtRate);
    s->missCount = std::max(0, s->missCount - 1);
  } else if (rm && !lm) {
    L->column = R->column - W;
    L->angle += R->angle - R->prevAngle;
    Track(&L->filter, L->column, &L->filtColumn, &L->filtRate);
    s->missCount = std::max(0, s->missCount - 1);
  } else if (!lm && !rm) {
    if (++s->missCount > 3) {
      Forget(s, L);
      return;
    }
  }
  L->prevAngle = L->angle;
  R->prevAngle = R->angle;
  if (rm && L->column < 14) {
    LDWSTrack* n = BestNeighbour(s, R, true);
    if (n != nullptr) {
      s->left = R;
      s->right = n;
      s->missCount = 0;
      ResetWidth(s, n->column - R->column);
    }
  } else if (lm && R->column > s->columns - 14) {
    LDWSTrack* n = BestNeighbour(s, L, false);
    if (n != nullptr) {
      s->right = L;
      s->left = n;
      s->missCount = 0;
      ResetWidth(s, L->column - n->column);
    }
  }
}

bool AnglesFine(const LDWSTrack* a, const LDWSTrack* b) {
  return std::fabs(a->angle - 90.0f) <= 5.0f && std::fabs(b->angle - 90.0f) <= 5.0f;
}

void SelectLanePair(LDWSState* s) {
  auto clear = [s](bool pairToo) {
    s->confirmCount = 0;
    if (pairToo) s->lastLeft = s->lastRight = nullptr;
  };
  if (s->currentCount < 2) return clear(false);
  if (s->crossCount > 4) return clear(true);
  struct Pair {
    LDWSTrack* l;
    LDWSTrack* r;
    float gap;
  };
  Pair best{nullptr, nullptr, 0}, second{nullptr, nullptr, 0};
  float bestScore = 10000, secondScore = 10000;
  int32_t candidates = 0;
  for (int32_t i = 0; i < s->currentCount; ++i)
    for (int32_t j = i + 1; j < s->currentCount; ++j) {
      LDWSTrack* a = s->current[i];
      LDWSTrack* b = s->current[j];
      if (a->matched == 0 || b->matched == 0 || a->age < 7 || b->age < 7) continue;
      LDWSTrack* l = a->column <= b->column ? a : b;
      LDWSTrack* r = l == a ? b : a;
      const float gap = r->column - l->column;
      if (gap < s->minLane || gap > s->maxLane || std::fabs(a->angle - b->angle) > 3.0f) continue;
      const float centreErr = std::fabs(l->column + r->column - s->columns - 1);
      if (gap < s->narrow && centreErr > 30) continue;
      ++candidates;
      const float score = centreErr + std::fabs(gap - s->nominal);
      if (score < bestScore) {
        second = best;
        secondScore = bestScore;
        best = {l, r, gap};
        bestScore = score;
      } else if (score < secondScore) {
        second = {l, r, gap};
        secondScore = score;
      }
    }
  if (candidates == 0) return clear(true);
  Pair chosen = best;
  if (candidates >= 2 && second.l != nullptr) {
    const Pair& P = best;
    const Pair& Q = second;
    const float Lp = P.l->column, Rp = P.r->column, Lq = Q.l->column, Rq = Q.r->column;
    if (Q.l == P.l) {
      if (Rq < Rp) {
        if (Q.gap > s->narrow && Rp - Rq < 16) chosen = Q;
      } else if (Rp > s->leftBound && Rp < s->rightBound && P.gap < s->narrow && Rq - Rp > 16) {
        chosen = Q;
      }
    } else if (Q.r == P.r) {
      if (Lq > Lp) {
        if (Q.gap > s->narrow && Lq - Lp < 16) chosen = Q;
      } else if (Lp > s->leftBound && Lp < s->rightBound && P.gap < s->narrow && Lp - Lq > 16) {
        chosen = Q;
      }
    }
  }
  const bool tracked = s->laneTracked.load() != 0;
  if (tracked && chosen.l == s->left && chosen.r == s->right) return clear(true);
  if (s->confirmCount > 0 && chosen.l == s->lastLeft && chosen.r == s->lastRight) {
    if (std::fabs(chosen.gap - s->lastGap) > 3.5f) return clear(true);
    if (tracked && !AnglesFine(chosen.l, chosen.r)) return clear(true);
    chosen.l->pairingTop = std::min(chosen.l->pairingTop, chosen.l->latestTop);
    chosen.r->pairingTop = std::min(chosen.r->pairingTop, chosen.r->latestTop);
    ++s->confirmCount;
  } else {
    s->lastLeft = chosen.l;
    s->lastRight = chosen.r;
    s->lastGap = chosen.gap;
    if (tracked && !AnglesFine(chosen.l, chosen.r)) return clear(true);
    chosen.l->pairingTop = chosen.l->latestTop;
    chosen.r->pairingTop = chosen.r->latestTop;
    s->confirmCount = 1;
    return;
  }
  LDWSTrack* l = chosen.l;
  LDWSTrack* r = chosen.r;
  if (s->confirmCount < 3 || l->column <= 14 || r->column >= s->columns - 14 ||
      (l->pairingTop >= s->secondRow && r->pairingTop >= s->secondRow))
    return;
  if (!tracked) {
    if (l->age < 18 && r->age < 18) return;
  } else {
    const LDWSTrack* L = s->left;
    const LDWSTrack* R = s->right;
    const int32_t curAge = (L->matched ? L->age : 0) + (R->matched ? R->age : 0);
    const float curCentre = std::fabs((L->filtColumn + R->filtColumn) / 2 - s->columns / 2.0f);
    const int32_t newAge = l->age + r->age;
    const float newCentre = std::fabs((l->filtColumn + r->filtColumn) / 2 - s->columns / 2.0f);
    const float curGap = R->column - L->column;
    if (curGap >= s->narrow && curGap <= s->wide && (newAge + 5 < curAge || newCentre > curCentre) &&
        L->age > 17 && R->age > 17 && std::max(L->age, R->age) >= 31)
      return;
    if (chosen.gap < s->narrow || chosen.gap > s->wide) return;
    if (!(newAge > curAge + 5 || newCentre < curCentre)) return;
    if (l->age < 18 || r->age < 18 || std::max(l->age, r->age) < 31) return;
  }
  l->age = std::max(l->age, 17);
  r->age = std::max(r->age, 17);
  l->ahead = r->ahead = 0;
  s->left = l;
  s->right = r;
  s->laneTracked = 1;
  s->missCount = 0;
  s->confirmCount = 0;
  ResetWidth(s, r->filtColumn - l->filtColumn);
}

// Returns the new warning (0 none), or -1 when the result is to stay as it is.
int32_t Decide(LDWSState* s) {
  if (s->laneTracked.load() == 0 || s->left == nullptr || s->right == nullptr) return 0;
  const LDWSTrack* L = s->left;
  const LDWSTrack* R = s->right;
  const LDWSTrack* nearer = L->filtColumn + R->filtColumn > s->columns ? L : R;
  if (nearer->matched == 0) return 0;
  const float r = (L->filtRate + R->filtRate) / 2;
  const float c = nearer->filtColumn;
  const float p = c + 12 * r;
  const int32_t held = s->result.load();
  const float lo = s->leftBound - (held == 3 ? 4 : 0), hi = s->rightBound + (held == 4 ? 4 : 0);
  if (p < lo || p > hi || c < s->leftBound - 11 || c > s->rightBound + 11) return 0;
  const int32_t ahead = (L->matched && R->matched) ? std::max(L->ahead, R->ahead) : nearer->ahead;
  if (ahead == 0) return -1;
  const float centre = s->columns / 2 - 0.5f;
  if ((c < s->innerLeft && r > -0.3f) || (c < centre && r > 0)) return 3;
  if ((c > s->innerRight && r < 0.3f) || (c > centre && r < 0)) return 4;
  if (held == 3 && (c < centre + 8 || r < 0.3f)) return 3;
  if (held == 4 && (c > centre - 8 || r > -0.3f)) return 4;
  if (held == 0 && std::fabs(r) < 0.3f) {
    if (c >= s->innerLeft && c < centre) return 3;
    if (c > centre && c <= s->innerRight) return 4;
  }
  return 0;
}

}  // namespace

LDWSTrack::LDWSTrack() = default;
LDWSTrack::~LDWSTrack() { KalmanFilter_Free(&filter); }

int32_t LDWS_Init(LDWSState* s, const ADASConfig* c, int32_t parameter, uint32_t now) {
  if (s == nullptr || c == nullptr) return 0;
  LDWS_Release(s);
  const ImageI32& t = c->ldws;
  if (c->C[kAdasLdwsPresent] == 0 || t.data == nullptr || t.width != c->C[kAdasLdwsCols] ||
      t.height != c->C[kAdasLdwsRows] || t.width < 1 || t.height < 1)
    return 0;
  // The ground length is the sum of two configuration words; a sum beyond
  // the int range has no lane geometry, so lane departure stays off.
  const int64_t length = static_cast<int64_t>(c->C[12]) + c->C[13];
  if (length < INT32_MIN || length > INT32_MAX) {
    AvmLog("LDWS_Init: ground length %d + %d out of range, lane departure off\n", c->C[12], c->C[13]);
    return 0;
  }
  s->groundWidth = c->C[11];
  s->groundLength = static_cast<int32_t>(length);
  s->columns = c->C[kAdasLdwsCols];
  s->rows = c->C[kAdasLdwsRows];
  s->refRow = static_cast<int32_t>(s->groundLength != 0 ? static_cast<int64_t>(s->rows) * c->C[17] / s->groundLength : 0);
  s->secondRow = static_cast<int32_t>(s->groundLength != 0 ? static_cast<int64_t>(s->rows) * c->C[18] / s->groundLength : 0);
  s->cell = Div(s->groundWidth, s->columns);
  s->vehicleWidth = c->C[kAdasCarWidth];
  Geometry(s, parameter);
  s->minLane = Div(2400, s->cell);
  s->maxLane = Div(5300, s->cell);
  s->width3a = s->width3b = Div(3500, s->cell);
  s->nominal = Div(3200, s->cell);
  s->narrow = Div(2800, s->cell);
  s->wide = Div(4000, s->cell);
  s->holdMs = 300;
  s->resultTime = now;
  s->result = 0;
  KalmanFilter_InitLevelRate(&s->widthFilter, 1e-5f, 0.5f);
  // Table entries are checked against the frame once; one outside it gives
  // an empty cell.
  const int32_t fw = c->C[kAdasFrameWidth], fh = c->C[kAdasFrameHeight];
  s->frameWidth = fw;
  s->frameHeight = fh;
  const size_t n = static_cast<size_t>(s->columns) * s->rows;
  s->lumaOffset.assign(n, -1);
  s->chromaOffset.assign(n, -1);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t e = static_cast<uint32_t>(t.data[i]);
    const int32_t x = static_cast<int32_t>(e & 0xFFFFu), y = static_cast<int32_t>(e >> 16);
    if (x >= fw || y >= fh) continue;
    s->lumaOffset[i] = y * fw + x;
    s->chromaOffset[i] = fw * fh + (y / 2) * fw + (x / 2) * 2;
  }
  s->inited = 1;
  return 1;
}

void LDWS_ClearTracks(LDWSState* s) {
  s->tracks.clear();
  s->currentCount = 0;
  s->left = s->right = s->lastLeft = s->lastRight = nullptr;
  s->laneTracked = 0;
}

void LDWS_Release(LDWSState* s) {
  if (s == nullptr) return;
  LDWS_ClearTracks(s);
  KalmanFilter_Free(&s->widthFilter);
  s->widthFilter = KalmanFilter{};
  s->inited = 0;
}

void LDWS_Reset(LDWSState* s) {
  s->laneTracked = 0;
  s->confirmCount = 0;
  s->result = 0;
  LDWS_ClearTracks(s);
}

void LDWS_SetMargin(LDWSState* s, int32_t parameter) { Geometry(s, parameter); }
void LDWS_SetHoldTime(LDWSState* s, int32_t ms) { s->holdMs = ms; }
void LDWS_SetLaneWidth(LDWSState* s, float width) { ResetWidth(s, width); }

int32_t LDWS_CountCrossSegments(LDWSState* s, const HoughSegment* segs, int32_t count) {
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (std::fabs(segs[i].angleDeg - 90.0f) < 2.0f) continue;
    for (int32_t k = 0; k < count; ++k)
      if (k != i && std::fabs(segs[k].baseCol - segs[i].baseCol) < 25.0f) {
        ++n;
        break;
      }
  }
  if (s != nullptr) s->crossCount = n;
  return n;
}

void LDWS_UpdateResult(LDWSState* s, int32_t value, uint32_t now) {
  const int32_t held = s->result.load();
  if (value == 3 || value == 4) {
    if (held != 0 || now - s->resultTime > 1500) {
      s->result = value;
      s->resultTime = now;
    }
  } else if (held != 0 && now - s->resultTime > static_cast<uint32_t>(s->holdMs.load())) {
    s->result = 0;
  }
}

void LDWS_StepAt(LDWSState* s, HoughSegment* segs, int32_t count, uint32_t now) {
  if (s == nullptr || s->inited == 0) return;
  if (segs == nullptr) count = 0;
  LDWS_CountCrossSegments(s, segs, count);
  TrackLines(s, segs, count);
  FollowLanes(s);
  RebuildArray(s);
  SelectLanePair(s);
  const int32_t w = Decide(s);
  if (w >= 0) LDWS_UpdateResult(s, w, now);
}

void LDWS_Step(LDWSState* s, HoughSegment* segs, int32_t count) { LDWS_StepAt(s, segs, count, GetTickMs()); }
