#include "camera/view_lut.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

uint32_t EncodeOne(float x, float y, int camera, int fw = 1280, int fh = 720) {
  Matrix mx{1, 1, &x}, my{1, 1, &y};
  uint32_t out = 0xDEADBEEF;
  ViewLUT_Encode(fw, fh, &mx, &my, camera, &out);
  return out;
}

TEST(ViewLut, EncodingOfQuadrantsAndFractions) {
  // (1, 3) in camera 1: xq = 255 / fw, yq = 765 / fh.
  const float xq = 255.0f / 1280.0f, yq = 765.0f / 720.0f;
  uint32_t w = EncodeOne(1.0f, 3.0f, 1);
  EXPECT_EQ(w & 0xFFu, 0u);
  EXPECT_EQ((w >> 8) & 0xFFu, 1u);
  EXPECT_EQ((w >> 16) & 0xFFu, static_cast<uint32_t>((yq - 1.0f) * 127.0f));
  EXPECT_EQ(w >> 24, static_cast<uint32_t>(xq * 127.0f));

  struct Case {
    int camera;
    float offX, offY;
  } cases[] = {{1, 0, 0}, {2, 640, 0}, {3, 0, 360}, {4, 640, 360}, {7, 0, 0}};
  for (const Case& c : cases) {
    const float x = 100.25f, y = 50.5f;
    uint32_t e = EncodeOne(x, y, c.camera);
    float ex = (c.offX + x) * 255.0f / 1280.0f, ey = (c.offY + y) * 255.0f / 720.0f;
    float dx = (e & 0xFF) + ((e >> 24) & 0xFF) / 127.0f;
    float dy = ((e >> 8) & 0xFF) + ((e >> 16) & 0xFF) / 127.0f;
    EXPECT_NEAR(dx, ex, 1.0f / 127.0f) << c.camera;
    EXPECT_NEAR(dy, ey, 1.0f / 127.0f) << c.camera;
  }
}

TEST(ViewLut, OffImagePixelsGiveWordZero) {
  for (auto p : {std::pair<float, float>{0.5f, 10.0f}, {10.0f, 0.9f}, {-2.0f, -2.0f}, {0.0f, 0.0f}})
    EXPECT_EQ(EncodeOne(p.first, p.second, 2), 0u);
}

// A frame of no size (a camera file with quad size 0) or a source no frame
// holds has no source word; before, these divided by zero and converted
// infinity to an integer.
TEST(ViewLut, NoFrameOrUnboundedSourceGivesWordZero) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float x, y;
    int fw, fh;
  } cases[] = {{10.0f, 10.0f, 0, 720}, {10.0f, 10.0f, 1280, 0}, {10.0f, 10.0f, 0, 0}, {10.0f, 10.0f, 1, 1},
               {inf, 10.0f, 1280, 720}, {10.0f, inf, 1280, 720}, {3.0e9f, 10.0f, 1280, 720}};
  for (const Case& c : cases)
    EXPECT_EQ(EncodeOne(c.x, c.y, 4, c.fw, c.fh), 0u) << c.x << " " << c.y << " " << c.fw << "x" << c.fh;
}

struct Maps {
  int w, h;
  std::vector<float> x, y;
  Matrix mx, my;
  Maps(int w_, int h_, float v) : w(w_), h(h_), x(w_ * h_, v), y(w_ * h_, v) {
    mx = Matrix{w, h, x.data()};
    my = Matrix{w, h, y.data()};
  }
};

TEST(ViewLutHoles, FillStaysInsideShortMaps) {
  // Heights below 16 once reached outside the map; under ASan this test
  // fails on any stray read.
  for (int h = 1; h <= 17; ++h) {
    Maps m(20, h, -2.0f);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < 11; ++c) {
        m.x[r * 20 + c] = 10.0f + c;
        m.y[r * 20 + c] = 10.0f + r;
      }
    ViewMap_FillHoles(&m.mx, &m.my);
    CutView_FillHoles(&m.mx, &m.my, 3);
    CutView_FillHoles(&m.mx, &m.my, 4);
    for (int i = 0; i < 20 * h; ++i) EXPECT_TRUE(m.x[i] >= 1.0f || m.x[i] == -2.0f);
  }
}

TEST(ViewLutHoles, HolesTakeANearbySource) {
  Maps m(40, 40, 0.0f);
  for (int r = 0; r < 40; ++r)
    for (int c = 0; c < 40; ++c)
      if ((r * 7 + c * 3) % 5 != 0) {
        m.x[r * 40 + c] = 100.0f + c;
        m.y[r * 40 + c] = 200.0f + r;
      }
  ViewMap_FillHoles(&m.mx, &m.my);
  for (int r = 0; r < 40; ++r)
    for (int c = 11; c < 40; ++c) {
      float x = m.x[r * 40 + c];
      EXPECT_TRUE(x == 0.0f || (x >= 100.0f && x <= 100.0f + c)) << r << "," << c;
    }
}

}  // namespace
