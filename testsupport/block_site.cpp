#include "testsupport/block_site.h"

#include <algorithm>
#include <cmath>

#include "camera/camera_model.h"
#include "testsupport/pose_scene.h"

namespace {

constexpr uint8_t kFloor = 170, kDark = 25, kLight = 230;

SceneCamera Camera(int32_t w, int32_t h, float x, float y, float height, float atX, float atY) {
  SceneCamera cam = PoseScene_Camera(2, w, h);
  const float pos[3] = {x, y, -height}, at[3] = {atX, atY, 0.0f}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos, at, up);
  return cam;
}

TargetSpec Square(float cx, float cy, float side, uint8_t level, float yaw, float height) {
  TargetSpec t;
  t.kind = TargetKind::kSquares;
  t.squaresX = t.squaresY = 1;
  t.squareSize = side;
  t.pitch = side;
  t.margin = 0.0f;
  t.dark = level;
  const float c = std::cos(yaw), s = std::sin(yaw), h = side / 2.0f;
  t.axisS[0] = c;
  t.axisS[1] = s;
  t.axisT[0] = -s;
  t.axisT[1] = c;
  t.origin[0] = cx - h * (c - s);
  t.origin[1] = cy - h * (s + c);
  t.origin[2] = -height;
  return t;
}

float Entry(const std::vector<float>& v, size_t g) { return g < v.size() ? v[g] : 0.0f; }

void PutCorners(const BlockSite& site, int32_t camera, int32_t slot, std::vector<float>* xs, std::vector<float>* ys) {
  int32_t blocks[2];
  BlockSite_CameraBlocks(site, camera, blocks);
  for (int half = 0; half < 2; ++half)
    for (int k = 0; k < 4; ++k) {
      float w[3], row = -1, col = -1;
      site.Corner(blocks[half], k, w);
      site.Project(camera, w, &row, &col);
      (*xs)[59 * slot + 4 * half + k] = col;
      (*ys)[59 * slot + 4 * half + k] = row;
    }
}

void CopyInto(const std::vector<uint8_t>& pic, int32_t W, int32_t H, std::vector<uint8_t>* frame, int32_t frameW,
              int32_t ox, int32_t oy) {
  for (int32_t y = 0; y < H; ++y)
    std::copy(pic.begin() + static_cast<size_t>(y) * W, pic.begin() + static_cast<size_t>(y + 1) * W,
              frame->begin() + static_cast<size_t>(oy + y) * frameW + ox);
}

}  // namespace

void BlockSite::Corner(int32_t g, int32_t k, float out[3]) const {
  const float h = square / 2.0f, dx = (k % 2) == 0 ? -h : h, dy = k < 2 ? -h : h;
  const float yaw = Entry(blockYaw, static_cast<size_t>(g)), c = std::cos(yaw), s = std::sin(yaw);
  out[0] = blockX[g] + c * dx - s * dy;
  out[1] = blockY[g] + s * dx + c * dy;
  out[2] = -Entry(blockHeight, static_cast<size_t>(g));
}

bool BlockSite::Project(int32_t camera, const float world[3], float* row, float* col) const {
  const SceneCamera& c = cams[camera];
  float w[3] = {world[0], world[1], world[2]}, px[2] = {-1, -1};
  float K[9], D[8], R[3], T[3];
  std::copy(c.K, c.K + 9, K);
  std::copy(c.D, c.D + 8, D);
  std::copy(c.r, c.r + 3, R);
  std::copy(c.T, c.T + 3, T);
  Matrix Wm{3, 1, w}, Pm{2, 1, px}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
  CameraModel_ProjectPoints(c.model, &Wm, &Rm, &Tm, &Km, &Dm, &Pm, nullptr, nullptr, nullptr, nullptr, nullptr,
                            c.slot);
  *col = px[0];
  *row = px[1];
  return px[0] >= 0 && px[1] >= 0 && px[0] < camW && px[1] < camH;
}

void BlockSite::CameraXY(int32_t camera, float xy[2]) const {
  xy[0] = -cams[camera].T[0];
  xy[1] = -cams[camera].T[1];
}

std::vector<uint8_t> BlockSite::Render(int32_t camera) const {
  RenderOptions opt;
  opt.width = camW;
  opt.height = camH;
  opt.supersample = 2;
  const size_t n = static_cast<size_t>(camW) * camH;
  std::vector<float> img(n, kFloor);
  for (size_t g = 0; g < blockX.size(); ++g) {
    opt.background = kFloor;
    const float yaw = Entry(blockYaw, g), height = Entry(blockHeight, g);
    const std::vector<uint8_t> outer =
        Scene_RenderGrey(cams[camera], Square(blockX[g], blockY[g], square, kDark, yaw, height), opt);
    for (size_t i = 0; i < n; ++i)
      if (outer[i] != kFloor) img[i] = outer[i];
    // The inner square sits on the dark one: its edges blend into dark.
    opt.background = kDark;
    const std::vector<uint8_t> in =
        Scene_RenderGrey(cams[camera], Square(blockX[g], blockY[g], square * inner, kLight, yaw, height), opt);
    for (size_t i = 0; i < n; ++i)
      if (in[i] != kDark) img[i] = in[i];
  }
  if (blurSigma > 0.0f) Scene_GaussianBlur(img, camW, camH, blurSigma);
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i]), 0L, 255L));
  return out;
}

BlockSite BlockSite_Four() {
  BlockSite s;
  const float a = 900.0f, b = 2300.0f;
  s.square = 1200.0f;
  s.blockX = {-a - 600, a + 600, -a - 600, a + 600};
  s.blockY = {-b - 500, -b - 500, b + 500, b + 500};
  s.cams = {Camera(s.camW, s.camH, 0, -b + 200, 900, 0, -b - 1500),
            Camera(s.camW, s.camH, 0, b - 200, 950, 0, b + 1500),
            Camera(s.camW, s.camH, -a - 60, 0, 1000, -a - 1300, 0),
            Camera(s.camW, s.camH, a + 60, 0, 1000, a + 1300, 0)};
  return s;
}

BlockSite BlockSite_Six() {
  BlockSite s;
  const float a = 900.0f, b = 3300.0f, mid = (b + 500.0f) / 2.0f;
  s.square = 1200.0f;
  s.blockX = {-a - 600, a + 600, -a - 600, a + 600, -a - 600, a + 600};
  s.blockY = {-b - 500, -b - 500, 0, 0, b + 500, b + 500};
  s.cams = {Camera(s.camW, s.camH, 0, -b + 200, 900, 0, -b - 1500),
            Camera(s.camW, s.camH, 0, b - 200, 950, 0, b + 1500),
            Camera(s.camW, s.camH, -a - 60, -mid, 1000, -a - 1300, -mid),
            Camera(s.camW, s.camH, a + 60, -mid, 1000, a + 1300, -mid),
            Camera(s.camW, s.camH, -a - 60, mid, 1000, -a - 1300, mid),
            Camera(s.camW, s.camH, a + 60, mid, 1000, a + 1300, mid)};
  return s;
}

void BlockSite_CameraBlocks(const BlockSite& site, int32_t camera, int32_t blocks[2]) {
  static const int32_t k4[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
  static const int32_t k6[6][2] = {{0, 1}, {4, 5}, {0, 2}, {1, 3}, {2, 4}, {3, 5}};
  const bool six = site.cams.size() == 6;
  blocks[0] = six ? k6[camera][0] : k4[camera][0];
  blocks[1] = six ? k6[camera][1] : k4[camera][1];
}

void BlockSite_HandCorners4(const BlockSite& site, std::vector<float>* xs, std::vector<float>* ys) {
  xs->assign(4 * 59, 0.0f);
  ys->assign(4 * 59, 0.0f);
  for (int c = 0; c < 4; ++c) PutCorners(site, c, c, xs, ys);
}

void BlockSite_HandCorners6(const BlockSite& site, int32_t group, std::vector<float>* xs, std::vector<float>* ys) {
  xs->assign(4 * 59, 0.0f);
  ys->assign(4 * 59, 0.0f);
  const int32_t cams[2][4] = {{0, 1, 2, 3}, {0, 1, 4, 5}};
  for (int slot = 0; slot < 4; ++slot) PutCorners(site, cams[group - 1][slot], slot, xs, ys);
}

std::vector<uint8_t> BlockSite_RenderQuad(const BlockSite& site) {
  const int32_t W = site.camW, H = site.camH;
  std::vector<uint8_t> quad(static_cast<size_t>(4) * W * H);
  for (int c = 0; c < 4; ++c) CopyInto(site.Render(c), W, H, &quad, 2 * W, (c % 2) * W, (c / 2) * H);
  return quad;
}

std::vector<uint8_t> BlockSite_RenderRear(const BlockSite& site) {
  const int32_t W = site.camW, H = site.camH;
  std::vector<uint8_t> frame(static_cast<size_t>(2) * W * H);
  for (int c = 4; c < 6; ++c) CopyInto(site.Render(c), W, H, &frame, 2 * W, (c - 4) * W, 0);
  return frame;
}
