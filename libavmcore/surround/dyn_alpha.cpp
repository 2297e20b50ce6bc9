// Dynamic-alpha planes of the stitched view.
#include "surround/dyn_alpha.h"
#include "frame/log.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "frame/global_variables.h"
#include "frame/numeric_constants.h"

namespace {

uint8_t ToByte(float x) {
  int v = static_cast<int>(x * 255.0f + 0.5f);
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

float P(float dy, float e) { return powf(atan2f(2.0f * dy, e) / kHalfPi, 0.5f); }

float Fade(float e, float band, float dy) {
  if (e < 0.0f) return 1.0f;
  if (e > band) return 0.0f;
  return fminf((band - e) / band, P(dy, e));
}

bool SameShape(const Matrix* a, const Matrix* b) {
  return a != nullptr && b != nullptr && a->data != nullptr && b->data != nullptr && a->cols == b->cols &&
         a->rows == b->rows;
}

// Values (0..1) of both planes for every pixel. corner[i] marks the corner
// pixels, whose values are not simply W1.
bool ComputeValues(const DynAlphaSource& s, const Matrix* testMap, bool testForAllRows, std::vector<float>* A,
                   std::vector<float>* B, std::vector<uint8_t>* corner) {
  const Matrix* W1 = s.maps.W1;
  const Matrix* Y1 = s.maps.Y1;
  if (!SameShape(W1, Y1) || W1->cols < 2 || W1->rows < 1) return false;
  const int32_t W = W1->cols, H = W1->rows;
  const Matrix* g = s.groundTable;
  if (g == nullptr || g->data == nullptr || g->cols != 3 || g->rows != W * H) return false;
  if (testMap == nullptr) testMap = Y1;
  if (!SameShape(testMap, W1)) return false;

  const float x0 = g->data[0], y0 = g->data[1];
  const float step = (g->data[3 * (W - 1)] - x0) / static_cast<float>(W - 1);
  if (!(step != 0.0f) || !std::isfinite(step)) return false;
  const int32_t L = static_cast<int32_t>((-s.carWidth / 2.0f - x0) / step + 0.5f);
  const int32_t R = static_cast<int32_t>((s.carWidth / 2.0f - x0) / step + 0.5f);
  const int32_t T = static_cast<int32_t>((-s.carLength / 2.0f - y0) / step + 0.5f);
  const int32_t Bt = static_cast<int32_t>((s.carLength / 2.0f - y0) / step + 0.5f);
  const float a1 = gv().advValue12, a2 = gv().advValue13;
  const float fL = static_cast<float>(L);
  const float t1 = a1 >= 0.0f ? tanf(a1 * kDegToRad) : 0.0f;
  const float band2 = fmaxf(0.1f * fL, 20.0f);
  const float camH = static_cast<float>(s.maps.camH);

  A->assign(static_cast<size_t>(W) * H, 0.0f);
  B->assign(static_cast<size_t>(W) * H, 0.0f);
  corner->assign(static_cast<size_t>(W) * H, 0);
  for (int32_t r = 0; r < H; ++r) {
    for (int32_t c = 0; c < W; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      const float w1 = W1->data[i];
      float va = w1, vb = w1;
      const bool outside = c < L || c > R;
      const float d = static_cast<float>(c < L ? L - c : c - R);
      if (r < T || r > Bt) {
        const float dy = static_cast<float>(r < T ? T - r : r - Bt);
        if (!outside) {
          if (a2 > 90.0f) {
            const float t = tanf((180.0f - a2) * kDegToRad);
            const float dc = static_cast<float>(c < W / 2 ? c - L : R - c);
            const float e = dc - fminf(dy / t, fL);
            if (e < 0.0f)
              vb = 0.0f;
            else if (e > 20.0f)
              vb = 1.0f;
            else
              vb = 1.0f - fminf((20.0f - e) / 20.0f, P(dy, e));
          }
        } else {
          const float alpha1 = Fade(d - fminf(dy / t1, fL), 270.0f, dy);
          const float alpha2 = a2 > 90.0f ? 0.0f : Fade(d - fminf(dy / tanf(a2 * kDegToRad), fL), band2, dy);
          const float y = (testForAllRows || r < H / 2) ? testMap->data[i] : Y1->data[i];
          if (y > camH) {
            va = 1.0f - alpha1;
            vb = 1.0f - alpha2;
          } else {
            va = alpha1;
            vb = alpha2;
          }
          (*corner)[i] = 1;
        }
      } else if (outside && a1 < 0.0f) {
        const float t = tanf(-a1 * kDegToRad);
        const float dy = static_cast<float>(r < H / 2 ? r - T : Bt - r);
        const float e = d - fminf(dy / t, fL);
        if (e < 0.0f)
          va = 1.0f;
        else if (e > 270.0f)
          va = 0.0f;
        else
          va = fminf((270.0f - e) / 270.0f, P(dy, e));
      }
      (*A)[i] = va;
      (*B)[i] = vb;
    }
  }
  return true;
}

}  // namespace

bool DynAlpha_ComputePlanes(const DynAlphaSource& src, const Matrix* testMap, std::vector<uint8_t>* planeA,
                            std::vector<uint8_t>* planeB) {
  std::vector<float> a, b;
  std::vector<uint8_t> corner;
  if (!ComputeValues(src, testMap, false, &a, &b, &corner)) return false;
  planeA->resize(a.size());
  planeB->resize(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    (*planeA)[i] = ToByte(a[i]);
    (*planeB)[i] = ToByte(b[i]);
  }
  return true;
}

int SaveDynAlphaFileFromMaps(const DynAlphaSource& src, const char* path, const Matrix* testMap) {
  std::vector<uint8_t> a, b;
  if (!DynAlpha_ComputePlanes(src, testMap, &a, &b)) {
    AvmLog("SaveDynAlphaFile: maps or ground table missing\n");
    return 1;
  }
  const uint32_t header[3] = {kDynAlphaMagic, static_cast<uint32_t>(src.maps.W1->cols),
                              static_cast<uint32_t>(src.maps.W1->rows)};
  std::vector<uint8_t> bytes(12 + a.size() + b.size());
  memcpy(bytes.data(), header, 12);
  memcpy(bytes.data() + 12, a.data(), a.size());
  memcpy(bytes.data() + 12 + a.size(), b.data(), b.size());
  int w = WriteFileSynced(path, bytes.data(), bytes.size());
  if (w == 1) return 0;
  AvmLog("SaveDynAlphaFile %s %s failed\n", w == 0 ? "open" : "write", path != nullptr ? path : "(null)");
  return 1;
}

int GenerateDynAlphaMABFilesFromMaps(const DynAlphaSource& src, const char* pathA, const char* pathB) {
  std::vector<float> a, b;
  std::vector<uint8_t> corner;
  if (!ComputeValues(src, nullptr, true, &a, &b, &corner)) {
    AvmLog("GenerateDynAlphaMABFiles: maps or ground table missing\n");
    return 1;
  }
  // Corner pixels take the plane values, all others keep W1; the source's
  // own W1 is never touched.
  const Matrix* W1 = src.maps.W1;
  std::vector<float> plane(W1->data, W1->data + static_cast<size_t>(W1->cols) * W1->rows);
  Matrix weights{W1->cols, W1->rows, plane.data()};
  StitchMaps maps = src.maps;
  maps.W1 = &weights;
  for (size_t i = 0; i < plane.size(); ++i)
    if (corner[i]) plane[i] = a[i];
  int result = GenerateMABFileFromMaps(maps, pathA);
  for (size_t i = 0; i < plane.size(); ++i)
    if (corner[i]) plane[i] = b[i];
  int second = GenerateMABFileFromMaps(maps, pathB);
  return result != 0 ? result : second;
}
