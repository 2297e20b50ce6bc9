#pragma once
// The frame of the calibration site in which every target mark is placed:
// millimetres, origin at the centre of the vehicle box, x to the vehicle's
// right, y to the rear (front at negative y), z down (a mark h mm above the
// floor has z = -h). Marks are placed relative to anchor lines that follow
// from the vehicle box and the configured reference-line distances.
#include <cstdint>

struct LutConfig;

// Distances of the site's front, rear, left and right reference lines from
// the vehicle box: the configured distance less the base file's offset.
struct SiteDistances {
  int32_t dF, dB, dL, dR;
};
SiteDistances SiteDistances_FromConfig();

// Anchors: xC, yC the centre of the site; xL, xR, yF, yB its left, right,
// front and rear reference lines.
struct SiteAnchors {
  float xC, yC, xL, xR, yF, yB;
};
// Float halves (every layout but 1). box: vehicle width a, length b (and the
// side-board shift c, unused here).
SiteAnchors SiteAnchors_Float(const int32_t box[3], const SiteDistances& d);
// Integer halves truncated toward zero (the chessboard grid and layout 1).
SiteAnchors SiteAnchors_Integer(const int32_t box[3], const SiteDistances& d);

// v / 2 truncated toward zero.
constexpr int32_t HalfToZero(int32_t v) { return v / 2; }

// The vehicle box (a, b, c) of a LUT configuration: its first three words.
void SiteBox_FromLutConfig(const LutConfig* cfg, int32_t box[3]);
