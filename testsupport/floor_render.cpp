#include "testsupport/floor_render.h"

std::vector<float> Floor_Render(const SceneCamera& cam, int32_t width, int32_t height, const FloorRenderWindow& window,
                                std::function<float(float x, float y)> level) {
  TargetSpec t;
  t.kind = TargetKind::kCustom;
  t.margin = 0.0f;
  t.origin[0] = window.x0;
  t.origin[1] = window.y0;
  t.origin[2] = window.z;
  t.extentS = window.extentX;
  t.extentT = window.extentY;
  t.light = 215;
  const float x0 = window.x0, y0 = window.y0;
  t.shade = [level, x0, y0](float s, float u) { return level(s + x0, u + y0); };
  RenderOptions opt;
  opt.width = width;
  opt.height = height;
  opt.supersample = 3;
  opt.blurSigma = 0.6f;
  const std::vector<uint8_t> grey = Scene_RenderGrey(cam, t, opt);
  std::vector<float> img(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) img[i] = grey[i] / 255.0f;
  return img;
}
