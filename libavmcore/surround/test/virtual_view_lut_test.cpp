#include "surround/virtual_view_lut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/four_camera_rig.h"

namespace {

constexpr int32_t kCamW = 320, kCamH = 240, kW = 160, kH = 240;
constexpr float kHeight = 8000.0f, kFocal = 200.0f;

class VirtualViewTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  FourCameraRig* rig_ = nullptr;
  VirtualViewLUTGen gen_;
  std::string cfg_ = std::string(DataDirectory()) + "/lut_config.krv";
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new FourCameraRig(kCamW, kCamH, 160, 240, true);
    ASSERT_EQ(SaveLUTConfig(rig_->lut, cfg_.c_str()), 1);
    ASSERT_EQ(VirtualViewLUTGen_Init(&gen_, cfg_.c_str(), kW, kH, kHeight, 1000.0f, 2000.0f, 2000.0f), 1);
  }
  void TearDown() override {
    VirtualViewLUTGen_Release(&gen_);
    delete rig_;
  }
  // Ground point (x, y) through rig camera k; false outside its field.
  bool Project(int k, float x, float y, float* u, float* v, float z = 0.0f) const {
    const SceneCamera& c = rig_->cams[k];
    float K[9], D[8], r[3], T[3];
    std::copy(c.K, c.K + 9, K);
    std::copy(c.D, c.D + 8, D);
    std::copy(c.r, c.r + 3, r);
    std::copy(c.T, c.T + 3, T);
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
    ProjectPointFn fn = nullptr;
    ProjectionContext ctx;
    CameraModel_ProjectPoint(c.model, &mr, &mT, &mK, &mD, &fn, &ctx);
    return fn != nullptr && fn(c.model, &ctx, u, v, 0, x, y, z) != 0;
  }
};

TEST_F(VirtualViewTest, UnsupportedStepsAreRefused) {
  std::vector<uint32_t> tex(2 * kW * kH, 7u);
  for (int s : {0, -4, 1, 3, 16}) {
    EXPECT_EQ(VirtualViewLUTGen_Build(&gen_, s, tex.data(), nullptr, kFocal, 0, 0, 1, 0, 0, 0, 0), 0) << s;
    EXPECT_EQ(tex[0], 7u);
  }
}

TEST_F(VirtualViewTest, CameraMatrixWithoutTexture) {
  float m[12];
  ASSERT_EQ(VirtualViewLUTGen_Build(&gen_, 4, nullptr, m, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
  // Straight down from kHeight above the target: no rotation, the target
  // kHeight in front.
  const float want[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, kHeight};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(m[i], want[i], 1e-3f) << i;
}

// Ground point seen by pixel (row, col) of the straight-down virtual camera:
// an equidistant fisheye, so the ray's angle from the axis is the distance
// from the image centre over the focal length.
void GroundOfPixel(int32_t row, int32_t col, float* gx, float* gy) {
  const double du = col - (kW >> 1), dv = row - (kH >> 1), d = std::hypot(du, dv);
  const double r = d > 0 ? kHeight * std::tan(d / kFocal) / d : kHeight / kFocal;
  *gx = static_cast<float>(du * r);
  *gy = static_cast<float>(dv * r);
}

// Floor points land where the virtual camera's geometry puts them, for
// every spacing: sampled and interpolated pixels alike; the car stays empty.
// Between samples the build interpolates linearly (columns first, then
// along the row), so such a pixel can be no nearer to the truth than that
// interpolation: the test recomputes the row's interpolation from the values
// at the block's ends and holds the texel to it; exactly computed pixels are
// held to 1 px. Spacings 2 and 4 stay within 1 px everywhere. With 8, the
// interpolation itself strays further only in the corner blends, where a
// sample of weight 1 has no second source and its neighbour's is taken (a
// value 8 rows away) or the ends' cameras are swapped.
TEST_F(VirtualViewTest, FloorPointsLandInPlaceForEverySpacing) {
  for (int s : {2, 4, 8}) {
    std::vector<uint32_t> tex(2 * kW * kH, 0u);
    ASSERT_EQ(VirtualViewLUTGen_Build(&gen_, s, tex.data(), nullptr, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
    float cx, cy;
    VirtualViewLUTGen_ProjectToView(&gen_, &cx, &cy, nullptr, 0, 0, 0);
    const size_t centre = static_cast<size_t>(kH / 2 + std::lround(cy)) * kW + kW / 2 + std::lround(cx);
    EXPECT_EQ(tex[centre], kVirtualViewEmptyTop);
    EXPECT_EQ(tex[kW * kH + centre], 0u);
    double worst = 0.0, worstRule = 0.0, worstOffRule = 0.0, worstOther = 0.0;
    int checked = 0, over = 0, overRule = 0, overSubstituted = 0, interpolated = 0;
    for (float y = -4000; y <= 4000; y += 137)
      for (float x = -2800; x <= 2800; x += 131) {
        if (std::fabs(x) < 900 + 100 && std::fabs(y) < 2300 + 100) continue;
        if (x * x / (2900.f * 2900.f) + y * y / (4300.f * 4300.f) > 0.95f) continue;  // the floor only
        float u, v;
        VirtualViewLUTGen_ProjectToView(&gen_, &u, &v, nullptr, x, y, 0);
        const int32_t col = (kW >> 1) + static_cast<int32_t>(std::lround(u)), row = (kH >> 1) + static_cast<int32_t>(std::lround(v));
        if (col < 0 || col >= kW || row < 0 || row >= kH) continue;
        const uint32_t t = tex[static_cast<size_t>(row) * kW + col];
        if (t == kVirtualViewEmptyTop) continue;
        float gx, gy;
        GroundOfPixel(row, col, &gx, &gy);
        const float qx = ((t & 255) + ((t >> 24) & 127) / 127.0f) * (2 * kCamW) / 255.0f;
        const float qy = (((t >> 8) & 255) + ((t >> 16) & 127) / 127.0f) * (2 * kCamH) / 255.0f;
        const int k = (qx >= kCamW ? 1 : 0) + (qy >= kCamH ? 2 : 0);
        const float ox = (k & 1) ? kCamW : 0.0f, oy = (k & 2) ? kCamH : 0.0f;
        float pu, pv, pu2, pv2;
        if (!Project(k, gx, gy, &pu, &pv) || !Project(k, gx + kHeight / kFocal, gy, &pu2, &pv2)) continue;
        const double scale = std::max(static_cast<double>(std::hypot(pu2 - pu, pv2 - pv)), 1e-3);  // camera px per virtual px
        const double err = std::hypot(qx - ox - pu, qy - oy - pv) / scale;
        worst = std::max(worst, err);
        if (err > 1.0) ++over;
        ++checked;
        // The row rule on the values the column pass left in the maps at
        // the block's ends: one camera, or two cameras both weighted at most
        // 0.9 (the right end's sources swapped); a weight below 0.01 takes
        // the left end's first source. Anything else is computed exactly.
        if (col % s == 0) {
          EXPECT_LE(err, 1.0) << "spacing " << s << " sample column (" << row << ", " << col << ")";
          worstOther = std::max(worstOther, err);
          continue;
        }
        const int32_t ca = col < kW - s ? col / s * s : (kW - 1) / s * s, cb = col < kW - s ? ca + s : kW - 1;
        const size_t ia = static_cast<size_t>(row) * kW + ca, ib = static_cast<size_t>(row) * kW + cb;
        const bool tail = col >= kW - s;
        const bool same = gen_.mask[ia] == gen_.mask[ib];
        const bool both = gen_.mask[ia] != 255 && gen_.mask[ib] != 255;
        const bool swapped = both && !same && (tail || (gen_.weight[ia] <= 0.9f && gen_.weight[ib] <= 0.9f));
        if (!both || !(same || swapped)) {
          worstOther = std::max(worstOther, err);
          EXPECT_LE(err, 1.0) << "spacing " << s << " exact pixel (" << row << ", " << col << ")";
          continue;
        }
        float bx = swapped ? gen_.x2[ib] : gen_.x1[ib], by = swapped ? gen_.y2[ib] : gen_.y1[ib];
        const float bw = swapped ? 1.0f - gen_.weight[ib] : gen_.weight[ib];
        if (bw < 0.01f) bx = gen_.x1[ia], by = gen_.y1[ia];
        const float f = static_cast<float>(col - ca) / (cb - ca);
        const float lx = gen_.x1[ia] + f * (bx - gen_.x1[ia]) - ox, ly = gen_.y1[ia] + f * (by - gen_.y1[ia]) - oy;
        const double ruleErr = std::hypot(lx - pu, ly - pv) / scale;
        // The texel keeps 1/127 of 1/255 of the quad size (truncated) per
        // axis: at most 0.02 camera px here.
        const double quantum = std::hypot(2.0 * kCamW, 2.0 * kCamH) / 255.0 / 127.0 / scale;
        const double offRule = std::hypot(qx - ox - lx, qy - oy - ly) / scale;
        EXPECT_LE(offRule, quantum + 0.01) << "spacing " << s << " pixel (" << row << ", " << col << ")";
        worstRule = std::max(worstRule, ruleErr);
        worstOffRule = std::max(worstOffRule, offRule);
        ++interpolated;
        if (ruleErr <= 1.0) continue;
        ++overRule;
        // Beyond 1 px only where the rule stands in a neighbour's source for
        // a missing one: a block end whose column-pass value came from
        // samples of which one had weight 1 (no second source, the other
        // sample's taken) or the two ends' cameras differ.
        const int32_t r0 = row / s * s, r1 = std::min(r0 + s, kH - 1);
        bool substituted = swapped;
        for (int32_t c : {ca, cb}) {
          const float w0 = gen_.weight[static_cast<size_t>(r0) * kW + c], w1 = gen_.weight[static_cast<size_t>(r1) * kW + c];
          substituted = substituted || (w0 > 0.99f) != (w1 > 0.99f);
        }
        overSubstituted += substituted ? 1 : 0;
        EXPECT_TRUE(substituted) << "spacing " << s << " pixel (" << row << ", " << col << ") " << ruleErr << " px";
      }
    EXPECT_GT(checked, 300) << s;
    // Spacings 2 and 4: every pixel within 1 px.
    if (s < 8) {
      EXPECT_LE(worst, 1.0) << "spacing " << s;
    }
    printf("spacing %d: %d floor points (%d interpolated), %d beyond 1 px, worst %.2f px; interpolated by the rule "
           "worst %.2f px (%d beyond 1 px, %d of them in blends with a stood-in source), texture off the rule by at "
           "most %.3f px; exact pixels worst %.2f px\n",
           s, checked, interpolated, over, worst, worstRule, overRule, overSubstituted, worstOffRule, worstOther);
  }
}

// Half resolution: the texture holds every second row and column; between
// the samples 16 apart the row pass interpolates from the nearest values the
// build stored in the maps on that row (block ends, exact columns of split
// blocks, the halving search's points): each seen texel equals that
// interpolation, and no floor point is further from the truth than it.
TEST_F(VirtualViewTest, HalfResolutionBuild) {
  constexpr int32_t tw = kW / 2, th = kH / 2, S = 16;
  std::vector<uint32_t> tex(2 * tw * th + 1, 7u);
  float m[12];
  ASSERT_EQ(VirtualViewLUTGen_BuildHalf(&gen_, tex.data(), m, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(tex[2 * tw * th], 7u);  // nothing past the half texture
  EXPECT_NEAR(m[11], kHeight, 1e-2f);
  // The car's middle is empty.
  EXPECT_EQ(tex[static_cast<size_t>(th / 2) * tw + tw / 2], kVirtualViewEmptyTop);
  EXPECT_EQ(tex[tw * th + static_cast<size_t>(th / 2) * tw + tw / 2], 0u);
  // Corner fill: rows from H - 16, columns from W - 16 (both divisible) copy
  // the texel pair there.
  const size_t corner = static_cast<size_t>((kH - S) / 2) * tw + (kW - S) / 2;
  for (int32_t r = (kH - S) / 2; r < th; ++r)
    for (int32_t c = (kW - S) / 2; c < tw; ++c) {
      ASSERT_EQ(tex[static_cast<size_t>(r) * tw + c], tex[corner]);
      ASSERT_EQ(tex[tw * th + static_cast<size_t>(r) * tw + c], tex[tw * th + corner]);
    }
  double worst = 0.0, worstRule = 0.0, worstOff = 0.0;
  double worstOne = 0.0;
  int checked = 0, over = 0, overRule = 0, overOne = 0;
  for (float y = -4000; y <= 4000; y += 97)
    for (float x = -2800; x <= 2800; x += 91) {
      if (std::fabs(x) < 900 + 100 && std::fabs(y) < 2300 + 100) continue;
      if (x * x / (2900.f * 2900.f) + y * y / (4300.f * 4300.f) > 0.95f) continue;
      float u, v;
      VirtualViewLUTGen_ProjectToView(&gen_, &u, &v, nullptr, x, y, 0);
      const int32_t col = ((kW >> 1) + static_cast<int32_t>(std::lround(u))) & ~1;
      const int32_t row = ((kH >> 1) + static_cast<int32_t>(std::lround(v))) & ~1;
      if (col < 0 || col >= kW - S || row < 0 || row >= kH - S) continue;  // not the corner fill or tail
      const uint32_t t = tex[static_cast<size_t>(row / 2) * tw + col / 2];
      if (t == kVirtualViewEmptyTop) continue;
      float gx, gy;
      GroundOfPixel(row, col, &gx, &gy);
      const float qx = ((t & 255) + ((t >> 24) & 127) / 127.0f) * (2 * kCamW) / 255.0f;
      const float qy = (((t >> 8) & 255) + ((t >> 16) & 127) / 127.0f) * (2 * kCamH) / 255.0f;
      const int k = (qx >= kCamW ? 1 : 0) + (qy >= kCamH ? 2 : 0);
      const float ox = (k & 1) ? kCamW : 0.0f, oy = (k & 2) ? kCamH : 0.0f;
      float pu, pv, pu2, pv2;
      if (!Project(k, gx, gy, &pu, &pv) || !Project(k, gx + kHeight / kFocal, gy, &pu2, &pv2)) continue;
      const double scale = std::max(static_cast<double>(std::hypot(pu2 - pu, pv2 - pv)), 1e-3);
      const double err = std::hypot(qx - ox - pu, qy - oy - pv) / scale;
      // The stored values around the pixel on its row, within its block.
      const int32_t c0 = col / S * S;
      const size_t base = static_cast<size_t>(row) * kW;
      int32_t L = -1, R = -1;
      for (int32_t c = col; c >= c0 && L < 0; --c)
        if (gen_.mask[base + c] != 255) L = c;
      for (int32_t c = col + 1; c <= c0 + S && R < 0 && L >= 0 && L != col; ++c)
        if (gen_.mask[base + c] != 255) R = c;
      ASSERT_GE(L, 0) << "a seen texel without a stored value at (" << row << ", " << col << ")";
      float lx = gen_.x1[base + L], ly = gen_.y1[base + L];
      if (R >= 0) {
        const size_t b = base + R;
        const bool swap = gen_.mask[b] != gen_.mask[base + L];
        float bx = swap ? gen_.x2[b] : gen_.x1[b], by = swap ? gen_.y2[b] : gen_.y1[b];
        if ((swap ? 1.0f - gen_.weight[b] : gen_.weight[b]) < 0.01f) bx = lx, by = ly;
        const float f = static_cast<float>(col - L) / (R - L);
        lx += f * (bx - lx);
        ly += f * (by - ly);
      } else {
        ASSERT_EQ(L, col) << "texel written past the last stored value at (" << row << ", " << col << ")";
      }
      const double quantum = std::hypot(2.0 * kCamW, 2.0 * kCamH) / 255.0 / 127.0 / scale;
      const double off = std::hypot(qx - lx, qy - ly) / scale;
      const double ruleErr = std::hypot(lx - ox - pu, ly - oy - pv) / scale;
      EXPECT_LE(off, quantum + 0.01) << "pixel (" << row << ", " << col << ")";
      EXPECT_LE(err, std::max(1.0, ruleErr + quantum + 0.01)) << "pixel (" << row << ", " << col << ")";
      worst = std::max(worst, err);
      worstRule = std::max(worstRule, ruleErr);
      worstOff = std::max(worstOff, off);
      const bool oneCamera = R < 0 || gen_.mask[base + R] == gen_.mask[base + L];
      if (oneCamera) {
        worstOne = std::max(worstOne, ruleErr);
        overOne += ruleErr > 1.0 ? 1 : 0;
      }
      over += err > 1.0 ? 1 : 0;
      overRule += ruleErr > 1.0 ? 1 : 0;
      ++checked;
    }
  EXPECT_GT(checked, 300);
  printf("half resolution: %d floor points, %d beyond 1 px, worst %.2f px; the rule's own worst %.2f px (%d beyond "
         "1 px; between two values of one camera worst %.2f px, %d beyond 1 px); texture off the rule by at most "
         "%.3f px\n",
         checked, over, worst, worstRule, overRule, worstOne, overOne, worstOff);
  // The maps stay full size; a second build refills the texture the same.
  std::vector<uint32_t> again(2 * tw * th, 0u);
  ASSERT_EQ(VirtualViewLUTGen_BuildHalf(&gen_, again.data(), nullptr, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), tex.begin()));
  EXPECT_EQ(gen_.mask.size(), static_cast<size_t>(kW) * kH);
}

// The bowl as a height field, in double: over a ground point at elliptic
// radius n = sqrt(x^2 / a^2 + y^2 / b^2) >= 1, o = its distance outward of
// the ellipse along its radial line, the wall stands R - sqrt(R^2 - o^2)
// high; past o = R there is no wall. The first point of the ray
// eye + t d at or below that surface, found by marching and bisection; false
// when the ray leaves the wall's reach above it.
bool TrueBowlPoint(const double eye[3], const double d[3], double a, double b, double R, double p[3]) {
  auto height = [&](double x, double y, double* h) {
    const double n = std::sqrt(x * x / (a * a) + y * y / (b * b));
    if (n < 1.0) return *h = 0.0, true;
    const double o = std::hypot(x, y) * (1.0 - 1.0 / n);
    if (o > R) return false;
    *h = R - std::sqrt(R * R - o * o);
    return true;
  };
  // Above the surface: the ray's height (-z) over the surface's there.
  auto above = [&](double t, bool* out) {
    double h;
    if (!height(eye[0] + t * d[0], eye[1] + t * d[1], &h)) return false;
    *out = -(eye[2] + t * d[2]) > h;
    return true;
  };
  const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  const double dt = 2.0 / len;  // 2 mm steps
  double lo = 0.0;
  for (double t = dt; t < 40000.0 / len; t += dt) {
    bool up;
    if (!above(t, &up)) return false;
    if (up) {
      lo = t;
      continue;
    }
    double hi = t;
    for (int i = 0; i < 60; ++i) {
      const double m = 0.5 * (lo + hi);
      bool mu;
      if (above(m, &mu) && mu) lo = m;
      else hi = m;
    }
    for (int i = 0; i < 3; ++i) p[i] = eye[i] + hi * d[i];
    return true;
  }
  return false;
}

// Oblique views from inside the bowl that see floor, wall and sky: every
// sample pixel the walk maps has its first source where the true bowl point
// (found above, independently of the walk's solver) projects, and no
// sample pixel with a true bowl point on a single camera's side is lost to
// the walk (which ends a row's stretch at the first ray that finds no
// wall).
TEST_F(VirtualViewTest, WallSamplesFollowTheTrueBowl) {
  constexpr float kView1 = 2500.0f, kR = 1000.0f, kView3 = 2000.0f, kView4 = 2000.0f, kF = 60.0f;
  const struct {
    float angleA, angleB, extension;
  } views[] = {{0.9f, 0.0f, 0.0f}, {1.1f, 3.1415927f, 500.0f}, {1.0f, 1.5707964f, 0.0f}, {1.3f, -0.7f, 0.0f}};
  for (const auto& view : views) {
    VirtualViewLUTGen gen;
    ASSERT_EQ(VirtualViewLUTGen_Init(&gen, cfg_.c_str(), kW, kH, kView1, kR, kView3, kView4), 1);
    std::vector<uint32_t> tex(2 * kW * kH, 0u);
    constexpr int32_t s = 4;
    ASSERT_EQ(VirtualViewLUTGen_Build(&gen, s, tex.data(), nullptr, kF, view.angleA, view.angleB, 1, 0, 0, 0,
                                      view.extension),
              1);
    const double hw = 900, hl = 2300;
    const double axes[2][2] = {{kView3 + hw, kView4 + hl}, {kView3 + hw, kView4 + 2000 + hl + view.extension}};
    // The camera centre and each sample's ray, from the matrices the build
    // hands out: camera frame = Minv (world - eye).
    const double eye[3] = {gen.eye[0], gen.eye[1], gen.eye[2]};
    int mapped = 0, wall = 0, lost = 0, sky = 0;
    double worst = 0.0;
    for (int32_t r = 0; r < kH; ++r) {
      if (r % s != 0 && r != kH - 1) continue;
      for (int32_t c = 0; c < kW; ++c) {
        if (c % s != 0 && c != kW - 1) continue;
        // Inverse equidistant projection of the pixel.
        const double u = (c - (kW >> 1)) / static_cast<double>(kF), v = (r - (kH >> 1)) / static_cast<double>(kF);
        const double rho = std::max(std::hypot(u, v), 1e-9);
        const double tr = std::tan(std::min(rho, 1.5));
        const double cam[3] = {u / rho * tr, v / rho * tr, 1.0};
        double d[3];
        for (int i = 0; i < 3; ++i) d[i] = gen.M[3 * i] * cam[0] + gen.M[3 * i + 1] * cam[1] + gen.M[3 * i + 2] * cam[2];
        double side[3], end[3];
        const bool hitSide = TrueBowlPoint(eye, d, axes[0][0], axes[0][1], kR, side);
        const bool hitEnd = TrueBowlPoint(eye, d, axes[1][0], axes[1][1], kR, end);
        const size_t i = static_cast<size_t>(r) * kW + c;
        if (!hitSide || !hitEnd) {
          ++sky;
          continue;
        }
        const bool onWall = side[2] < -1.0;
        wall += onWall ? 1 : 0;
        const int k = gen.mask[i];
        if (k == 255) {
          // Lost only when a single camera of its side sees it well inside.
          const bool front = side[1] < -hl, back = side[1] > hl, left = side[0] < -hw, right = side[0] > hw;
          if ((front || back) == (left || right)) continue;  // corner or car
          const int cam1 = front ? 0 : back ? 1 : left ? 2 : 3;
          const double* pt = cam1 < 2 ? end : side;
          float pu, pv;
          if (Project(cam1, static_cast<float>(pt[0]), static_cast<float>(pt[1]), &pu, &pv, static_cast<float>(pt[2])) &&
              pu > 4 && pu < kCamW - 5 && pv > 4 && pv < kCamH - 5) {
            ++lost;
            ADD_FAILURE() << "sample (" << r << ", " << c << ") left empty; camera " << cam1 << " sees it at " << pu
                          << ", " << pv;
          }
          continue;
        }
        ++mapped;
        const double* pt = k < 2 ? end : side;
        float pu, pv;
        ASSERT_TRUE(Project(k, static_cast<float>(pt[0]), static_cast<float>(pt[1]), &pu, &pv, static_cast<float>(pt[2])));
        const float ox = (k & 1) ? kCamW : 0.0f, oy = (k & 2) ? kCamH : 0.0f;
        const double err = std::hypot(gen.x1[i] - ox - pu, gen.y1[i] - oy - pv);
        worst = std::max(worst, err);
        // The wall solve stops at steps below 0.03 mm; the rest is float
        // rounding of points some metres away: far below 0.1 camera px.
        EXPECT_LE(err, 0.1) << "sample (" << r << ", " << c << ") camera " << k;
      }
    }
    EXPECT_GT(wall, 50) << view.angleA;
    EXPECT_GT(sky, 20) << view.angleA;
    EXPECT_EQ(lost, 0);
    printf("view %.2f/%.2f: %d samples mapped (%d on the wall), %d without bowl point, %d lost; worst %.4f px\n",
           view.angleA, view.angleB, mapped, wall, sky, lost, worst);
    VirtualViewLUTGen_Release(&gen);
  }
}

}  // namespace
