#include "testsupport/calibration_site.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

int32_t Half(int32_t v) { return v / 2; }

TargetSpec Board(int32_t squaresX, int32_t squaresY, float square, float x0, float y0) {
  TargetSpec t;
  t.kind = TargetKind::kChessboard;
  t.squaresX = squaresX;
  t.squaresY = squaresY;
  t.squareSize = square;
  t.margin = square / 2.0f;
  t.dark = 30;
  t.light = 215;
  t.origin[0] = x0;
  t.origin[1] = y0;
  t.origin[2] = 0.0f;
  return t;
}

TargetSpec Mark(float x0, float y0, float side) {
  TargetSpec t;
  t.kind = TargetKind::kSquares;
  t.squaresX = t.squaresY = 1;
  t.squareSize = side;
  t.pitch = side;
  t.margin = 0.0f;
  t.dark = 30;
  t.origin[0] = x0;
  t.origin[1] = y0;
  t.origin[2] = 0.0f;
  return t;
}

}  // namespace

int32_t CalibrationSite::SideShift() const { return 7 * square - gap; }

std::string CalibrationSite::BaseText() const {
  char text[256];
  if (layout == 2) {
    snprintf(text, sizeof text, "2000,%d,0,350,0,600,0,900,600,2,0,0,0,0,0,0,0,0,0,0;0,0,0,0", square);
    return text;
  }
  if (layout == 3) {
    // Fields 13 to 16: the front, rear, left and right reference-line
    // distances; 17 to 19 the site's width and length between the outer
    // lines and the side boards' shift, from which this layout derives the
    // vehicle box.
    snprintf(text, sizeof text, "2000,%d,%d,350,0,600,0,900,600,3,%d,%d,%d,0,0,%d,%d,%d,%d,%d;0,0,0,0", square, gap,
             boardCols, boardRows, (boardCols - 1) * (boardRows - 1), sideDistance, sideDistance,
             carWidth + 2 * sideDistance, carLength, SideShift());
    return text;
  }
  snprintf(text, sizeof text, "2000,%d,%d,350,0,600,0,900,600,1,%d,%d,%d,0,0,0,0,0,0,0;0,0,0,0", square, gap,
           boardCols, boardRows, (boardCols - 1) * (boardRows - 1));
  return text;
}

int32_t CalibrationSite::BoardCols(int camera) const { return layout == 3 && camera <= 2 ? 5 : boardCols; }

CalibrationSite CalibrationSite_Compact(int32_t model) {
  CalibrationSite s;
  s.model = model;
  return s;
}

CalibrationSite CalibrationSite_Large(int32_t model) {
  CalibrationSite s;
  s.model = model;
  s.carWidth = 2000;
  s.carLength = 5200;
  s.square = 250;
  const float h[4] = {1150, 1250, 1300, 1300};
  std::copy(h, h + 4, s.cameraHeight);
  return s;
}

CalibrationSite CalibrationSite_Layout2(int32_t model) {
  CalibrationSite s;
  s.model = model;
  s.layout = 2;
  s.square = 600;
  return s;
}

CalibrationSite CalibrationSite_Layout3(int32_t model) {
  CalibrationSite s;
  s.model = model;
  s.layout = 3;
  s.sideDistance = 600;
  return s;
}

SceneCamera CalibrationSite_Camera(const CalibrationSite& site, int camera) {
  SceneCamera cam;
  cam.model = site.model;
  const float scale = static_cast<float>(site.camW) / 1280.0f;
  // Principal points a little off centre, as on a real lens.
  const float offX[4] = {6, -5, 3, -4}, offY[4] = {-4, 3, 5, -2};
  cam.K[2] = site.camW / 2.0f + offX[camera - 1];
  cam.K[5] = site.camH / 2.0f + offY[camera - 1];
  for (float& d : cam.D) d = 0.0f;
  cam.D[0] = (site.model == 1 ? 415.0f : 364.0f) * scale;
  const float a = static_cast<float>(Half(site.carWidth)), b = static_cast<float>(Half(site.carLength));
  const float S = static_cast<float>(site.square);
  // Side cameras sit by the side board's middle; without side boards
  // (layout 2) by the vehicle's middle, seeing the marks ahead and behind.
  const float sideMid = site.layout == 2 ? 300.0f : -b + site.SideShift() + site.gap + S * site.boardCols / 2.0f;
  const float* h = site.cameraHeight;
  const float pos[4][3] = {{0, -b + 200, -h[0]}, {0, b - 200, -h[1]}, {-a - 60, sideMid - 300, -h[2]},
                           {a + 60, sideMid - 300, -h[3]}};
  // Each camera looks down and out, a little off its board's centre line.
  // Without side boards (layout 2) the side cameras look further out.
  const float out = site.layout == 2 ? 2400.0f : a + 700.0f + site.sideDistance / 2.0f;
  const float at[4][3] = {{60, -b - 1100, 0}, {-50, b + 1100, 0}, {-out, sideMid + 80, 0}, {out, sideMid - 60, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[camera - 1], at[camera - 1], up);
  return cam;
}

void CalibrationSite_CameraPosition(const SceneCamera& cam, float position[3]) {
  for (int k = 0; k < 3; ++k) position[k] = -cam.T[k];
}

TargetSpec CalibrationSite_Board(const CalibrationSite& site, int camera) {
  const int32_t S = site.square, G = site.gap, W = site.BoardCols(camera), H = site.boardRows;
  const int32_t a = site.carWidth, b = site.carLength, c = site.SideShift(), d = site.sideDistance;
  switch (camera) {
    case 1:
      return Board(W, H, S, static_cast<float>(-Half(S * W)), static_cast<float>(-Half(b) - G - S * H));
    case 2:
      return Board(W, H, S, static_cast<float>(-Half(S * W)), static_cast<float>(Half(b) + G));
    case 3:
      return Board(H, W, S, static_cast<float>(-Half(a) - G - d - S * H), static_cast<float>(-Half(b) + c + G));
    default:
      return Board(H, W, S, static_cast<float>(Half(a) + G + d), static_cast<float>(-Half(b) + c + G));
  }
}

std::vector<TargetSpec> CalibrationSite_Targets(const CalibrationSite& site) {
  std::vector<TargetSpec> t;
  if (site.layout == 2) {
    // Four dark squares of the square size on light pads, 300 mm beyond the
    // vehicle's front and rear, 1100 mm either side of its centre line.
    const float S = static_cast<float>(site.square), yF = site.carLength / -2.0f, yB = -yF;
    for (float y0 : {yF - 300.0f - S, yB + 300.0f})
      for (float x0 : {-1100.0f - S, 1100.0f}) {
        t.push_back(Mark(x0, y0, S));
        t.back().margin = 200.0f;
        t.back().light = 215;
      }
    return t;
  }
  for (int camera = 1; camera <= 4; ++camera)
    if (camera != site.hiddenBoard) t.push_back(CalibrationSite_Board(site, camera));
  const float a = site.carWidth / 2.0f + site.sideDistance, b = site.carLength / 2.0f;
  if (site.layout == 3) {
    // A board of 4 x 4 squares of 200 mm at each vehicle corner, its inner
    // corners 300, 500 and 700 mm beyond the reference lines both ways.
    for (float x0 : {-a - 900.0f, a + 100.0f})
      for (float y0 : {-b - 900.0f, b + 100.0f}) {
        t.push_back(Board(4, 4, 200.0f, x0, y0));
        t.back().margin = 300.0f;
      }
    return t;
  }
  // The layout's square marks, 3 squares a side: at the four vehicle
  // corners, and two beside each side board.
  const float S = static_cast<float>(site.square), side = 3.0f * S;
  const float xL = static_cast<float>(-Half(site.carWidth)), xR = -xL;
  const float yF = static_cast<float>(-Half(site.carLength)), yB = -yF;
  for (float x0 : {-8.5f * S, 5.5f * S}) {
    t.push_back(Mark(x0, yF - 4.5f * S, side));
    t.push_back(Mark(x0, yB + 1.5f * S, side));
  }
  for (float x0 : {xL - 4.5f * S, xR + 1.5f * S})
    for (float y0 : {yF + 2.0f * S, yF + 16.0f * S}) t.push_back(Mark(x0, y0, side));
  return t;
}

std::vector<uint8_t> CalibrationSite_Render(const CalibrationSite& site, int camera) {
  const SceneCamera cam = CalibrationSite_Camera(site, camera);
  RenderOptions opt;
  opt.width = site.camW;
  opt.height = site.camH;
  opt.supersample = 3;
  const uint8_t floor = site.floorLevel;
  opt.background = floor;
  const size_t n = static_cast<size_t>(site.camW) * site.camH;
  std::vector<float> img(n, floor);
  // Targets do not overlap: each one's pixels replace the floor's.
  for (const TargetSpec& t : CalibrationSite_Targets(site)) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(cam, t, opt);
    for (size_t i = 0; i < n; ++i)
      if (pic[i] != floor) img[i] = pic[i];
  }
  if (site.blurSigma > 0.0f) Scene_GaussianBlur(img, site.camW, site.camH, site.blurSigma);
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i]), 0L, 255L));
  return out;
}

std::vector<uint8_t> CalibrationSite_RenderQuad(const CalibrationSite& site) {
  return Scene_JoinQuad(site.camW, site.camH, [&](int32_t c) { return CalibrationSite_Render(site, c); });
}
