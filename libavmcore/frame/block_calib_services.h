#pragma once
// The block calibrations own their objects (calibration layer); the global
// configuration holds them, deletes them on release and reads their measured
// blind-area terms through these calls.
struct BlockCalib4;
struct BlockCalib6;

// Null is allowed and does nothing.
void BlockCalib4_Destroy(BlockCalib4* block);
void BlockCalib6_Destroy(BlockCalib6* block);

// Measured length and width of the blind (car-body) area, mm. A null block
// gives 0 for both.
void BlockCalib4_BlindTerms(const BlockCalib4* block, float* lengthTerm, float* widthTerm);
void BlockCalib6_BlindTerms(const BlockCalib6* block, float* lengthTerm, float* widthTerm);
