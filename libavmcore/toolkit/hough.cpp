#include "toolkit/hough.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "toolkit/float_lanes.h"

namespace {

int32_t NumRho(int32_t width, int32_t height, float rhoStep) {
  return static_cast<int32_t>(
      static_cast<double>(static_cast<float>(2 * (width + height) + 1) / rhoStep) + 0.5);
}

struct TrigTable {
  float sinTab[kHoughMaxAngles];
  float cosTab[kHoughMaxAngles];
};

void BuildTrig(TrigTable* t, int32_t angleCount, float thetaFirst, float thetaStep, float rhoStep) {
  const float irho = 1.0f / rhoStep;
  float a = thetaFirst;
  for (int32_t n = 0; n < angleCount; ++n) {
    t->sinTab[n] = std::sin(a) * irho;
    t->cosTab[n] = std::cos(a) * irho;
    a += thetaStep;
  }
}

inline int32_t RhoCell(const TrigTable& t, int32_t n, int32_t row, int32_t col, int32_t offset) {
  const float v = float_lanes::MulAdd(static_cast<float>(col), t.sinTab[n], static_cast<float>(row) * t.cosTab[n]);
  return static_cast<int32_t>(v) + offset;
}

// One 16.16 fixed-point walk along the line of one angle: the major axis
// steps by one pixel, the minor one by a fixed-point fraction.
struct LineStep {
  bool columnMajor;
  int32_t major;  // +1 or -1 per step along the major axis
  int32_t minor;  // 16.16 step of the other axis
};

LineStep StepFor(const TrigTable& t, int32_t n) {
  const float a = -t.cosTab[n];  // column direction
  const float b = t.sinTab[n];   // row direction
  LineStep s;
  if (b > 0.0f) {
    if (std::fabs(a) > b) {
      s.columnMajor = true;
      s.major = a > 0.0f ? 1 : -1;
      s.minor = static_cast<int32_t>(b * 65536.0f / std::fabs(a));
    } else {
      s.columnMajor = false;
      s.major = 1;
      s.minor = static_cast<int32_t>(a * 65536.0f / std::fabs(b));
    }
  } else {
    if (std::fabs(a) > -b) {
      s.columnMajor = true;
      s.major = a > 0.0f ? 1 : -1;
      s.minor = static_cast<int32_t>(b * 65536.0f / std::fabs(a));
    } else {
      s.columnMajor = false;
      s.major = -1;
      s.minor = static_cast<int32_t>(a * 65536.0f / std::fabs(b));
    }
  }
  return s;
}

// Walk position: the major coordinate as an integer, the minor one in 16.16.
struct WalkPos {
  int32_t major;
  int32_t minorFix;
};

WalkPos StartAt(const LineStep& s, int32_t row, int32_t col) {
  if (s.columnMajor) return {col, static_cast<int32_t>((static_cast<uint32_t>(row) << 16) | 0x8000u)};
  return {row, static_cast<int32_t>((static_cast<uint32_t>(col) << 16) | 0x8000u)};
}

inline void Advance(const LineStep& s, WalkPos* p, int32_t dir) {
  p->major += dir * s.major;
  p->minorFix += dir * s.minor;
}

inline void PixelOf(const LineStep& s, const WalkPos& p, int32_t* row, int32_t* col) {
  if (s.columnMajor) {
    *col = p.major;
    *row = p.minorFix >> 16;
  } else {
    *row = p.major;
    *col = p.minorFix >> 16;
  }
}

void FillSegment(const Hough* h, HoughSegment* seg, int32_t row0, int32_t col0, int32_t row1,
                 int32_t col1) {
  seg->row0 = row0;
  seg->col0 = col0;
  seg->row1 = row1;
  seg->col1 = col1;
  seg->angleDeg = static_cast<float>(std::atan2(static_cast<double>(row1 - row0),
                                                static_cast<double>(col1 - col0)) *
                                     180.0 / 3.1415927410125732);
  const float slope = static_cast<float>(col1 - col0) / static_cast<float>(row1 - row0);
  seg->baseCol = static_cast<float>(col1) + static_cast<float>(h->baseRow - 1 - row1) * slope;
  seg->reserved = 0;
}

void OrderedSegment(const Hough* h, HoughSegment* seg, int32_t ra, int32_t ca, int32_t rb, int32_t cb) {
  if (rb < ra)
    FillSegment(h, seg, rb, cb, ra, ca);
  else
    FillSegment(h, seg, ra, ca, rb, cb);
}

// Accumulator index of the point's cell at each of the first `angles`
// angles, in a loop the compiler vectorises; the callers then touch the
// cells (each angle's row lies far from the last: with the addresses known
// up front their cache misses overlap).
void RhoCells(const TrigTable& t, int32_t angles, int32_t numRho, int32_t row, int32_t col, int32_t* index) {
  const int32_t offset = (numRho - 1) >> 1;
  for (int32_t n = 0; n < angles; ++n) index[n] = n * numRho + RhoCell(t, n, row, col, offset);
}

// Removes a point's votes from every angle (the random detectors keep their
// accumulator over the whole call).
void Unvote(Hough* h, const TrigTable& t, int32_t numRho, int32_t row, int32_t col) {
  int32_t index[kHoughMaxAngles];
  RhoCells(t, h->angleCount, numRho, row, col, index);
  for (int32_t n = 0; n < h->angleCount; ++n) h->accumulator[index[n]] -= 1;
}

// Clears the five-pixel strip across the walk at (row, col), unvoting its
// points when a trig table is given. The strip runs along the row for
// row-major (steep) walks; for column-major (flat) walks it runs along the
// column, since a strip along the row would clear the line ahead of the walk
// and cut every flat segment down to one point.
void ClearStrip(Hough* h, const TrigTable* t, int32_t numRho, bool columnMajor, int32_t row, int32_t col) {
  static const int32_t kOffsets[5] = {0, -1, 1, -2, 2};
  for (int32_t d : kOffsets) {
    const int32_t r = columnMajor ? row + d : row;
    const int32_t c = columnMajor ? col : col + d;
    if (r < 0 || r >= h->height || c < 0 || c >= h->width) continue;
    uint8_t& m = h->mask[r * h->width + c];
    if (!m) continue;
    if (t) Unvote(h, *t, numRho, r, c);
    m = 0;
  }
}

// Walks both ways from (row, col); each direction's end is the last pixel
// found set in the mask. The strip along the walk leaves the mask.
void TwoWayWalk(Hough* h, const TrigTable& t, int32_t n, int32_t row, int32_t col, bool unvote,
                int32_t numRho, int32_t ends[2][2]) {
  const LineStep s = StepFor(t, n);
  for (int32_t k = 0; k < 2; ++k) {
    ends[k][0] = row;
    ends[k][1] = col;
    const int32_t dir = k == 0 ? 1 : -1;
    for (WalkPos p = StartAt(s, row, col);; Advance(s, &p, dir)) {
      int32_t r, c;
      PixelOf(s, p, &r, &c);
      if (r < 0 || r >= h->height || c < 0 || c >= h->width) break;
      if (h->mask[r * h->width + c]) {
        ends[k][0] = r;
        ends[k][1] = c;
      }
      ClearStrip(h, unvote ? &t : nullptr, numRho, s.columnMajor, r, c);
    }
  }
}

bool AnglesUsable(const Hough* h, int32_t angleCount) {
  return h->accumulator && angleCount >= 1 && angleCount <= h->angleCount &&
         angleCount <= kHoughMaxAngles;
}

// Draws the next available point at random from the pool (the pool shrinks
// by one per draw); false when the pool is empty.
bool DrawPoint(Hough* h, int32_t* remaining, int32_t* row, int32_t* col) {
  while (*remaining > 0) {
    const int32_t idx = rand() % *remaining;
    const PointI32 p = h->points[idx];
    h->points[idx] = h->points[*remaining - 1];
    *remaining -= 1;
    if (h->mask[p.p0 * h->width + p.p1]) {
      *row = p.p0;
      *col = p.p1;
      return true;
    }
  }
  return false;
}

// Votes one point at every angle; returns the best new count (from
// threshold - 1, first strict maximum) and its angle.
int32_t VoteBest(Hough* h, const TrigTable& t, int32_t numRho, int32_t row, int32_t col, int32_t* bestAngle) {
  int32_t index[kHoughMaxAngles];
  RhoCells(t, h->angleCount, numRho, row, col, index);
  int32_t best = h->threshold - 1;
  *bestAngle = 0;
  for (int32_t n = 0; n < h->angleCount; ++n) {
    const int32_t v = ++h->accumulator[index[n]];
    if (v > best) {
      best = v;
      *bestAngle = n;
    }
  }
  return best;
}

}  // namespace

int32_t Hough_Create(Hough* hough, int32_t width, int32_t height, int32_t angleCount,
                     int32_t threshold, int32_t baseRow, float rhoStep, float thetaStep,
                     float thetaFirst) {
  hough->accumulator = nullptr;
  hough->mask = nullptr;
  hough->points = nullptr;
  hough->pointCount = 0;
  hough->maxPoints = 0;
  if (width < 1 || height < 1 || !(rhoStep > 0.0f) || angleCount < 1 || angleCount > kHoughMaxAngles)
    return 0;
  hough->width = width;
  hough->height = height;
  hough->rhoStep = rhoStep;
  hough->thetaStep = thetaStep;
  hough->thetaFirst = thetaFirst;
  hough->angleCount = angleCount;
  hough->threshold = threshold;
  hough->baseRow = baseRow;
  const int32_t numRho = NumRho(width, height, rhoStep);
  hough->accumulator =
      static_cast<int32_t*>(calloc(static_cast<size_t>(numRho) * angleCount, sizeof(int32_t)));
  hough->mask = static_cast<uint8_t*>(malloc(static_cast<size_t>(width) * height));
  hough->maxPoints = static_cast<int32_t>((static_cast<int64_t>(width) * height) / 4);
  hough->points = static_cast<PointI32*>(malloc(sizeof(PointI32) * static_cast<size_t>(hough->maxPoints > 0 ? hough->maxPoints : 1)));
  return 1;
}

void Hough_Destroy(Hough* hough) {
  free(hough->accumulator);
  free(hough->mask);
  free(hough->points);
  hough->accumulator = nullptr;
  hough->mask = nullptr;
  hough->points = nullptr;
}

void Hough_CollectPointsF(Hough* hough, const Matrix* img) {
  if (!hough->mask) return;
  memset(hough->mask, 0, static_cast<size_t>(hough->width) * hough->height);
  int32_t n = 0;
  for (int32_t row = 0; row < hough->height && n < hough->maxPoints; ++row) {
    const float* src = img->data + static_cast<size_t>(row) * img->cols;
    for (int32_t col = 0; col < hough->width; ++col) {
      if (!(src[col] > 0.0f)) continue;
      hough->mask[row * hough->width + col] = 1;
      hough->points[n++] = {row, col};
      if (n >= hough->maxPoints) break;
    }
  }
  hough->pointCount = n;
}

void Hough_CollectPointsU8(Hough* hough, const ImageU8* img) {
  if (!hough->mask) return;
  memset(hough->mask, 0, static_cast<size_t>(hough->width) * hough->height);
  int32_t n = 0;
  for (int32_t row = 0; row < hough->height && n < hough->maxPoints; ++row) {
    const uint8_t* src = img->data + static_cast<size_t>(row) * img->width;
    for (int32_t col = 0; col < hough->width; ++col) {
      if (!src[col]) continue;
      hough->mask[row * hough->width + col] = 1;
      hough->points[n++] = {row, col};
      if (n >= hough->maxPoints) break;
    }
  }
  hough->pointCount = n;
}

void Hough_DetectSegments(Hough* hough, HoughSegment* segments, int32_t* count,
                          int32_t angleCount, int32_t threshold, float thetaFirst) {
  const int32_t wanted = *count;
  if (!AnglesUsable(hough, angleCount) || hough->pointCount == 0 || wanted < 1) {
    *count = 0;
    return;
  }
  const int32_t numRho = NumRho(hough->width, hough->height, hough->rhoStep);
  const int32_t offset = (numRho - 1) >> 1;
  TrigTable t;
  BuildTrig(&t, angleCount, thetaFirst, hough->thetaStep, hough->rhoStep);
  const size_t cells = static_cast<size_t>(numRho) * angleCount;
  int32_t found = 0;
  while (found < wanted) {
    memset(hough->accumulator, 0, cells * sizeof(int32_t));
    int32_t best = threshold - 1, bestAngle = -1, bestRow = 0, bestCol = 0;
    for (int32_t i = 0; i < hough->pointCount; ++i) {
      const PointI32 p = hough->points[i];
      if (!hough->mask[p.p0 * hough->width + p.p1]) continue;
      for (int32_t n = 0; n < angleCount; ++n) {
        const int32_t v = ++hough->accumulator[n * numRho + RhoCell(t, n, p.p0, p.p1, offset)];
        if (v > best) {
          best = v;
          bestAngle = n;
          bestRow = p.p0;
          bestCol = p.p1;
        }
      }
    }
    if (best < threshold || bestAngle < 0) break;
    int32_t ends[2][2];
    TwoWayWalk(hough, t, bestAngle, bestRow, bestCol, false, numRho, ends);
    OrderedSegment(hough, &segments[found], ends[0][0], ends[0][1], ends[1][0], ends[1][1]);
    ++found;
  }
  *count = found;
}

void Hough_Detect(Hough* hough, HoughSegment* segments, int32_t* count) {
  Hough_DetectSegments(hough, segments, count, hough->angleCount, hough->threshold, hough->thetaFirst);
}

void Hough_DetectSegmentsRandom(Hough* hough, HoughSegment* segments, int32_t* count) {
  const int32_t wanted = *count;
  if (!AnglesUsable(hough, hough->angleCount) || hough->pointCount == 0 || wanted < 1) {
    *count = 0;
    return;
  }
  const int32_t numRho = NumRho(hough->width, hough->height, hough->rhoStep);
  memset(hough->accumulator, 0, static_cast<size_t>(numRho) * hough->angleCount * sizeof(int32_t));
  TrigTable t;
  BuildTrig(&t, hough->angleCount, hough->thetaFirst, hough->thetaStep, hough->rhoStep);
  srand(static_cast<unsigned>(time(nullptr)));

  const int32_t w = hough->width, h = hough->height;
  int32_t remaining = hough->pointCount, found = 0, row, col;
  while (found < wanted && DrawPoint(hough, &remaining, &row, &col)) {
    int32_t n;
    if (VoteBest(hough, t, numRho, row, col, &n) < hough->threshold) continue;

    // Walk the whole line across the image in one direction: steep lines from
    // the bottom row upwards, flat ones from the left column rightwards.
    const LineStep s = StepFor(t, n);
    WalkPos p = StartAt(s, row, col);
    int32_t dir, steps, lastMajor;
    if (!s.columnMajor) {
      dir = s.major == 1 ? -1 : 1;  // direction in which the row decreases
      steps = h - 1 - row;
      lastMajor = 0;
    } else {
      dir = s.major == 1 ? 1 : -1;  // direction in which the column increases
      steps = col;
      lastMajor = w - 1;
    }
    for (int32_t k = 0; k < steps; ++k) Advance(s, &p, -dir);

    bool haveStart = false, runOpen = false;
    int32_t hits = 0, gap = 0;
    int32_t runFirst[2] = {0, 0}, runLast[2] = {0, 0}, start[2] = {0, 0}, end[2] = {0, 0};
    auto closeRun = [&]() {
      if (hits >= 3) {
        if (!haveStart) {
          start[0] = runFirst[0];
          start[1] = runFirst[1];
          haveStart = true;
        }
        end[0] = runLast[0];
        end[1] = runLast[1];
      }
      hits = 0;
      runOpen = false;
    };
    for (;; Advance(s, &p, dir)) {
      int32_t r, c;
      PixelOf(s, p, &r, &c);
      const int32_t major = s.columnMajor ? c : r;
      if (major < 0 || (s.columnMajor ? major >= w : major >= h)) break;
      if (r < 0 || r >= h || c < 0 || c >= w) continue;  // off the image sideways
      if (hough->mask[r * w + c]) {
        if (hits == 0) {
          runFirst[0] = r;
          runFirst[1] = c;
        }
        runLast[0] = r;
        runLast[1] = c;
        ++hits;
        runOpen = true;
        gap = 0;
      } else {
        ++gap;
      }
      if (major == lastMajor || gap == 8) closeRun();
      ClearStrip(hough, &t, numRho, s.columnMajor, r, c);
    }
    if (runOpen) closeRun();  // the line left the image sideways before its last row
    if (haveStart) {
      FillSegment(hough, &segments[found], end[0], end[1], start[0], start[1]);
      ++found;
    }
  }
  *count = found;
}

void Hough_DetectSegmentsRandomBidir(Hough* hough, HoughSegment* segments, int32_t* count) {
  const int32_t wanted = *count;
  if (!AnglesUsable(hough, hough->angleCount) || hough->pointCount == 0 || wanted < 1) {
    *count = 0;
    return;
  }
  const int32_t numRho = NumRho(hough->width, hough->height, hough->rhoStep);
  memset(hough->accumulator, 0, static_cast<size_t>(numRho) * hough->angleCount * sizeof(int32_t));
  TrigTable t;
  BuildTrig(&t, hough->angleCount, hough->thetaFirst, hough->thetaStep, hough->rhoStep);
  srand(static_cast<unsigned>(time(nullptr)));

  int32_t remaining = hough->pointCount, found = 0, row, col;
  while (found < wanted && DrawPoint(hough, &remaining, &row, &col)) {
    int32_t n;
    if (VoteBest(hough, t, numRho, row, col, &n) < hough->threshold) continue;
    int32_t ends[2][2];
    TwoWayWalk(hough, t, n, row, col, true, numRho, ends);
    OrderedSegment(hough, &segments[found], ends[0][0], ends[0][1], ends[1][0], ends[1][1]);
    ++found;
  }
  *count = found;
}
