#pragma once
// A list of target marks written as in the site drawings: "(xL-1500, yF)
// (xC+8.5S, yF-1.5S, -10) ...", each coordinate an anchor or symbol plus or
// minus constants and multiples of symbols. Parsed once, evaluated against
// the anchors and the layout's symbols of each call, so the tables read like
// the drawings they come from.
#include <cstdint>
#include <vector>

#include "calibration/solve/site_frame.h"
#include "frame/matrix_types.h"

enum WorldSymbol : int8_t {
  kSymConst = -1,
  kSymXC,
  kSymYC,
  kSymXL,
  kSymXR,
  kSymYF,
  kSymYB,
  kSymS,   // square size or the layout's length unit
  kSymH,   // layout 22: half the configured span
  kSymM,   // layout 26: margin
  kSymE,   // layout 10: outer offset
  kSymI,   // layout 10: inner offset
  kSymO,   // layout 2: outer x
  kSymIn,  // layout 2: inner x ("I")
  kSymF,   // layout 2: far y
  kSymN,   // layout 2: near y
  kSymC1,  // layout 26 corrections
  kSymC2,
  kSymC3,
  kSymC4,
  kSymX,   // a loop's x
  kSymY,   // a loop's y
  kSymCount
};

// Values of the symbols for one evaluation; the anchors from the site.
struct WorldSymbols {
  float v[kSymCount] = {};
  WorldSymbols() = default;
  explicit WorldSymbols(const SiteAnchors& a);
};

class WorldPointList {
 public:
  struct Term {
    float coef;
    WorldSymbol sym;
  };
  struct Coord {
    Term terms[4];
    int32_t n = 0;
  };
  struct Point {
    Coord c[3];
    int32_t dims = 2;  // 3 when a height is given
  };

  // Parses the list; a malformed list is a programming error and aborts.
  explicit WorldPointList(const char* text);
  int32_t size() const { return static_cast<int32_t>(points_.size()); }
  // Value of coordinate k of point i. `adjust`, when given, rewrites each
  // constant term (layout 26's margin shift).
  float Eval(int32_t i, int32_t k, const WorldSymbols& s, float (*adjust)(float, float) = nullptr,
             float adjustArg = 0.0f) const;
  bool HasHeight(int32_t i) const { return points_[i].dims == 3; }

 private:
  std::vector<Point> points_;
};

// Writes the list's points into rows first.. of out: x and y, and z where the
// list gives a height. Refuses (writes nothing, returns false) when the rows
// do not fit the matrix or it has fewer than three columns.
bool WorldPoints_WriteList(Matrix* out, int32_t first, const WorldPointList& list, const WorldSymbols& s,
                           float (*adjust)(float, float) = nullptr, float adjustArg = 0.0f);
// One point (x, y) at row, when it fits.
bool WorldPoints_Put(Matrix* out, int32_t row, float x, float y);
// z of one row, when it fits.
void WorldPoints_PutZ(Matrix* out, int32_t row, float z);
// True when rows first..first+n-1 fit the matrix.
bool WorldPoints_Fits(const Matrix* out, int32_t first, int32_t n);
