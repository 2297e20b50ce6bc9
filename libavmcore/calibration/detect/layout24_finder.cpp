// Layout 24: a checker-circle mark inside the camera's profile box gives the
// first pose; single-point floor marks are then added stage by stage, each
// stage re-solved before the next is predicted.
#include <cstring>
#include <vector>

#include "calibration/detect/checker_circles.h"
#include "calibration/detect/corner_resample.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/predicted_target_finders.h"
#include "frame/calib_profile.h"
#include "surround/lutob.h"

namespace {

struct Layout24 {
  LUTOB* lut;
  uint32_t camera;
  const Matrix* image;
  float* points;

  // Floor mark k into point k: a near window first, then a wider one.
  bool Mark(int32_t k) {
    const int32_t c = static_cast<int32_t>(camera) - 1;
    float* out = points + 2 * k;
    return CalibFindPattern(lut, c, image, 8, 0, 0, out, 200.0f,
                            FinderWorldX(lut, camera, k) - 250.0f,
                            FinderWorldY(lut, camera, k) - 250.0f, 500.0f, 500.0f, 0.0f) != 0 ||
           CalibFindPattern(lut, c, image, 8, 0, 0, out, 200.0f,
                            FinderWorldX(lut, camera, k) - 400.0f,
                            FinderWorldY(lut, camera, k) - 400.0f, 800.0f, 800.0f, 0.0f) != 0;
  }
  bool Marks(int32_t first, int32_t last) {
    for (int32_t k = first; k <= last; ++k)
      if (!Mark(k)) return false;
    return true;
  }
  // Corner mark k into point k.
  bool Corner(int32_t k) {
    return CalibFind_Layout24Part(lut, static_cast<int32_t>(camera) - 1, image, points + 2 * k,
                                  FinderWorldX(lut, camera, k) - 250.0f,
                                  FinderWorldY(lut, camera, k) - 250.0f, 500.0f, 500.0f) != 0;
  }
  // The last eight marks become the result, points and world points alike.
  uint32_t Keep(const int32_t (&from)[8]) {
    float* wp = lut->worldPoints[camera - 1];
    for (int32_t i = 0; i < 8; ++i) {
      memmove(points + 2 * i, points + 2 * from[i], 2 * sizeof(float));
      memmove(wp + 3 * i, wp + 3 * from[i], 3 * sizeof(float));
    }
    return 8;
  }
};

// The checker-circle mark in the camera's profile box (cut to the picture)
// of the 1280 x 720 working copy; its four points in camera pixels.
bool CheckerCircles(const Matrix* image, uint32_t camera, Layout24* f) {
  float sx = 1.0f, sy = 1.0f;
  MatrixPtr work(ResampleTo1280x720(image, &sx, &sy));
  if (work == nullptr) return false;
  const CalibProfileRecord& prof = CalibProfile();
  const int32_t v = 2 + 4 * (static_cast<int32_t>(camera) - 1);
  ImageBox box{};
  std::vector<float> buf;
  Matrix crop{};
  bool solved = false;
  if (ImageBox_ClipEdges(work->cols, work->rows, prof.F(v), prof.F(v + 1), prof.F(v + 2), prof.F(v + 3), &box) !=
          0 &&
      Matrix_CropToImage(work.get(), box.left, box.top, box.cols, box.rows, &buf, &crop, &box) != 0) {
    struct Try {
      float offset;
      int32_t mode;
    };
    for (const Try& t : {Try{0.0f, 0}, Try{0.02f, 0}, Try{-0.02f, 1}, Try{0.03f, 1}, Try{0.01f, 2}, Try{-0.04f, 2}}) {
      float found[8];
      if (Pattern_FindCheckerCircles(&crop, t.mode, found, t.offset) == 0) continue;
      for (int32_t i = 0; i < 4; ++i) {
        f->points[2 * i] = (static_cast<float>(box.top) + found[2 * i]) * sy;
        f->points[2 * i + 1] = (static_cast<float>(box.left) + found[2 * i + 1]) * sx;
      }
      if (FinderSolvePose(f->lut, camera, 4, 0).ok) {
        solved = true;
        break;
      }
    }
  }
  return solved;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout24) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  Layout24 f{lut, camera, image, points};
  if (!CheckerCircles(image, camera, &f)) return 0;
  // Marks 4..7: one more search after a re-solve with the refining flag.
  if (!f.Marks(4, 7)) {
    if (!FinderSolvePose(lut, camera, 4, 1).ok || !f.Marks(4, 7)) return 4;
  }
  if (!FinderSolvePose(lut, camera, 8, 0).ok) return 4;
  // Marks 8..11: a failed solve counts as a miss.
  for (int32_t attempt = 0;; ++attempt) {
    if (f.Marks(8, 11) && FinderSolvePose(lut, camera, 12, 1).ok) break;
    if (attempt == 1 || !FinderSolvePose(lut, camera, 8, 1).ok) return 8;
  }
  if (camera <= 2) {
    if (!f.Marks(12, 14) || !f.Corner(15)) return 12;
    if (!FinderSolvePose(lut, camera, 16, 1).ok) return 12;
    static const int32_t kFront[8] = {8, 9, 10, 11, 12, 13, 14, 15};
    return f.Keep(kFront);
  }
  if (!f.Marks(12, 13)) return 12;
  if (!FinderSolvePose(lut, camera, 14, 1).ok) return 12;
  if (!f.Corner(14) || !f.Corner(15)) return 14;
  if (!FinderSolvePose(lut, camera, 16, 1).ok) return 14;
  if (!f.Marks(16, 18) || !f.Corner(19)) return 16;
  if (!FinderSolvePose(lut, camera, 20, 1).ok) return 16;
  static const int32_t kSide[8] = {8, 9, 14, 15, 16, 17, 18, 19};
  return f.Keep(kSide);
}
