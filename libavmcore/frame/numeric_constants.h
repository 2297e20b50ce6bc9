#pragma once

// Numeric constants shared by every layer. The float forms are what the
// single-precision geometry uses; the literal rounds to the float nearest pi,
// which every shorter spelling used in this library also rounds to.
constexpr float kPi = 3.14159265358979323846f;
constexpr float kTwoPi = 2.0f * kPi;   // scaling by 2 is exact: the float nearest 2 pi
constexpr float kHalfPi = 0.5f * kPi;  // the float nearest pi / 2
constexpr double kPiD = 3.14159265358979323846;

// Degree conversions. The order of the operations is part of each name: the
// callers' results depend on it bit for bit, so pick the one a formula uses.
constexpr float kDegToRad = kPi / 180.0f;
inline float DegToRad(float deg) { return deg * kPi / 180.0f; }
inline float DegToRadDivFirst(float deg) { return deg / 180.0f * kPi; }
inline float RadToDeg(float rad) { return rad / kPi * 180.0f; }
