// Meshes of the undistorted, cut and wide views of a view object, built
// from the same source maps as the views' LUTs.
#include <cstring>
#include <initializer_list>
#include <new>

#include "camera/view_lut.h"
#include "camera/view_mesh.h"
#include "camera/view_object.h"
#include "camera/view_source_maps.h"
#include "frame/global_variables.h"

namespace {

struct OwnedMaps {
  Matrix x{0, 0, nullptr}, y{0, 0, nullptr};
  ~OwnedMaps() {
    delete[] x.data;
    delete[] y.data;
  }
  bool Alloc(int32_t w, int32_t h) {
    if (w < 1 || h < 1) return false;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    x.data = new (std::nothrow) float[n];
    y.data = new (std::nothrow) float[n];
    if (x.data == nullptr || y.data == nullptr) return false;
    x.cols = y.cols = w;
    x.rows = y.rows = h;
    return true;
  }
};

bool HoleFillOn() { return gv().CutIfFill != 0; }

// Source maps back from ViewLUT words (word 0: no source). The words keep
// the source to 1/127 of a 255th of the frame, well under a pixel.
bool MapsFromLut(const uint32_t* lut, int32_t w, int32_t h, int32_t Wq, int32_t Hq, int32_t camera,
                 OwnedMaps* m) {
  if (!m->Alloc(w, h)) return false;
  int32_t ox = 0, oy = 0;
  Trian_QuadrantOffset(Wq, Hq, camera, &ox, &oy);
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t word = lut[i];
    if (word == 0) {
      m->x.data[i] = m->y.data[i] = -2.0f;
      continue;
    }
    const float xq = static_cast<float>(word & 0xFFu) + static_cast<float>(word >> 24) / 127.0f;
    const float yq = static_cast<float>((word >> 8) & 0xFFu) + static_cast<float>((word >> 16) & 0xFFu) / 127.0f;
    m->x.data[i] = xq * static_cast<float>(Wq) / 255.0f - static_cast<float>(ox);
    m->y.data[i] = yq * static_cast<float>(Hq) / 255.0f - static_cast<float>(oy);
  }
  return true;
}

}  // namespace

int UndistView_GenerateTrian(UndistOB* view, int32_t camera, uint32_t* count, float* positions, float* texture) {
  if (view == nullptr) return 0;
  Matrix mx{0, 0, nullptr}, my{0, 0, nullptr};
  const int kind = UndistView_BuildMaps(view, camera, &mx, &my);
  if (kind == 0) return 0;
  OwnedMaps own;  // frees maps built for us (kind 1); type 2 maps stay the block's
  if (kind == 1) {
    own.x = mx;
    own.y = my;
  }
  if (HoleFillOn()) ViewMap_FillHoles(&mx, &my);
  return GenerateTrian(view->frameWidth, view->frameHeight, camera, &mx, &my, 0, mx.cols - 1, count, positions,
                       texture);
}

int CutView_GenerateTrian(UndistOB* view, int32_t camera, uint32_t* count, float* positions, float* texture) {
  if (view == nullptr) return 0;
  OwnedMaps own;
  if (CutView_BuildMaps(view, camera, &own.x, &own.y) == 0) return 0;
  if (HoleFillOn()) CutView_FillHoles(&own.x, &own.y, camera);
  return GenerateTrian(view->frameWidth, view->frameHeight, camera, &own.x, &own.y, 0, own.x.cols - 1, count,
                       positions, texture);
}

int WideView_GenerateTrian(UndistOB* view, int32_t camera, int32_t W, int32_t H, int32_t mode, uint32_t* count,
                           float* positions, float* texture, float scale, float p1, float p2, float p3) {
  if (view == nullptr || (mode != 1 && mode != 2) || W < 2 || H < 2) return 0;
  const size_t n = static_cast<size_t>(W) * static_cast<size_t>(H);
  uint32_t* lut = new (std::nothrow) uint32_t[n];
  if (lut == nullptr) return 0;
  // The wide LUT carries the built (repaired, hole-filled when configured)
  // maps of the mode; scale, shift, distance and height scale map to the
  // LUT builder's f0, f3, f4 and f5.
  const int built = WideView_GenerateLUT(view, camera, W, H, mode, lut, scale, 0.0f, 0.0f, p1, p2, p3);
  OwnedMaps m;
  const bool ok = built != 0 && MapsFromLut(lut, W, H, view->frameWidth, view->frameHeight, camera, &m);
  delete[] lut;
  if (!ok) return 0;
  const int32_t Wq = view->frameWidth, Hq = view->frameHeight;
  if (mode == 2) return GenerateTrian(Wq, Hq, camera, &m.x, &m.y, 0, W - 1, count, positions, texture);

  // Mode 1: left, centre and right panel one after the other.
  const int32_t xL = (W / 4) & ~1, xR = (3 * W / 4) & ~1;
  const int32_t e = gv().advValue9 != 0 ? 1 : 0;
  // The LUT carries divider lines (source (1, 3)) in the three columns
  // around each panel edge; the mesh has none. Take those columns back from
  // their neighbours two columns out.
  if (e != 0 && W > 8) {
    for (int32_t edge : {xL, xR}) {
      const int32_t a = edge - 2, b = edge + 2;
      if (a < 0 || b >= W) continue;
      for (int32_t r = 0; r < H; ++r) {
        float* X = m.x.data + static_cast<size_t>(r) * W;
        float* Y = m.y.data + static_cast<size_t>(r) * W;
        const bool ok = X[a] > 0.0f && Y[a] > 0.0f && X[b] > 0.0f && Y[b] > 0.0f;
        for (int32_t c = edge - 1; c <= edge + 1; ++c) {
          const float t = static_cast<float>(c - a) / 4.0f;
          X[c] = ok ? X[a] + t * (X[b] - X[a]) : -2.0f;
          Y[c] = ok ? Y[a] + t * (Y[b] - Y[a]) : -2.0f;
        }
      }
    }
  }
  const bool write = positions != nullptr && texture != nullptr;
  uint32_t cl = 0, cc = 0, cr = 0;
  if (!GenerateTrian_Step(Wq, Hq, camera, &m.x, &m.y, 0, xL, 8, 1, &cl, positions, texture)) return 0;
  if (!GenerateTrian(Wq, Hq, camera, &m.x, &m.y, xL + e, xR, &cc, write ? positions + 9 * cl : nullptr,
                     write ? texture + 6 * cl : nullptr))
    return 0;
  if (!GenerateTrian_Step(Wq, Hq, camera, &m.x, &m.y, xR + e, W - 1, 8, 1, &cr,
                          write ? positions + 9 * (cl + cc) : nullptr, write ? texture + 6 * (cl + cc) : nullptr))
    return 0;
  if (count != nullptr) *count = cl + cc + cr;
  return 1;
}
