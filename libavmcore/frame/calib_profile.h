#pragma once
// CalibProfile: the process-wide record of the loaded vehicle profile (the
// per-programme "<code>_cfg.txt" file of the data directory). Word 0 is the
// tag, the board-layout code whose profile the record holds (0: none); word
// 1 is reserved and stays 0; words 2..99 hold the file's values, mostly
// floats, a few integers, at the positions of each programme.
//
// The readers (calibration layer) fill it; the corner finders of the profile
// layouts and the pose refinement read it. No lock: it is filled on the
// thread that computes the target world points, before the finders and
// solves of the same calibration run.
#include <cstdint>
#include <cstring>

constexpr int kCalibProfileWords = 100;

struct CalibProfileRecord {
  uint32_t words[kCalibProfileWords];

  uint32_t Tag() const { return words[0]; }
  float F(int k) const {
    float v;
    memcpy(&v, &words[k], sizeof v);
    return v;
  }
  void SetF(int k, float v) { memcpy(&words[k], &v, sizeof v); }
  int32_t I(int k) const { return static_cast<int32_t>(words[k]); }
  void SetI(int k, int32_t v) { words[k] = static_cast<uint32_t>(v); }
};

// The one record, all zero at start, never freed.
CalibProfileRecord& CalibProfile();
