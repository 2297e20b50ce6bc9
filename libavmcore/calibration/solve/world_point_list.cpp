#include "calibration/solve/world_point_list.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"

namespace {

struct SymbolName {
  const char* name;
  WorldSymbol sym;
};

// Longest names first, so that "xC" is not read as "x".
const SymbolName kNames[] = {{"xC", kSymXC}, {"yC", kSymYC}, {"xL", kSymXL}, {"xR", kSymXR}, {"yF", kSymYF},
                             {"yB", kSymYB}, {"c1", kSymC1}, {"c2", kSymC2}, {"c3", kSymC3}, {"c4", kSymC4},
                             {"S", kSymS},   {"h", kSymH},   {"m", kSymM},   {"e", kSymE},   {"i", kSymI},
                             {"O", kSymO},   {"I", kSymIn},  {"F", kSymF},   {"N", kSymN},   {"x", kSymX},
                             {"y", kSymY}};

[[noreturn]] void Malformed(const char* text, const char* at) {
  AvmLog("world point list malformed at offset %d: %s\n", static_cast<int>(at - text), text);
  abort();
}

void SkipSpace(const char*& p) {
  while (*p == ' ') ++p;
}

bool ReadSymbol(const char*& p, WorldSymbol* sym) {
  for (const SymbolName& n : kNames) {
    const size_t len = strlen(n.name);
    if (strncmp(p, n.name, len) == 0 && !isalnum(static_cast<unsigned char>(p[len]))) {
      *sym = n.sym;
      p += len;
      return true;
    }
  }
  return false;
}

// One coordinate: [sign] term { sign term }, up to ',' or ')'.
WorldPointList::Coord ParseCoord(const char* text, const char*& p) {
  WorldPointList::Coord c;
  SkipSpace(p);
  float sign = 1.0f;
  if (*p == '-') {
    sign = -1.0f;
    ++p;
  } else if (*p == '+') {
    ++p;
  }
  for (;;) {
    SkipSpace(p);
    if (c.n == 4) Malformed(text, p);
    WorldPointList::Term t{sign, kSymConst};
    if (isdigit(static_cast<unsigned char>(*p))) {
      char* end = nullptr;
      t.coef = sign * strtof(p, &end);
      p = end;
      WorldSymbol s;
      if (ReadSymbol(p, &s)) t.sym = s;
    } else if (!ReadSymbol(p, &t.sym)) {
      Malformed(text, p);
    }
    c.terms[c.n++] = t;
    SkipSpace(p);
    if (*p == '+' || *p == '-') {
      sign = *p == '-' ? -1.0f : 1.0f;
      ++p;
      continue;
    }
    if (*p == ',' || *p == ')') return c;
    Malformed(text, p);
  }
}

}  // namespace

WorldSymbols::WorldSymbols(const SiteAnchors& a) {
  v[kSymXC] = a.xC;
  v[kSymYC] = a.yC;
  v[kSymXL] = a.xL;
  v[kSymXR] = a.xR;
  v[kSymYF] = a.yF;
  v[kSymYB] = a.yB;
}

WorldPointList::WorldPointList(const char* text) {
  const char* p = text;
  for (;;) {
    SkipSpace(p);
    if (*p == '\0') break;
    if (*p != '(') Malformed(text, p);
    ++p;
    Point pt;
    pt.dims = 0;
    for (;;) {
      if (pt.dims == 3) Malformed(text, p);
      pt.c[pt.dims++] = ParseCoord(text, p);
      if (*p == ')') break;
      ++p;  // ','
    }
    ++p;
    if (pt.dims < 2) Malformed(text, p);
    points_.push_back(pt);
  }
}

float WorldPointList::Eval(int32_t i, int32_t k, const WorldSymbols& s, float (*adjust)(float, float),
                           float adjustArg) const {
  const Coord& c = points_[i].c[k];
  float v = 0.0f;
  for (int32_t t = 0; t < c.n; ++t) {
    const Term& term = c.terms[t];
    if (term.sym == kSymConst) {
      v += adjust != nullptr ? adjust(term.coef, adjustArg) : term.coef;
    } else {
      v += term.coef * s.v[term.sym];
    }
  }
  return v;
}

bool WorldPoints_Fits(const Matrix* out, int32_t first, int32_t n) {
  return out != nullptr && out->data != nullptr && out->cols >= 3 && first >= 0 && n >= 0 &&
         static_cast<int64_t>(first) + n <= out->rows;
}

bool WorldPoints_WriteList(Matrix* out, int32_t first, const WorldPointList& list, const WorldSymbols& s,
                           float (*adjust)(float, float), float adjustArg) {
  if (!WorldPoints_Fits(out, first, list.size())) return false;
  for (int32_t i = 0; i < list.size(); ++i) {
    float* row = out->data + static_cast<size_t>(first + i) * out->cols;
    row[0] = list.Eval(i, 0, s, adjust, adjustArg);
    row[1] = list.Eval(i, 1, s, adjust, adjustArg);
    if (list.HasHeight(i)) row[2] = list.Eval(i, 2, s, adjust, adjustArg);
  }
  return true;
}

bool WorldPoints_Put(Matrix* out, int32_t row, float x, float y) {
  if (!WorldPoints_Fits(out, row, 1)) return false;
  float* r = out->data + static_cast<size_t>(row) * out->cols;
  r[0] = x;
  r[1] = y;
  return true;
}

void WorldPoints_PutZ(Matrix* out, int32_t row, float z) {
  if (WorldPoints_Fits(out, row, 1)) out->data[static_cast<size_t>(row) * out->cols + 2] = z;
}
