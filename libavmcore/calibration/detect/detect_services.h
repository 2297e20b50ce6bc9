#pragma once
// What target detection uses of calibration solving (a higher layer); the
// definitions live there.
#include <cstdint>

struct BlockCalib4;

// Copies the 8 found image points (row, column) of camera 1..4 of the
// four-block calibration object into points (16 floats) and returns that
// camera's found count (0 or 8).
uint32_t BlockCalib4_CopyFoundPoints(const BlockCalib4* block, uint32_t camera, float* points);

struct BlockCalib6;

// The same for the six-block object: its first point set when firstSet is
// non-zero, else its second.
uint32_t BlockCalib6_CopyFoundPoints(const BlockCalib6* block, int32_t firstSet, uint32_t camera, float* points);
