#include "camera/lens_curve.h"
#include "frame/log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/lens_table.h"

namespace {

// One line of at most 63 characters without its line feed; false at the end.
bool ReadLine(FILE* f, char* buf) {
  if (fgets(buf, 64, f) == nullptr) return false;
  const size_t n = strlen(buf);
  if (n > 0 && buf[n - 1] == '\n') buf[n - 1] = '\0';
  return true;
}

bool BlankLine(const char* s) {
  for (; *s != '\0'; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\r') return false;
  return true;
}

}  // namespace

int32_t LensCurve_LoadText(LensTableSlot* slot, const char* curvePath, const char* descriptorPath) {
  FILE* df = fopen(descriptorPath, "r");
  if (df == nullptr) return 0;
  char line[64] = {};
  uint32_t kind = 2;
  if (ReadLine(df, line)) {
    if (strncmp(line, "true", 4) == 0 || line[0] == '1')
      kind = 1;
    else if (strncmp(line, "false", 5) == 0 || line[0] == '0')
      kind = 0;
  }
  double sensorA = 0.0, sensorB = 0.0;
  if (ReadLine(df, line)) sensorA = atof(line);
  if (ReadLine(df, line)) sensorB = atof(line);
  fclose(df);

  FILE* cf = fopen(curvePath, "r");
  if (cf == nullptr) return 0;
  std::vector<float> h;
  h.reserve(kLensCurveMaxLines);
  while (static_cast<int32_t>(h.size()) < kLensCurveMaxLines && ReadLine(cf, line)) {
    if (BlankLine(line)) continue;
    h.push_back(static_cast<float>(atof(line)));
  }
  fclose(cf);

  // Input that would index outside the tables is refused.
  const int32_t n = static_cast<int32_t>(h.size());
  if (n < 2) {
    AvmLog("lens curve %s: %d lines, at least 2 needed \n", curvePath, n);
    return 0;
  }
  for (int32_t i = 0; i < n; ++i)
    if (!(h[i] >= 0.0f && h[i] * 1000.0f + 0.5f < static_cast<float>(kLensCurveAngleCount))) {
      AvmLog("lens curve %s: height %f on line %d outside 0 .. 15 \n", curvePath, h[i], i + 1);
      return 0;
    }
  if (!(sensorA >= 2.0 && std::isfinite(sensorA))) {
    AvmLog("lens curve %s: sensor value %f below 2 \n", descriptorPath, sensorA);
    return 0;
  }

  // Height at half of sensorA, in whole degrees.
  const double kd = std::trunc(sensorA * 0.5) * 10.0 - 1.0;
  const int32_t k = kd >= static_cast<double>(n) ? n - 1 : static_cast<int32_t>(kd);

  float* angle = static_cast<float*>(calloc(kLensCurveAngleCount, sizeof(float)));
  float* height = static_cast<float*>(malloc(sizeof(float) * 40 * static_cast<size_t>(n)));
  int32_t p = -1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t e = static_cast<int32_t>(h[i] * 1000.0f + 0.5f);
    if (e > p) {
      const float a = static_cast<float>(i) * 0.1f / 180.0f * 3.1415927f;
      const float s = 0.0017453294f / static_cast<float>(e - p);
      float v = a;
      for (int32_t j = p + 1; j <= e; ++j) {
        angle[j] = v;
        v += s;
      }
    }
    p = e;
  }
  for (int32_t i = 0; i + 1 < n; ++i) {
    const float prev = i == 0 ? 0.0f : h[i - 1];
    for (int32_t j = 0; j < 40; ++j) height[i * 40 + j] = prev + static_cast<float>(j) * (h[i] - prev) / 40.0f;
  }
  memcpy(height + (n - 1) * 40, height + (n - 2) * 40, 40 * sizeof(float));

  free(slot->heightTable);
  free(slot->angleTable);
  slot->kind = kind;
  slot->sensorA = static_cast<float>(sensorA);
  slot->sensorB = static_cast<float>(sensorB);
  slot->unitSize = h[k];
  slot->heightTable = height;
  slot->heightCount = 40 * n;
  slot->angleTable = angle;
  slot->angleCount = kLensCurveAngleCount;
  return 1;
}

void LensCurve_Free(LensTableSlot* slot) {
  free(slot->heightTable);
  free(slot->angleTable);
  slot->heightTable = nullptr;
  slot->angleTable = nullptr;
}
