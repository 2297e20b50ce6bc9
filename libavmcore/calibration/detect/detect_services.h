#pragma once
// What target detection uses of calibration solving (a higher layer); the
// definitions live there.
#include <cstdint>

struct BlockCalib4;

// Copies the 8 found image points (row, column) of camera 1..4 of the
// four-block calibration object into points (16 floats) and returns that
// camera's found count (0 or 8).
uint32_t BlockCalib4_CopyFoundPoints(const BlockCalib4* block, uint32_t camera, float* points);
