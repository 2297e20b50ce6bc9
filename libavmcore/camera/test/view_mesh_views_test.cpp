#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "testsupport/view_test_fixture.h"
#include "camera/view_mesh.h"
#include "camera/view_object.h"
#include "camera/view_source_maps.h"
#include "frame/global_variables.h"

namespace {

using namespace view_fixture;

class ViewMeshViews : public RigViewTest {
 protected:
  ViewMeshViews() : RigViewTest("mesh_lut_config.krv") {}
  struct Mesh {
    uint32_t count = 0;
    std::vector<float> pos, tex;
  };
  // Count-only call, then the full call into arrays of that size.
  template <typename F>
  Mesh Fetch(F call) {
    Mesh m;
    EXPECT_EQ(call(&m.count, nullptr, nullptr), 1);
    m.pos.assign(m.count * 9, 0.0f);
    m.tex.assign(m.count * 6, 0.0f);
    uint32_t full = 0;
    EXPECT_EQ(call(&full, m.pos.data(), m.tex.data()), 1);
    EXPECT_EQ(full, m.count);
    return m;
  }
  void ExpectInQuadrant(const Mesh& m, int camera) {
    const float Wq = view->frameWidth, Hq = view->frameHeight;
    const float ox = (camera == 2 || camera == 4) ? 0.5f : 0.0f, oy = (camera == 3 || camera == 4) ? 0.5f : 0.0f;
    int textured = 0;
    for (uint32_t k = 0; k < m.count * 3; ++k) {
      const float u = m.tex[2 * k], v = m.tex[2 * k + 1];
      if (u == 0.0f && v == 0.0f) continue;
      ++textured;
      EXPECT_GE(u, ox);
      EXPECT_LE(u, ox + 0.5f);
      EXPECT_GE(v, oy);
      EXPECT_LE(v, oy + 0.5f);
      (void)Wq;
      (void)Hq;
    }
    EXPECT_GT(textured, 0) << camera;
  }
};

TEST_F(ViewMeshViews, UndistortedMeshesAgreeWithTheirLut) {
  for (int camera = 1; camera <= 4; ++camera) {
    for (int type : {1, 3, 4}) {
      UndistView_SetParam(view, camera, 600, 400, type, 0, 75.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
      Mesh m = Fetch([&](uint32_t* c, float* p, float* t) { return UndistView_GenerateTrian(view, camera, c, p, t); });
      ASSERT_GT(m.count, 0u);
      ExpectInQuadrant(m, camera);
      // A vertex on a grid point with a source samples where the LUT word of
      // that output pixel points.
      std::vector<uint32_t> lut(600 * 400);
      ASSERT_EQ(UndistView_GenerateLUT(view, camera, lut.data()), 1);
      int checked = 0;
      for (uint32_t k = 0; k < m.count * 3; ++k) {
        const float u = m.tex[2 * k], v = m.tex[2 * k + 1];
        if (u == 0.0f && v == 0.0f) continue;
        const int col = static_cast<int>(std::lround((m.pos[3 * k] + 1.0f) * 599.0f / 2.0f));
        const int row = static_cast<int>(std::lround((1.0f - m.pos[3 * k + 1]) * 399.0f / 2.0f));
        const uint32_t w = lut[row * 600 + col];
        if (w == 0) continue;  // a searched vertex stands on another row
        const float xq = (w & 0xFF) + (w >> 24) / 127.0f, yq = ((w >> 8) & 0xFF) + ((w >> 16) & 0xFF) / 127.0f;
        EXPECT_NEAR(u * 255.0f, xq, 0.02f);
        EXPECT_NEAR(v * 255.0f, yq, 0.02f);
        ++checked;
      }
      EXPECT_GT(checked, 100);
    }
  }
}

TEST_F(ViewMeshViews, CutAndWideMeshes) {
  CutView_SetParam(view, 3, 600, 400, 1, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  Mesh cut = Fetch([&](uint32_t* c, float* p, float* t) { return CutView_GenerateTrian(view, 3, c, p, t); });
  EXPECT_GT(cut.count, 0u);
  for (int camera : {1, 2}) {
    for (int mode : {1, 2}) {
      Mesh w = Fetch([&](uint32_t* c, float* p, float* t) {
        return WideView_GenerateTrian(view, camera, 800, 400, mode, c, p, t, 1.0f, 0.0f, 0.0f, 1.0f);
      });
      ASSERT_GT(w.count, 0u) << mode;
      ExpectInQuadrant(w, camera);
    }
  }
}

TEST_F(ViewMeshViews, CameraFiveUsesCameraOnesBlockAndQuadrant) {
  UndistView_SetParam(view, 1, 600, 400, 3, 0, 75.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  Mesh one = Fetch([&](uint32_t* c, float* p, float* t) { return UndistView_GenerateTrian(view, 1, c, p, t); });
  Mesh five = Fetch([&](uint32_t* c, float* p, float* t) { return UndistView_GenerateTrian(view, 5, c, p, t); });
  ASSERT_EQ(one.count, five.count);
  EXPECT_EQ(one.pos, five.pos);
  EXPECT_EQ(one.tex, five.tex);
}

TEST_F(ViewMeshViews, WidePanelsSplitByTheDividerSetting) {
  // W = 800: panel edges xL = 200, xR = 600. With AdvanceCtrl 9 on, the
  // centre and right meshes start one column after the edges.
  const float col201 = -1.0f + 2.0f * 201 / 799.0f, col601 = -1.0f + 2.0f * 601 / 799.0f;
  for (int adv : {1, 0}) {
    gv().advValue9 = adv;
    Mesh w = Fetch([&](uint32_t* c, float* p, float* t) {
      return WideView_GenerateTrian(view, 2, 800, 400, 1, c, p, t, 1.0f, 0.0f, 0.0f, 1.0f);
    });
    int at201 = 0, at601 = 0;
    for (uint32_t k = 0; k < w.count * 3; ++k) {
      at201 += std::fabs(w.pos[3 * k] - col201) < 1e-5f;
      at601 += std::fabs(w.pos[3 * k] - col601) < 1e-5f;
    }
    if (adv != 0) {
      EXPECT_GT(at201, 0);
      EXPECT_GT(at601, 0);
    } else {
      EXPECT_EQ(at201, 0);
      EXPECT_EQ(at601, 0);
    }
  }
}

TEST_F(ViewMeshViews, FailuresLeaveTheCountAlone) {
  uint32_t count = 4242;
  // A view type without a builder.
  UndistView_SetParam(view, 1, 600, 400, 9, 0, 75.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(UndistView_GenerateTrian(view, 1, &count, nullptr, nullptr), 0);
  EXPECT_EQ(WideView_GenerateTrian(view, 1, 800, 400, 3, &count, nullptr, nullptr, 1.0f, 0, 0, 1.0f), 0);
  EXPECT_EQ(UndistView_GenerateTrian(nullptr, 1, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 4242u);
}

}  // namespace
