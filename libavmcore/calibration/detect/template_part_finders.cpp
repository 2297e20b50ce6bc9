// The front and rear part finders: a centre target and two side boards of
// the front or rear mat, found with the correlation-template detector on the
// whole (resampled) picture. Each call starts its threshold schedule at the
// caller's try counter and leaves the counter behind the step that worked.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calibration/detect/corner_resample.h"
#include "calibration/detect/template_corners.h"
#include "calibration/detect/template_segment_finders.h"
#include "toolkit/border_filters.h"

namespace {

constexpr float kStepSuppression[4] = {0.28f, 0.2f, 0.14f, 0.09f};
constexpr float kStepScore[4] = {0.23f, 0.23f, 0.15f, 0.07f};
constexpr int32_t kSteps = 4;

using Corners = std::vector<TemplateCorner>;

// An unlinked, unlabelled copy of a corner (links are pointers into the
// array the corner was linked in, so a copy never keeps them).
TemplateCorner Fresh(const TemplateCorner& c) {
  TemplateCorner f = c;
  f.label = -1;
  f.gridRow = f.gridCol = -1;
  f.linkCount = 0;
  f.visitMark = 0;
  for (int k = 0; k < 4; ++k) {
    f.link[k] = nullptr;
    f.linkLength[k] = FLT_MAX;
    f.backIndex[k] = -1;
  }
  return f;
}

bool Unlabelled(const TemplateCorner* c) { return c != nullptr && c->label < 0; }

// The picture as the detector sees it: resampled, smoothed, with its corner
// likelihood.
struct PartPicture {
  MatrixPtr work;
  float sx = 1.0f, sy = 1.0f;
  int32_t W = 0, H = 0;
  std::vector<float> smooth, like;
  Matrix smoothM{0, 0, nullptr}, likeM{0, 0, nullptr};

  explicit PartPicture(const Matrix* image) {
    work.reset(ResampleForCorners(image, 1, &sx, &sy));
    W = work->cols;
    H = work->rows;
    const size_t n = static_cast<size_t>(W) * static_cast<size_t>(H);
    smooth.assign(n, 0.0f);
    like.assign(n, 0.0f);
    smoothM = Matrix{W, H, smooth.data()};
    likeM = Matrix{W, H, like.data()};
    Image_BoxMean(work.get(), &smoothM, 1, 1);
    CornerLikelihood(&smoothM, &likeM, 0);
  }
  PartPicture(const PartPicture&) = delete;
  PartPicture& operator=(const PartPicture&) = delete;

  // The corner lists 0 and 2 of one schedule step (the two the finders use).
  void Detect(int32_t step, Corners out[2]) const {
    TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
    int32_t counts[3] = {0, 0, 0};
    DetectTemplateCorners(&smoothM, &likeM, lists, counts, 0, kStepSuppression[step], kStepScore[step]);
    for (int i = 0; i < 2; ++i) {
      const int j = i == 0 ? 0 : 2;
      out[i].clear();
      for (int32_t k = 0; k < counts[j]; ++k) out[i].push_back(Fresh(lists[j][k]));
    }
    for (TemplateCorner* l : lists) free(l);
  }
};

// Link distance of the centre selection and of the side lists.
float CentreLinkDistance(int32_t W) { return std::max(160.0f, static_cast<float>(W) * 160.0f / 720.0f); }
float SideLinkDistance(int32_t W) {
  const float d = static_cast<float>(W) * 160.0f / 720.0f;
  return d >= 160.0f ? 0.75f * d : 120.0f;
}

// One board grown from a linked list: its members in grid order.
struct Board {
  int32_t rows = 0, cols = 0;
  std::vector<TemplateCorner*> cells;
};

// Grows every board of the linked list (labels 0, 1, ..) and hands each
// complete one to visit(label, board).
template <typename Visit>
void GrowAll(Corners* list, int32_t centreX, Visit visit) {
  const auto n = static_cast<int32_t>(list->size());
  if (n == 0) return;
  std::vector<TemplateCorner*> members(2 * static_cast<size_t>(n) + 16, nullptr);
  std::vector<float> grid;
  for (int32_t k = 0;; ++k) {
    Board b;
    const int32_t m = GrowBoard(list->data(), n, members.data(), k, &b.rows, &b.cols, centreX);
    if (m == 0) break;
    if (b.rows < 1 || b.cols < 1 || m != b.rows * b.cols) continue;
    grid.assign(2 * static_cast<size_t>(m), 0.0f);
    b.cells.assign(static_cast<size_t>(m), nullptr);
    CornerGridToArray(members.data(), m, b.cols, grid.data(), b.cells.data());
    bool whole = true;
    for (TemplateCorner* c : b.cells) whole = whole && c != nullptr;
    if (whole) visit(k, b);
  }
}

void Put(float* points, int32_t index, const TemplateCorner* c) {
  points[2 * index] = c->y;
  points[2 * index + 1] = c->x;
}

// Score of a side board's reference corner: low and near the middle wins.
float SideScore(const TemplateCorner* ref, int32_t W, int32_t H) {
  return static_cast<float>(H) + std::fabs(ref->x - static_cast<float>(W / 2)) - ref->y;
}

// Front mat on one corner list with one left limit; points in the resampled
// picture. Returns true with all 14 points written.
bool FrontTry(const Corners& source, float leftLimit, int32_t W, int32_t H, float sy, float* points) {
  const float top = static_cast<float>(H) / 4.0f, rightLimit = static_cast<float>(W) * 0.72f;
  Corners centre;
  for (const TemplateCorner& c : source)
    if (c.y >= top && c.x > leftLimit && c.x < rightLimit) centre.push_back(Fresh(c));
  if (centre.empty()) return false;
  LinkTemplateCorners(centre.data(), static_cast<int32_t>(centre.size()), 0, CentreLinkDistance(W), 4.0f);
  float best = 10000.0f;
  int32_t chosen = -1;
  GrowAll(&centre, 0, [&](int32_t label, const Board& b) {
    if (b.rows != 2 || b.cols != 2 || b.cells[0]->link[0] != b.cells[1]) return;
    const float s = static_cast<float>(H) - b.cells[0]->y;
    if (!(s < best)) return;
    best = s;
    chosen = label;
    for (int i = 0; i < 4; ++i) Put(points, i, b.cells[i]);
  });
  if (chosen < 0) return false;
  const float lowest = std::max(points[4], points[6]) + 25.0f * sy;
  Corners left, right;
  for (const TemplateCorner& c : source) {
    if (c.y < top || c.y > lowest) continue;
    if (c.x < leftLimit) left.push_back(Fresh(c));
    else if (c.x > rightLimit) right.push_back(Fresh(c));
  }
  for (const TemplateCorner& c : centre)
    if (c.label != chosen) (c.x < static_cast<float>(W / 2) ? left : right).push_back(Fresh(c));

  // Left side: a 2 x 2 board with the corner above its right column and one
  // beside its lower right corner, or the 3 x 2 board that holds the first.
  LinkTemplateCorners(left.data(), static_cast<int32_t>(left.size()), 0, SideLinkDistance(W), 6.0f);
  best = 10000.0f;
  bool found = false;
  GrowAll(&left, 0, [&](int32_t label, const Board& b) {
    const auto& c = b.cells;
    if (b.cols != 2 || c[0]->link[0] != c[1]) return;
    if (b.rows == 2) {
      TemplateCorner* e = c[1]->link[1] == c[3] ? c[1]->link[3] : c[1]->link[0];
      TemplateCorner* f = c[3]->link[2] == c[2] ? c[3]->link[0] : c[3]->link[1];
      if (!Unlabelled(e) || !Unlabelled(f)) return;
      const float s = SideScore(c[3], W, H);
      if (!(s < best)) return;
      best = s;
      found = true;
      for (int i = 0; i < 4; ++i) Put(points, 4 + i, c[i]);
      Put(points, 12, e);
      e->label = label;
    } else if (b.rows == 3) {
      TemplateCorner* f = c[5]->link[2] == c[4] ? c[5]->link[0] : c[5]->link[1];
      if (!Unlabelled(f)) return;
      const float s = SideScore(c[5], W, H);
      if (!(s < best)) return;
      best = s;
      found = true;
      for (int i = 0; i < 4; ++i) Put(points, 4 + i, c[2 + i]);
      Put(points, 12, c[1]);
    }
  });
  if (!found) return false;

  // Right side, mirrored.
  LinkTemplateCorners(right.data(), static_cast<int32_t>(right.size()), 0, SideLinkDistance(W), 6.0f);
  best = 10000.0f;
  found = false;
  GrowAll(&right, 0, [&](int32_t label, const Board& b) {
    const auto& c = b.cells;
    if (b.cols != 2 || c[0]->link[0] != c[1]) return;
    if (b.rows == 2) {
      TemplateCorner* e = c[0]->link[1] == c[2] ? c[0]->link[3] : c[0]->link[2];
      TemplateCorner* f = c[2]->link[0] == c[3] ? c[2]->link[2] : c[2]->link[1];
      if (!Unlabelled(e) || !Unlabelled(f)) return;
      const float s = SideScore(c[2], W, H);
      if (!(s < best)) return;
      best = s;
      found = true;
      for (int i = 0; i < 4; ++i) Put(points, 8 + i, c[i]);
      Put(points, 13, e);
      e->label = label;
    } else if (b.rows == 3) {
      TemplateCorner* f = c[4]->link[0] == c[5] ? c[4]->link[2] : c[4]->link[1];
      if (!Unlabelled(f)) return;
      const float s = SideScore(c[4], W, H);
      if (!(s < best)) return;
      best = s;
      found = true;
      for (int i = 0; i < 4; ++i) Put(points, 8 + i, c[2 + i]);
      Put(points, 13, c[0]);
    }
  });
  return found;
}

// Rear mat on one corner list: the centre cross and a board of 3 or 4 rows
// by 2 columns on each side. Returns true with all 16 points written.
bool RearTry(const Corners& source, int32_t W, int32_t H, float sy, float* points) {
  const float top = static_cast<float>(H) / 4.0f, leftLimit = static_cast<float>(W) * 0.25f,
              rightLimit = static_cast<float>(W) * 0.72f;
  Corners centre;
  for (const TemplateCorner& c : source)
    if (c.y >= top && c.x > leftLimit && c.x < rightLimit) centre.push_back(Fresh(c));
  if (centre.empty()) return false;
  LinkTemplateCorners(centre.data(), static_cast<int32_t>(centre.size()), 0, CentreLinkDistance(W), 4.0f);
  TemplateCorner* cross = nullptr;
  float best = 10000.0f;
  for (TemplateCorner& c : centre) {
    const bool shape = c.linkCount == 4 || (c.linkCount == 3 && c.link[1] == nullptr);
    if (!shape || c.link[3] == nullptr || c.link[0] == nullptr || c.link[2] == nullptr) continue;
    if (!(c.link[3]->x - c.x < static_cast<float>(W) * 0.023f)) continue;
    const float s = static_cast<float>(H) - c.y;
    if (s < best) best = s, cross = &c;
  }
  if (cross == nullptr) return false;
  Put(points, 0, cross->link[3]);
  Put(points, 1, cross->link[2]);
  Put(points, 2, cross);
  Put(points, 3, cross->link[0]);
  const float lowest =
      cross->link[1] != nullptr ? cross->link[1]->y + 30.0f * sy : static_cast<float>(H - 1);
  TemplateCorner* used[6] = {cross, cross->link[0], cross->link[1], cross->link[2], cross->link[3],
                             cross->link[1] != nullptr ? cross->link[1]->link[2] : nullptr};
  TemplateCorner* upLeft = cross->link[3]->link[0];
  for (TemplateCorner* u : used)
    if (u != nullptr) u->label = 0;
  if (upLeft != nullptr) upLeft->label = 0;
  Corners left, right;
  for (const TemplateCorner& c : source) {
    if (c.y < top || c.y > lowest) continue;
    if (c.x < leftLimit) left.push_back(Fresh(c));
    else if (c.x > rightLimit) right.push_back(Fresh(c));
  }
  for (const TemplateCorner& c : centre)
    if (c.label != 0) (c.x < static_cast<float>(W / 2) ? left : right).push_back(Fresh(c));

  for (int side = 0; side < 2; ++side) {
    Corners& list = side == 0 ? left : right;
    LinkTemplateCorners(list.data(), static_cast<int32_t>(list.size()), 0, SideLinkDistance(W), 6.0f);
    best = 10000.0f;
    bool found = false;
    GrowAll(&list, 0, [&](int32_t, const Board& b) {
      const auto& c = b.cells;
      if (b.cols != 2 || (b.rows != 3 && b.rows != 4) || c[0]->link[0] != c[1]) return;
      const size_t last = c.size() - 1;
      TemplateCorner* bottomLeft = c[last - 1];
      TemplateCorner* bottomRight = c[last];
      TemplateCorner* ref = side == 0 ? bottomRight : bottomLeft;
      TemplateCorner* f = side == 0 ? (ref->link[2] == bottomLeft ? ref->link[0] : ref->link[1])
                                    : (ref->link[0] == bottomRight ? ref->link[2] : ref->link[1]);
      if (!Unlabelled(f)) return;
      const float s = SideScore(ref, W, H);
      if (!(s < best)) return;
      best = s;
      found = true;
      const int32_t first = side == 0 ? 4 : 10;
      for (int i = 0; i < 6; ++i) Put(points, first + i, c[c.size() - 6 + i]);
    });
    if (!found) return false;
  }
  return true;
}

// The schedule shared by both part finders: steps from *tries to 3, the
// try function on lists 0 and 2 of each step; on success the points are
// scaled back to the camera image.
template <typename Try>
uint32_t RunPartSchedule(Matrix* image, float* points, int32_t* tries, int32_t count, Try attempt) {
  if (tries == nullptr) return 0;
  if (*tries >= kSteps) {
    ++*tries;
    return 0;
  }
  if (image == nullptr || image->data == nullptr || image->cols < 16 || image->rows < 16 || points == nullptr) {
    *tries = kSteps + 1;
    return 0;
  }
  const PartPicture pic(image);
  std::vector<float> found(2 * static_cast<size_t>(count), 0.0f);
  Corners lists[2];
  for (int32_t step = *tries < 0 ? 0 : *tries; step < kSteps; ++step) {
    pic.Detect(step, lists);
    for (const Corners& list : lists) {
      if (list.empty() || !attempt(list, pic, found.data())) continue;
      for (int32_t i = 0; i < count; ++i) {
        points[2 * i] = found[2 * i] * pic.sy;
        points[2 * i + 1] = found[2 * i + 1] * pic.sx;
      }
      *tries = step + 1;
      return static_cast<uint32_t>(count);
    }
  }
  *tries = kSteps + 1;
  return 0;
}

}  // namespace

uint32_t CalibFind_TemplateFrontPart(LUTOB*, uint32_t, Matrix* image, float* points, int32_t* tries) {
  return RunPartSchedule(image, points, tries, 14, [](const Corners& list, const PartPicture& pic, float* out) {
    // Every try starts from the list as detected, so a failed try's labels
    // and links never reach the next one.
    for (float limit : {0.25f, 0.32f})
      if (FrontTry(list, static_cast<float>(pic.W) * limit, pic.W, pic.H, pic.sy, out)) return true;
    return false;
  });
}

uint32_t CalibFind_TemplateRearPart(LUTOB*, uint32_t, Matrix* image, float* points, int32_t* tries) {
  return RunPartSchedule(image, points, tries, 16, [](const Corners& list, const PartPicture& pic, float* out) {
    return RearTry(list, pic.W, pic.H, pic.sy, out);
  });
}
