#pragma once
// A LUTOB for finder and solver tests, made as the exports make it. Tests
// lend it their own camera pictures and point buffers (assigning the slots
// directly or through Lend); the holder takes every camera picture and point
// buffer slot back before it destroys the object, so the object frees only
// the configuration and preview the library allocated into it, and a buffer
// the library put into one of those slots shows up as a leak.
#include <cstdint>

#include "surround/lutob.h"

class TestLutob {
 public:
  // Only created (extra value 50).
  TestLutob();
  // Also the pose headers over the parameter set and camW x camH pictures.
  TestLutob(int32_t camW, int32_t camH);
  ~TestLutob();
  TestLutob(const TestLutob&) = delete;
  TestLutob& operator=(const TestLutob&) = delete;

  LUTOB* get() const { return lut_.get(); }
  LUTOB* operator->() const { return lut_.get(); }
  operator LUTOB*() const { return lut_.get(); }

  // A fresh object in place of this one (the old one's lent slots taken
  // back first), as the constructors make it.
  void Reset();
  void Reset(int32_t camW, int32_t camH);

  // Camera 1..4's picture and point buffers; a null argument leaves its slot.
  void Lend(uint32_t camera, Matrix* image, float* imagePoints, float* worldPoints);
  // Every camera picture and point buffer slot back to null.
  void TakeBack();

 private:
  LutobPtr lut_;
};
