// Model and template loading of the rotation-sweep template detector.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"
#include "pipeline/rot_template_detector.h"
#include "toolkit/bmp_file.h"
#include "toolkit/sampling.h"

namespace {

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

float ReadF32(const uint8_t* p) {
  const uint32_t u = ReadU32(p);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

bool Refuse(const char* why) {
  AvmLog("RotTemplate model refused: %s\n", why);
  return false;
}

// Header and tables; every count is checked before it sizes anything.
bool ParseModel(RotTemplateDetector* d, const uint8_t* data, size_t size) {
  if (size < static_cast<size_t>(kRotTemplateHeaderBytes)) return Refuse("shorter than its header");
  if (ReadU32(data) != kRotTemplateMagic) return Refuse("wrong magic");
  int32_t h[9];
  for (int i = 0; i < 9; ++i) h[i] = static_cast<int32_t>(ReadU32(data + 4 + 4 * i));
  const int32_t fw = h[0], fh = h[1], cw = h[2], ch = h[3], wh = h[4], ww = h[5], nc = h[6], nt = h[7],
                nn = h[8];
  if (fw < 2 || fh < 2 || fw > kRotTemplateMaxFrameSide || fh > kRotTemplateMaxFrameSide)
    return Refuse("frame size");
  if (cw != fw / 2 || ch != fh / 2) return Refuse("channel size is not half the frame");
  if (wh < 1 || ww < 1 || wh > ch || ww > cw) return Refuse("window size");
  if (nc < kRotTemplateMinClassifiers) return Refuse("too few classifiers");
  if (nt < kRotTemplateMinTrees) return Refuse("too few trees");
  if (nn < 1) return Refuse("node count");
  // Four tables of 4-byte entries per classifier must lie inside the file.
  const uint64_t perTable = static_cast<uint64_t>(nt) * static_cast<uint64_t>(nn);
  const uint64_t entriesInFile = (size - kRotTemplateHeaderBytes) / 16u;  // one entry of each table
  if (static_cast<uint64_t>(nc) > entriesInFile / perTable) return Refuse("tables longer than the file");
  const uint32_t featureCount = static_cast<uint32_t>(wh) * static_cast<uint32_t>(ww) * kRotTemplateChannels;

  d->classifiers.assign(static_cast<size_t>(nc), RotTemplateClassifier{});
  const uint8_t* p = data + kRotTemplateHeaderBytes;
  for (RotTemplateClassifier& c : d->classifiers) {
    c.cols = nn;
    c.rows = nt;
    c.features.resize(perTable);
    c.thresholds.resize(perTable);
    c.children.resize(perTable);
    c.leaves.resize(perTable);
    for (uint64_t i = 0; i < perTable; ++i, p += 4) c.features[i] = ReadU32(p);
    for (uint64_t i = 0; i < perTable; ++i, p += 4) c.thresholds[i] = ReadF32(p);
    for (uint64_t i = 0; i < perTable; ++i, p += 4) c.children[i] = ReadU32(p);
    for (uint64_t i = 0; i < perTable; ++i, p += 4) c.leaves[i] = ReadF32(p);
    for (int32_t t = 0; t < nt; ++t) {
      for (int32_t k = 0; k < nn; ++k) {
        const size_t e = static_cast<size_t>(t) * nn + k;
        const uint32_t child = c.children[e];
        if (child == 0) continue;  // a leaf: its feature is never read
        if (c.features[e] >= featureCount) return Refuse("feature index outside the window");
        // Both branches (child - 1 and child) must lie after the node inside
        // the tree, so every walk ends.
        if (child < static_cast<uint32_t>(k) + 2u || child >= static_cast<uint32_t>(nn))
          return Refuse("child index out of range");
      }
    }
  }
  d->frameWidth = fw;
  d->frameHeight = fh;
  d->channelWidth = cw;
  d->channelHeight = ch;
  d->windowHeight = wh;
  d->windowWidth = ww;
  d->classifierCount = nc;
  d->trees = nt;
  d->nodes = nn;
  return true;
}

// Template picture mapped to -1..1, resized to T x T, then turned to each of
// the 180 directions.
bool LoadTemplates(RotTemplateDetector* d, const char* templatePath) {
  MatrixPtr raw(Bmp_LoadGrayFloat(templatePath, 0));
  if (raw == nullptr) return Refuse("template picture unreadable");
  const int32_t T = d->templateSize;
  const size_t n = static_cast<size_t>(raw->cols) * raw->rows;
  for (size_t i = 0; i < n; ++i) raw->data[i] = raw->data[i] * 2.0f - 1.0f;
  std::vector<float> sized(static_cast<size_t>(T) * T, 0.0f);
  Matrix dst{T, T, sized.data()};
  Image_Resize(raw.get(), &dst, 2);
  raw.reset();
  d->templates.assign(kRotTemplateTurns, std::vector<float>(static_cast<size_t>(T) * T, 0.0f));
  const float kHalfPi = 1.5707964f;
  for (int k = 0; k < kRotTemplateTurns; ++k) {
    float angle = kHalfPi - static_cast<float>(k) * 0.017453292f;
    if (angle < 0.0f) angle += 3.1415927f;
    Matrix out{T, T, d->templates[k].data()};
    Image_Rotate(&dst, &out, angle);
  }
  return true;
}

}  // namespace

void RotTemplate_Release(RotTemplateDetector* detector) {
  if (detector == nullptr) return;
  const int32_t T = detector->templateSize;
  *detector = RotTemplateDetector{};
  detector->templateSize = T;  // the owner's setting outlives the model
}

int RotTemplate_LoadModelBytes(RotTemplateDetector* detector, const uint8_t* data, size_t size,
                               const char* templatePath) {
  if (detector == nullptr || data == nullptr || templatePath == nullptr) return 0;
  RotTemplate_Release(detector);
  if (detector->templateSize < 1 || detector->templateSize > kRotTemplateMaxTemplateSize) {
    Refuse("template size not set");
    return 0;
  }
  if (!ParseModel(detector, data, size) || !LoadTemplates(detector, templatePath)) {
    RotTemplate_Release(detector);
    return 0;
  }
  return 1;
}

int RotTemplate_LoadModel(RotTemplateDetector* detector, const char* modelPath, const char* templatePath) {
  if (detector == nullptr || modelPath == nullptr) return 0;
  FILE* f = std::fopen(modelPath, "rb");
  if (f == nullptr) {
    AvmLog("RotTemplate model %s cannot be opened\n", modelPath);
    return 0;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + got);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    AvmLog("RotTemplate model %s cannot be read\n", modelPath);
    return 0;
  }
  return RotTemplate_LoadModelBytes(detector, bytes.data(), bytes.size(), templatePath);
}
