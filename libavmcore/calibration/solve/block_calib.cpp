#include "calibration/solve/block_calib.h"

#include "frame/block_calib_services.h"
#include "frame/global_variables.h"

void BlockCalib4_Destroy(BlockCalib4* block) { delete block; }
void BlockCalib6_Destroy(BlockCalib6* block) { delete block; }

template <typename Block>
static void BlindTerms(const Block* block, float* lengthTerm, float* widthTerm) {
  *lengthTerm = block != nullptr ? block->lengthTerm : 0.0f;
  *widthTerm = block != nullptr ? block->widthTerm : 0.0f;
}

void BlockCalib4_BlindTerms(const BlockCalib4* block, float* lengthTerm, float* widthTerm) {
  BlindTerms(block, lengthTerm, widthTerm);
}
void BlockCalib6_BlindTerms(const BlockCalib6* block, float* lengthTerm, float* widthTerm) {
  BlindTerms(block, lengthTerm, widthTerm);
}

// The pointers live in the global configuration, whose release deletes the
// objects: never cache them here.
BlockCalib4* BlockCalib4_Instance() {
  GlobalVariables& g = gv();
  if (g.blockCalib4 == nullptr) g.blockCalib4 = new BlockCalib4;
  return g.blockCalib4;
}

BlockCalib6* BlockCalib6_Instance() {
  GlobalVariables& g = gv();
  if (g.blockCalib6 == nullptr) g.blockCalib6 = new BlockCalib6;
  return g.blockCalib6;
}
