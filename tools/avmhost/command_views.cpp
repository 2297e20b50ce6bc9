// avmhost views: what the display application does for its single-camera
// views, on the CPU. Everything comes from the library's exports; the GPU's
// work (texture sampling, triangle drawing, line drawing) is done here.
#include "command_views.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "avm_library.h"
#include "commands.h"
#include "globalimage_api.h"  // entry-point types only; they are looked up

namespace {

struct Api {
  void (*setDir)(const char*, int, int, int) = nullptr;
  decltype(&KRV_GlobalImage_Init) init = nullptr;
  decltype(&KRV_GlobalImage_AdvanceCtrl) advance = nullptr;
  decltype(&KRV_GlobalImage_InitUndistOB) create = nullptr;
  decltype(&KRV_GlobalImage_UnInitUndistOB) destroy = nullptr;
  decltype(&KRV_GlobalImage_SetUndistParam_EXDD) setUndist = nullptr;
  decltype(&KRV_GlobalImage_SetCutParam_EXDD) setCut = nullptr;
  decltype(&KRV_GlobalImage_GenerateUndistLUT) undistLut = nullptr;
  decltype(&KRV_GlobalImage_GenerateCutLUT) cutLut = nullptr;
  decltype(&KRV_GlobalImage_GenerateWideLUT_New) wideLut = nullptr;
  decltype(&KRV_GlobalImage_GenerateUndistTrian) undistMesh = nullptr;
  decltype(&KRV_GlobalImage_GenerateCutTrian) cutMesh = nullptr;
  decltype(&KRV_GlobalImage_GenerateWideTrian_New) wideMesh = nullptr;
  decltype(&KRV_GlobalImage_CalcUndistStaticTraceLine) staticLines = nullptr;
  decltype(&KRV_GlobalImage_CalcUndistDynamicTracePoint) dynamicLines = nullptr;

  bool Load(AvmLibrary& lib) {
    setDir = lib.Get<void (*)(const char*, int, int, int)>("KRV_TVDecoder_CaptureFileEx");
    init = lib.Get<decltype(init)>("KRV_GlobalImage_Init");
    advance = lib.Get<decltype(advance)>("KRV_GlobalImage_AdvanceCtrl");
    create = lib.Get<decltype(create)>("KRV_GlobalImage_InitUndistOB");
    destroy = lib.Get<decltype(destroy)>("KRV_GlobalImage_UnInitUndistOB");
    setUndist = lib.Get<decltype(setUndist)>("KRV_GlobalImage_SetUndistParam_EXDD");
    setCut = lib.Get<decltype(setCut)>("KRV_GlobalImage_SetCutParam_EXDD");
    undistLut = lib.Get<decltype(undistLut)>("KRV_GlobalImage_GenerateUndistLUT");
    cutLut = lib.Get<decltype(cutLut)>("KRV_GlobalImage_GenerateCutLUT");
    wideLut = lib.Get<decltype(wideLut)>("KRV_GlobalImage_GenerateWideLUT_New");
    undistMesh = lib.Get<decltype(undistMesh)>("KRV_GlobalImage_GenerateUndistTrian");
    cutMesh = lib.Get<decltype(cutMesh)>("KRV_GlobalImage_GenerateCutTrian");
    wideMesh = lib.Get<decltype(wideMesh)>("KRV_GlobalImage_GenerateWideTrian_New");
    staticLines = lib.Get<decltype(staticLines)>("KRV_GlobalImage_CalcUndistStaticTraceLine");
    dynamicLines = lib.Get<decltype(dynamicLines)>("KRV_GlobalImage_CalcUndistDynamicTracePoint");
    return setDir && init && advance && create && destroy && setUndist && setCut && undistLut && cutLut &&
           wideLut && undistMesh && cutMesh && wideMesh && staticLines && dynamicLines;
  }
};

// Wide-view values: scale, shift, distance, height scale.
constexpr float kWideScale = 1.0f, kWideShift = 0.0f, kWideDistance = 0.0f, kWideHeight = 1.0f;

// Bilinear sample of the quad frame at a source pixel (pixel centres at
// integers); outside the frame is black.
float Sample(const HostImage& q, float x, float y) {
  if (!(x >= 0.0f && y >= 0.0f && x <= q.width - 1 && y <= q.height - 1)) return 0.0f;
  const int x0 = std::min(static_cast<int>(x), q.width - 2), y0 = std::min(static_cast<int>(y), q.height - 2);
  const float fx = x - x0, fy = y - y0;
  const uint8_t* p = &q.data[static_cast<size_t>(y0) * q.width + x0];
  const float top = p[0] + fx * (p[1] - p[0]);
  const float bottom = p[q.width] + fx * (p[q.width + 1] - p[q.width]);
  return top + fy * (bottom - top);
}

uint8_t Grey(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// The LUT applied to the quad frame: word = xq (int, frac/127 in the top
// byte) and yq; the source pixel is xq * Wq / 255.
HostImage ApplyLut(const std::vector<uint32_t>& lut, int w, int h, const HostImage& quad) {
  HostImage out;
  out.width = w;
  out.height = h;
  out.data.assign(static_cast<size_t>(w) * h, 0);
  for (size_t i = 0; i < out.data.size(); ++i) {
    const uint32_t word = lut[i];
    if (word == 0) continue;
    const float xq = (word & 0xFF) + (word >> 24) / 127.0f;
    const float yq = ((word >> 8) & 0xFF) + ((word >> 16) & 0xFF) / 127.0f;
    out.data[i] = Grey(Sample(quad, xq * quad.width / 255.0f, yq * quad.height / 255.0f));
  }
  return out;
}

// The mesh drawn as the GPU would: each triangle filled with its linearly
// interpolated texture coordinates. Triangles with a vertex without source
// (texture 0, 0) are left black, as the LUT leaves those pixels.
HostImage DrawMesh(const std::vector<float>& pos, const std::vector<float>& tex, uint32_t count, int w, int h,
                   const HostImage& quad) {
  HostImage out;
  out.width = w;
  out.height = h;
  out.data.assign(static_cast<size_t>(w) * h, 0);
  for (uint32_t t = 0; t < count; ++t) {
    float px[3], py[3], u[3], v[3];
    bool sourced = true;
    for (int k = 0; k < 3; ++k) {
      px[k] = (pos[9 * t + 3 * k] + 1.0f) * 0.5f * (w - 1);
      py[k] = (1.0f - pos[9 * t + 3 * k + 1]) * 0.5f * (h - 1);
      u[k] = tex[6 * t + 2 * k] * quad.width;
      v[k] = tex[6 * t + 2 * k + 1] * quad.height;
      if (tex[6 * t + 2 * k] == 0.0f && tex[6 * t + 2 * k + 1] == 0.0f) sourced = false;
    }
    if (!sourced) continue;
    const float area = (px[1] - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (py[1] - py[0]);
    if (std::fabs(area) < 1e-6f) continue;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({px[0], px[1], px[2]}))));
    const int x1 = std::min(w - 1, static_cast<int>(std::ceil(std::max({px[0], px[1], px[2]}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({py[0], py[1], py[2]}))));
    const int y1 = std::min(h - 1, static_cast<int>(std::ceil(std::max({py[0], py[1], py[2]}))));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const float b1 = ((x - px[0]) * (py[2] - py[0]) - (px[2] - px[0]) * (y - py[0])) / area;
        const float b2 = ((px[1] - px[0]) * (y - py[0]) - (x - px[0]) * (py[1] - py[0])) / area;
        const float b0 = 1.0f - b1 - b2;
        const float eps = -1e-4f;
        if (b0 < eps || b1 < eps || b2 < eps) continue;
        const float su = b0 * u[0] + b1 * u[1] + b2 * u[2], sv = b0 * v[0] + b1 * v[1] + b2 * v[2];
        out.data[static_cast<size_t>(y) * w + x] = Grey(Sample(quad, su, sv));
      }
  }
  return out;
}

HostImage ToRgb(const HostImage& g) {
  HostImage out;
  out.width = g.width;
  out.height = g.height;
  out.channels = 3;
  out.data.resize(g.data.size() * 3);
  for (size_t i = 0; i < g.data.size(); ++i) out.data[3 * i] = out.data[3 * i + 1] = out.data[3 * i + 2] = g.data[i];
  return out;
}

void Dot(HostImage* img, float x, float y, const uint8_t* rgb) {
  const int ix = static_cast<int>(std::lround(x)), iy = static_cast<int>(std::lround(y));
  if (ix < 0 || iy < 0 || ix >= img->width || iy >= img->height) return;
  uint8_t* p = &img->data[(static_cast<size_t>(iy) * img->width + ix) * 3];
  p[0] = rgb[0];
  p[1] = rgb[1];
  p[2] = rgb[2];
}

void Line(HostImage* img, float xa, float ya, float xb, float yb, const uint8_t* rgb) {
  const int steps = static_cast<int>(std::ceil(std::max(std::fabs(xb - xa), std::fabs(yb - ya)))) + 1;
  for (int i = 0; i <= steps; ++i) {
    const float t = static_cast<float>(i) / steps;
    Dot(img, xa + t * (xb - xa), ya + t * (yb - ya), rgb);
  }
}

// Zone colours: near red, middle yellow, far green; dynamic lines blue
// shades by kind.
const uint8_t kZone[4][3] = {{255, 255, 255}, {230, 40, 40}, {240, 220, 40}, {40, 200, 60}};
const uint8_t kDyn[3] = {60, 140, 255};

struct Counts {
  int pictures = 0, failures = 0;
};

}  // namespace

int RunViews(AvmLibrary& lib, const std::vector<std::string>& args) {
  const std::string outDir = OptionValue(args, "--out", "avmhost-views");
  std::string dataDir = OptionValue(args, "--data", "");
  std::string framePath = OptionValue(args, "--frame", "");
  mkdir(outDir.c_str(), 0755);
  if (dataDir.empty()) {
    fprintf(stderr, "avmhost: views needs --data DIR\n");
    return 2;
  }
  if (framePath.empty()) framePath = dataDir + "/quad.bmp";
  HostImage quad;
  if (!HostImage_ReadBmp(framePath, &quad)) {
    fprintf(stderr, "avmhost: cannot read the quad frame %s\n", framePath.c_str());
    return 1;
  }
  Api api;
  if (!api.Load(lib)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  api.setDir(dataDir.c_str(), 0, 152, 0);
  api.init();
  api.advance(5, 0);  // no random hole fill: the pictures are reproducible
  const std::string cfg = dataDir + "/lut_config.krv";
  UndistOB* view = api.create(cfg.c_str());
  if (view == nullptr) {
    fprintf(stderr, "avmhost: cannot create the view object from %s\n", cfg.c_str());
    return 1;
  }

  Counts n;
  for (const HostView& hv : HostViews()) {
    const int w = hv.width, h = hv.height;
    std::vector<uint32_t> lut(static_cast<size_t>(w) * h, 0);
    int lutRc = 1;
    auto mesh = [&](uint32_t* count, float* p, float* t) {
      if (hv.kind == HostView::kUndist) return api.undistMesh(view, hv.camera, count, p, t);
      if (hv.kind == HostView::kCut) return api.cutMesh(view, hv.camera, count, p, t);
      return api.wideMesh(view, hv.camera, w, h, hv.type, count, p, t, kWideScale, kWideShift, kWideDistance,
                          kWideHeight);
    };
    if (hv.kind == HostView::kUndist) {
      api.setUndist(view, hv.camera, w, h, hv.type, 0, 0, 0, 0, kHostUndistFov, kHostUndistDivisor, 0.0f, 0.0f,
                    1.0f, 0.0f, 0.0f, 0.0f);
      lutRc = api.undistLut(view, hv.camera, lut.data());
    } else if (hv.kind == HostView::kCut) {
      api.setCut(view, hv.camera, w, h, hv.type, 0, 0, 0, 0, 0, 0.0f, 0.0f, 0.0f, kHostCutFocal, 1.0f, 0.0f, 0.0f, 0.0f);
      lutRc = api.cutLut(view, hv.camera, lut.data());
    } else {
      lutRc = api.wideLut(view, hv.camera, w, h, hv.type, lut.data(), kWideScale, kWideShift, kWideDistance,
                          kWideHeight);
    }
    uint32_t count = 0;
    const int countRc = mesh(&count, nullptr, nullptr);
    std::vector<float> pos(static_cast<size_t>(count) * 9), tex(static_cast<size_t>(count) * 6);
    uint32_t full = count;
    const int meshRc = countRc == 0 ? mesh(&full, pos.data(), tex.data()) : 1;
    if (lutRc != 0 || meshRc != 0 || full != count) {
      fprintf(stderr, "avmhost: view %s failed (LUT %d, mesh %d)\n", hv.name, lutRc, meshRc);
      ++n.failures;
      continue;
    }
    const HostImage lutPic = ApplyLut(lut, w, h, quad);
    const HostImage meshPic = DrawMesh(pos, tex, count, w, h, quad);
    bool ok = HostImage_WriteBmp(outDir + "/" + hv.name + ".bmp", lutPic) &&
              HostImage_WriteBmp(outDir + "/" + hv.name + "_mesh.bmp", meshPic);
    n.pictures += 2;
    std::string lineInfo;
    if (hv.kind == HostView::kUndist && hv.camera <= 2) {
      // Guide lines of the front and rear views.
      HostImage lines = ToRgb(lutPic);
      std::vector<float> a(256), b(256), c(256), d(256);
      std::vector<uint8_t> k(256);
      uint32_t segs = 0;
      api.staticLines(view, hv.camera, 0, &segs, a.data(), b.data(), c.data(), d.data(), k.data());
      for (uint32_t i = 0; i < segs; ++i) Line(&lines, a[i], b[i], c[i], d[i], kZone[std::min<int>(k[i], 3)]);
      const uint32_t cap = 20000;
      std::vector<float> xs(cap), ys(cap);
      std::vector<uint8_t> ks(cap);
      uint32_t pts = cap;
      api.dynamicLines(view, hv.camera, 0, &pts, xs.data(), ys.data(), ks.data(), kHostSteeringAngle);
      for (uint32_t i = 0; i < pts; ++i) Dot(&lines, xs[i], ys[i], kDyn);
      ok = ok && HostImage_WriteBmp(outDir + "/" + hv.name + "_lines.bmp", lines);
      ++n.pictures;
      lineInfo = "  static segments " + std::to_string(segs) + ", dynamic points " + std::to_string(pts);
    }
    if (!ok) {
      fprintf(stderr, "avmhost: cannot write the pictures of %s\n", hv.name);
      ++n.failures;
      continue;
    }
    printf("%-14s %dx%d  mesh %u triangles%s\n", hv.name, w, h, count, lineInfo.c_str());
  }
  api.destroy(view);
  printf("%d pictures written to %s\n", n.pictures, outDir.c_str());
  return n.failures == 0 ? 0 : 1;
}
