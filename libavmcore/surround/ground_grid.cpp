#include "surround/ground_grid.h"
#include "frame/log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "camera/camera_model.h"
#include "frame/numeric_constants.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "surround/merger_lut_internal.h"

namespace {

// ROI paths longer than this are a caller's mistake (a step far too small).
constexpr size_t kMaxRoiPoints = 1000000;

struct Segment {
  bool fixedX;   // x fixed, y runs; else y fixed, x runs
  float fixed;   // the fixed coordinate
  float from, to;
};

// Samples `from`, from +- step, ... while strictly before `to`.
bool SampleSegment(const Segment& s, float step, std::vector<float>* pts, bool replaceLast) {
  if (replaceLast && !pts->empty()) pts->resize(pts->size() - 3);
  const float dir = s.to >= s.from ? 1.0f : -1.0f;
  for (long i = 0;; ++i) {
    const float v = s.from + dir * step * static_cast<float>(i);
    if (i > 0 && !(dir > 0 ? v < s.to : v > s.to)) break;
    if (pts->size() / 3 >= kMaxRoiPoints) return false;
    pts->push_back(s.fixedX ? s.fixed : v);
    pts->push_back(s.fixedX ? v : s.fixed);
    pts->push_back(0.0f);
  }
  return true;
}

}  // namespace

int32_t LUT_BuildGroundGrid(LUTOB* lut, int32_t width, int32_t height, int32_t margin, int32_t yOffset,
                            GroundGridMaps* out) {
  if (lut == nullptr || out == nullptr || width < 1 || height < 1 || out->X1.data == nullptr) return -1;
  const float g = static_cast<float>(lut->cfg.carWidth + 2 * margin) / static_cast<float>(width);
  const size_t n = static_cast<size_t>(width) * height;
  std::vector<float> table(3 * n), w3(n);
  for (int32_t r = 0; r < height; ++r)
    for (int32_t c = 0; c < width; ++c) {
      float* p = &table[3 * (static_cast<size_t>(r) * width + c)];
      p[0] = -static_cast<float>(width) * g * 0.5f + g * static_cast<float>(c);
      p[1] = static_cast<float>(yOffset) - static_cast<float>(height) * g * 0.5f + g * static_cast<float>(r);
      p[2] = 0.0f;
    }
  Matrix ground{3, static_cast<int32_t>(n), table.data()};
  Matrix W3{width, height, w3.data()};
  float saved[4];
  const float grid[4] = {55.0f, 75.0f, 35.0f, 55.0f};
  for (int k = 0; k < 4; ++k) {
    saved[k] = lut->seamAngles[k];
    lut->seamAngles[k] = grid[k];
  }
  LUT_BuildMergerMaps(lut, 2, 0, width, height, &ground, &out->W1, &out->W2, &out->X1, &out->Y1, &out->X2,
                      &out->Y2, &W3, &out->box[0], &out->box[1], &out->box[2], &out->box[3], nullptr, nullptr,
                      nullptr, nullptr);
  for (int k = 0; k < 4; ++k) lut->seamAngles[k] = saved[k];
  return 0;
}

int32_t LUT_BuildGroundGridEx(LUTOB* lut, int32_t width, int32_t height, int32_t margin, int32_t yOffset,
                              Matrix* outX, Matrix* outY, int32_t* leftColumn, int32_t* frontRow,
                              int32_t* rightColumn, int32_t* backRow, float* spacing) {
  if (lut == nullptr || outX == nullptr || outY == nullptr) return 0;
  const float g = static_cast<float>(lut->cfg.carWidth + 2 * margin) / static_cast<float>(width > 0 ? width : 1);
  const float x0 = -static_cast<float>(width) * g / 2.0f;
  const float y0 = static_cast<float>(yOffset) - static_cast<float>(height) * g / 2.0f;
  const float cw = static_cast<float>(lut->cfg.carWidth), cl = static_cast<float>(lut->cfg.carLength);
  const int32_t cL = static_cast<int32_t>((-cw / 2 - x0) / g + 0.5f);
  const int32_t cR = static_cast<int32_t>((cw / 2 - x0) / g + 0.5f);
  const int32_t rF = static_cast<int32_t>((-cl / 2 - y0) / g + 0.5f);
  const int32_t rB = static_cast<int32_t>((cl / 2 - y0) / g + 0.5f);
  if (leftColumn) *leftColumn = cL;
  if (rightColumn) *rightColumn = cR;
  if (frontRow) *frontRow = rF;
  if (backRow) *backRow = rB;
  if (spacing) *spacing = g;
  float saved[4];
  const float fixed[4] = {85.0f, 85.0f, 75.0f, 75.0f};
  for (int k = 0; k < 4; ++k) {
    saved[k] = lut->seamAngles[k];
    lut->seamAngles[k] = fixed[k];
  }
  if (width >= 1 && height >= 1 && outX->data != nullptr && outY->data != nullptr) {
    const size_t n = static_cast<size_t>(width) * height;
    std::fill(outX->data, outX->data + n, 0.0f);
    std::fill(outY->data, outY->data + n, 0.0f);
    lut_internal::Projectors proj;
    proj.Prepare(lut);
    // A car edge on the grid's border would divide by zero: one cell then.
    const float sF = rF != 0 ? static_cast<float>(rF) : 1.0f;
    const float sL = cL != 0 ? static_cast<float>(cL) : 1.0f;
    for (int32_t r = 0; r < height; ++r) {
      for (int32_t c = 0; c < width; ++c) {
        const size_t k = static_cast<size_t>(r) * width + c;
        const float p[3] = {x0 + g * static_cast<float>(c), y0 + g * static_cast<float>(r), 0.0f};
        const bool front = r < rF, back = r > rB, left = c < cL, right = c > cR;
        int endCam = -1, sideCam = -1;
        if (front || back) endCam = front ? 0 : 1;
        if (left || right) sideCam = left ? 2 : 3;
        float x = 0.0f, y = 0.0f;
        if (endCam >= 0 && sideCam >= 0) {
          const int pair = front ? 0 : 2;
          float wgt = 0.0f;
          if (lut->cornerCounts[endCam] != 0) {
            const float dr = static_cast<float>(front ? rF - r : r - rB);
            const float dc = static_cast<float>(left ? cL - c : c - cR);
            const float a = std::atan2(dr / sF, dc / sL) * 180.0f / kPi;
            const float lo = lut->seamAngles[pair], hi = lut->seamAngles[pair + 1];
            wgt = a < lo ? 0.0f : (a > hi ? 1.0f : (hi > lo ? (a - lo) / (hi - lo) : 0.0f));
          }
          float ex, ey, sx, sy;
          const bool eOk = lut->cornerCounts[endCam] != 0 && proj.Project(endCam, p, &ex, &ey);
          const bool sOk = proj.Project(sideCam, p, &sx, &sy);
          if (eOk && (!sOk || wgt > 0.5f)) {
            x = ex;
            y = ey;
          } else if (sOk) {
            x = sx;
            y = sy;
          }
        } else if (endCam >= 0 || sideCam >= 0) {
          float qx, qy;
          if (proj.Project(endCam >= 0 ? endCam : sideCam, p, &qx, &qy)) {
            x = qx;
            y = qy;
          }
        }
        outX->data[k] = x;
        outY->data[k] = y;
      }
    }
  }
  for (int k = 0; k < 4; ++k) lut->seamAngles[k] = saved[k];
  return 0;
}

int32_t GenerateROIFile(LUTOB* lut, const char* path, int32_t cameraBits, int32_t /*ignored*/, int32_t step,
                        int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (y1 <= y0 || x1 <= x0 || step <= 0 || lut == nullptr || path == nullptr) {
    AvmLog("GenerateROIFile Param Failed ");
    return -1;
  }
  FILE* f = fopen(path, "wt");
  if (f == nullptr) {
    AvmLog("GenerateROIFile Openfile Failed ");
    return -1;
  }
  const float X0 = static_cast<float>(x0), Y0 = static_cast<float>(y0);
  const float X1 = static_cast<float>(x1), Y1 = static_cast<float>(y1);
  const float s = static_cast<float>(step);
  static const char* const kHeaders[4] = {"camera front \n", "camera back \n", "camera left \n",
                                          "camera right \n"};
  bool ok = true;
  for (int c = 0; c < 4 && ok; ++c) {
    if ((cameraBits & (1 << c)) == 0) continue;
    // First segment (when it exists), middle, last (when it exists).
    bool ends;
    Segment seg[3];
    switch (c) {
      case 0:
        ends = y0 < 0;
        seg[0] = {true, X0, 0.0f, Y0};
        seg[1] = {false, Y0, X0, X1};
        seg[2] = {true, X1, Y0, 0.0f};
        break;
      case 1:
        ends = y1 > 0;
        seg[0] = {true, X1, 0.0f, Y1};
        seg[1] = {false, Y1, X1, X0};
        seg[2] = {true, X0, Y1, 0.0f};
        break;
      case 2:
        ends = x0 < 0;
        seg[0] = {false, Y1, 0.0f, X0};
        seg[1] = {true, X0, Y1, Y0};
        seg[2] = {false, Y0, X0, 0.0f};
        break;
      default:
        ends = x1 > 0;
        seg[0] = {false, Y0, 0.0f, X1};
        seg[1] = {true, X1, Y0, Y1};
        seg[2] = {false, Y1, X1, 0.0f};
        break;
    }
    std::vector<float> pts;
    if (ends) {
      ok = SampleSegment(seg[0], s, &pts, false) && SampleSegment(seg[1], s, &pts, true) &&
           SampleSegment(seg[2], s, &pts, true);
    } else {
      ok = SampleSegment(seg[1], s, &pts, false);
      if (ok && !pts.empty()) pts.resize(pts.size() - 3);
    }
    if (!ok) {
      AvmLog("GenerateROIFile Param Failed ");
      break;
    }
    ok = fputs(kHeaders[c], f) >= 0;
    const int32_t n = static_cast<int32_t>(pts.size() / 3);
    if (n == 0 || !ok) continue;
    std::vector<float> img(2 * static_cast<size_t>(n));
    Matrix obj{3, n, pts.data()};
    Matrix out{2, n, img.data()};
    CameraModel_ProjectPoints(static_cast<int32_t>(lut->cfg.model[c]), &obj, &lut->poses.R[c], &lut->poses.T[c],
                              &lut->poses.K[c], &lut->poses.D[c], &out, nullptr, nullptr, nullptr, nullptr, nullptr,
                              lut->cfg.lensSlot[c]);
    for (int32_t i = 0; i < n && ok; ++i) {
      const float u = img[2 * i], v = img[2 * i + 1];
      if (u > 0.0f && u < static_cast<float>(lut->camW - 1) && v > 0.0f && v < static_cast<float>(lut->camH - 1))
        ok = fprintf(f, "bd %f %f %f %f \n", u, v, pts[3 * i], pts[3 * i + 1]) > 0;
    }
  }
  ok = fclose(f) == 0 && ok;
  return ok ? 0 : -1;
}
