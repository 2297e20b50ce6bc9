#include <algorithm>

#include "pipeline/mod_core.h"

namespace {

// One pixel of a scan. scan is the coordinate along the scan direction;
// the record closes once a hit lies more than 7 scan lines past its first.
enum class Dir { kRightToLeft, kLeftToRight, kBottomToTop, kTopToBottom };

inline void Visit(Dir dir, int32_t x, int32_t y, int32_t label, MODRect* records, int32_t limit) {
  if (label < 0 || label >= limit) return;
  MODRect& r = records[label];
  if (r.excluded != 0 || r.closed != 0) return;
  if (r.started == 0) {
    r.valid = 1;
    r.started = 1;
    r.maxX = r.minX = x;
    r.maxY = r.minY = y;
    r.seedX = x;
    r.seedY = y;
    r.trackId = -1;
    return;
  }
  const bool alongColumns = dir == Dir::kRightToLeft || dir == Dir::kLeftToRight;
  const int32_t past = alongColumns ? (x > r.seedX ? x - r.seedX : r.seedX - x)
                                    : (y > r.seedY ? y - r.seedY : r.seedY - y);
  if (past > 7) {
    r.closed = 1;
    return;
  }
  switch (dir) {
    case Dir::kRightToLeft: r.minX = std::min(r.minX, x); break;
    case Dir::kLeftToRight: r.maxX = std::max(r.maxX, x); break;
    case Dir::kBottomToTop: r.minY = std::min(r.minY, y); break;
    case Dir::kTopToBottom: r.maxY = std::max(r.maxY, y); break;
  }
  if (alongColumns) {
    r.minY = std::min(r.minY, y);
    r.maxY = std::max(r.maxY, y);
  } else {
    r.minX = std::min(r.minX, x);
    r.maxX = std::max(r.maxX, x);
  }
}

void Scan(Dir dir, int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit) {
  if (labels == nullptr || labels->data == nullptr || records == nullptr || limit < 1) return;
  const int32_t w = std::min(width, labels->width), h = std::min(height, labels->height);
  if (w < 1 || h < 1) return;
  const int32_t stride = labels->width;
  const int32_t* L = labels->data;
  switch (dir) {
    case Dir::kRightToLeft:
      for (int32_t x = w - 1; x >= 0; --x)
        for (int32_t y = 0; y < h; ++y) Visit(dir, x, y, L[y * stride + x], records, limit);
      break;
    case Dir::kLeftToRight:
      for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) Visit(dir, x, y, L[y * stride + x], records, limit);
      break;
    case Dir::kBottomToTop:
      for (int32_t y = h - 1; y >= 0; --y)
        for (int32_t x = 0; x < w; ++x) Visit(dir, x, y, L[y * stride + x], records, limit);
      break;
    case Dir::kTopToBottom:
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) Visit(dir, x, y, L[y * stride + x], records, limit);
      break;
  }
}

}  // namespace

void MOD_ScanRightToLeft(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit) {
  Scan(Dir::kRightToLeft, width, height, labels, records, limit);
}
void MOD_ScanLeftToRight(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit) {
  Scan(Dir::kLeftToRight, width, height, labels, records, limit);
}
void MOD_ScanBottomToTop(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit) {
  Scan(Dir::kBottomToTop, width, height, labels, records, limit);
}
void MOD_ScanTopToBottom(int32_t width, int32_t height, const ImageI32* labels, MODRect* records, int32_t limit) {
  Scan(Dir::kTopToBottom, width, height, labels, records, limit);
}
