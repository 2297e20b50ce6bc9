#pragma once
// Rotation-sweep template detector: finds small marks in a grey frame of one
// fixed size with boosted decision trees over eight feature channels, pairs
// the marks by distance and checks each pair against a template turned to
// the direction of the line between them (a bank of 180 turns, one degree
// apart). The result is a list of quadrilaterals standing on the pairs.
//
// Model file (little-endian, 4-byte fields): magic 0x09030101, frameWidth,
// frameHeight, channelWidth, channelHeight, windowHeight, windowWidth,
// classifierCount, trees, nodes; then per classifier four tables of
// trees x nodes values, row by row: feature indices (u32), thresholds (f32),
// child indices (u32), leaf values (f32).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "frame/vec2.h"

constexpr uint32_t kRotTemplateMagic = 0x09030101u;
constexpr int32_t kRotTemplateHeaderBytes = 40;
constexpr int32_t kRotTemplateMinTrees = 240;   // trees the window scan walks
constexpr int32_t kRotTemplateMinClassifiers = 4;
constexpr int32_t kRotTemplateMaxBoxes = 32;
constexpr int32_t kRotTemplateMaxPairs = 16;
constexpr int32_t kRotTemplateMaxCandidates = 1000;
constexpr int32_t kRotTemplateChannels = 8;
constexpr int32_t kRotTemplateTurns = 180;
// Largest frame side and template side a detector accepts.
constexpr int32_t kRotTemplateMaxFrameSide = 4096;
constexpr int32_t kRotTemplateMaxTemplateSize = 512;

// One boosted classifier: trees x nodes entries per table.
struct RotTemplateClassifier {
  int32_t cols;  // nodes
  int32_t rows;  // trees
  std::vector<uint32_t> features;
  std::vector<float> thresholds;
  std::vector<float> leaves;
  std::vector<uint32_t> children;
};

struct RotTemplateBox {
  int32_t index;
  int32_t y, x;      // mark position in frame pixels
  int32_t y1, x1;    // y + T, x + T
  float score;
  int32_t links;     // kept pairs that use the box
};

struct RotTemplatePair {
  int32_t a, b;      // box indices
  int32_t distanceClass;  // 1, 2 or 3
  int32_t side;      // +1 or -1
  float score;       // sum of the two box scores
  int32_t used;
};

struct RotTemplateQuad {
  Vec2 p[4];
  int32_t side;
  int32_t valid;
};

struct RotTemplateDetector {
  int32_t frameWidth = 0, frameHeight = 0;
  int32_t channelWidth = 0, channelHeight = 0;
  int32_t windowHeight = 0, windowWidth = 0;
  int32_t trees = 0, nodes = 0;
  int32_t classifierCount = 0;
  std::vector<RotTemplateClassifier> classifiers;
  int32_t templateSize = 0;  // T, set by the owner before loading
  std::vector<std::vector<float>> templates;  // 180 images of T x T, turned by 90 - k degrees
  int32_t boxCount = 0;
  RotTemplateBox boxes[kRotTemplateMaxBoxes] = {};
  int32_t pairCount = 0;
  RotTemplatePair pairs[kRotTemplateMaxPairs] = {};
  int32_t quadCount = 0;
  RotTemplateQuad quads[kRotTemplateMaxPairs] = {};
};

// Loads the model and the template picture (a grey bitmap). Returns 1 when
// loaded; 0, with the detector left empty, when either file cannot be read,
// the magic differs, the template size is not set (1..512), or the model's
// counts do not hold together: fewer than 240 trees or 4 classifiers, frame
// and channel sizes that do not match (channels at half the frame), a window
// larger than the channels, tables longer than the file, a feature index
// outside the window or a child index that does not lead forward inside its
// tree.
int RotTemplate_LoadModel(RotTemplateDetector* detector, const char* modelPath, const char* templatePath);
// The same from model bytes in memory.
int RotTemplate_LoadModelBytes(RotTemplateDetector* detector, const uint8_t* data, size_t size,
                               const char* templatePath);
// Fills boxes, pairs and quads; a frame of another size than the model's
// (or a detector without a model) leaves the previous results.
void RotTemplate_Detect(RotTemplateDetector* detector, const Matrix* frame);
void RotTemplate_Release(RotTemplateDetector* detector);

// Distance class of two marks d apart: 1 for 63.65 < d < 98.75, 3 for
// 135.1 < d < 172.1, 2 for 172.1 < d < 198.5, 0 otherwise.
int32_t RotTemplate_DistanceClass(float d);

// Operations on 8-channel interleaved images (Matrix of width x height
// pixels, 8 floats a pixel).
void Image8_Copy(const Matrix* src, Matrix* dst);
void Image8_Fill(Matrix* img, const float value[8]);
void Image8_SetChannel(const Matrix* src, Matrix* dst, int32_t channel);
void Image8_ScaleChannel(Matrix* img, int32_t channel, float factor);

// dst = (src - window mean) / (2 x max(src)) + 0.5 over a (2ry + 1) x
// (2rx + 1) window with replicated edges; a non-positive maximum gives 0.5.
void Image_LocalContrast(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry);
// Bright-pixel mask of values 0..1 (1 at or above the threshold): the
// threshold is where the bins from high down to low (of 512) first hold 10 %
// of the pixels, at most bin cap, divided by 511.98; fallback when never.
void Image_BrightMask(const Matrix* src, Matrix* mask, int32_t high, int32_t low, int32_t cap,
                      float fallback);
// out (side x side, side = 2 (T / 2) + 1) = the pixels of src around (row,
// col) mapped by (v - min) / (max - min); a patch that leaves src or is flat
// is all 0.
void Image_NormalisedPatch(const Matrix* src, int32_t row, int32_t col, int32_t T, float* out);
