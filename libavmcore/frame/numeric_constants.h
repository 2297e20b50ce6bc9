#pragma once

// Numeric constants shared by every layer. The float forms are what the
// single-precision geometry uses; the literal rounds to the float nearest pi,
// which every shorter spelling used in this library also rounds to.
constexpr float kPi = 3.14159265358979323846f;
constexpr float kTwoPi = 2.0f * kPi;   // scaling by 2 is exact: the float nearest 2 pi
constexpr float kHalfPi = 0.5f * kPi;  // the float nearest pi / 2
constexpr double kPiD = 3.14159265358979323846;

// The turns the view builders use. kThreeHalfPi is 3 kPi rounded, then
// halved (exact), the bowl mesh's sector bound.
constexpr float kQuarterPi = 0.25f * kPi;  // scaling by 1/4 is exact
constexpr float kThreeHalfPi = 3.0f * kPi / 2.0f;
// The same turns in degrees, for the rotations built from degree angles.
constexpr float kQuarterTurnDeg = 90.0f;
constexpr float kHalfTurnDeg = 180.0f;

// Every spelling these names replaced gives the same float.
static_assert(kPi == 3.14159265358979f && kPi == 3.14159265f && kPi == 3.1415927f, "pi");
static_assert(kHalfPi == 1.5707964f && kHalfPi == kPi / 2.0f && kHalfPi == kPi / 2, "pi / 2");
static_assert(kTwoPi == 6.2831855f && kTwoPi == 2 * kPi && kTwoPi == 2.0f * kPi, "2 pi");
static_assert(kQuarterPi == kPi / 4 && kQuarterPi == kPi / 4.0f, "pi / 4");
static_assert(kThreeHalfPi == 3 * kPi / 2, "3 pi / 2");

// Degree conversions. The order of the operations is part of each name: the
// callers' results depend on it bit for bit, so pick the one a formula uses.
constexpr float kDegToRad = kPi / 180.0f;
inline float DegToRad(float deg) { return deg * kPi / 180.0f; }
inline float DegToRadDivFirst(float deg) { return deg / 180.0f * kPi; }
inline float RadToDeg(float rad) { return rad / kPi * 180.0f; }
