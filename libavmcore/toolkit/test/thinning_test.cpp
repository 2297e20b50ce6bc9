#include "toolkit/thinning.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "toolkit/test/pixel_test_util.h"

namespace {

struct Mask {
  std::vector<uint8_t> v;
  ImageU8 img{};
  explicit Mask(const std::vector<std::string>& art) {
    const int w = static_cast<int>(art[0].size()), h = static_cast<int>(art.size());
    for (const auto& r : art)
      for (char c : r) v.push_back(c == '#');
    img = {w, h, v.data()};
  }
  Mask(const Mask& o) : v(o.v) { img = {o.img.width, o.img.height, v.data()}; }
  std::vector<std::string> Art() const {
    std::vector<std::string> out;
    for (int y = 0; y < img.height; ++y) {
      std::string r;
      for (int x = 0; x < img.width; ++x) r += v[y * img.width + x] ? '#' : '.';
      out.push_back(r);
    }
    return out;
  }
  int Count() const {
    int n = 0;
    for (uint8_t b : v) n += b;
    return n;
  }
};

TEST(Thinning, TableCountsAndFixedEntries) {
  int ones = 0;
  for (uint32_t e : ThinTable) {
    EXPECT_TRUE(e == 0 || e == 1);
    ones += e;
  }
  EXPECT_EQ(ones, 108);
  EXPECT_EQ(ThinTable[0], 0u);
  EXPECT_EQ(ThinTable[255], 0u);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(ThinTable[1 << b], 0u) << b;  // end points stay
  EXPECT_EQ(ThinTable[(1 << 3) | (1 << 4)], 0u);  // W and E: a bridge
  EXPECT_EQ(ThinTable[(1 << 1) | (1 << 2)], 1u);  // N and NE: a corner
}

TEST(Thinning, OnePixelLinesStay) {
  Mask m({"........", ".######.", "........", "...#....", "...#....", "...#....", "........"});
  const Mask before(m);
  ImageU8_Thin(&m.img);
  EXPECT_EQ(m.Art(), before.Art());
}

TEST(Thinning, ThickBarThinsToOnePixel) {
  Mask m({"............", ".##########.", ".##########.", ".##########.", "............"});
  ImageU8_ThinIterative(&m.img, 10, nullptr);
  // One row of the bar remains; no column holds two pixels.
  for (int x = 0; x < 12; ++x) {
    int n = 0;
    for (int y = 0; y < 5; ++y) n += m.v[y * 12 + x];
    EXPECT_LE(n, 1) << x;
  }
  EXPECT_GE(m.Count(), 6);
}

TEST(Thinning, CleanUpRemovesSpecksAndSpurs) {
  Mask m({"........", ".#......", "........", "....##..", "....##..", "........"});
  std::vector<uint8_t> work(8 * 6);
  ImageU8_ThinIterative(&m.img, 0, work.data());  // clean-up only
  EXPECT_EQ(m.Art()[1], "........");
  EXPECT_EQ(m.Count(), 2);  // of the 2 x 2 block, the pixels with neighbours on both sides of the split survive
}

// The candidate-list form gives exactly the result of the full scans.
TEST(Thinning, FastFormMatchesTheIteratedForm) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const int w = 40, h = 30;
    std::mt19937 rng(seed);
    std::vector<std::string> art(h, std::string(w, '.'));
    for (int k = 0; k < 14; ++k) {  // random rectangles and lines
      const int x0 = rng() % w, y0 = rng() % h, bw = 1 + rng() % 12, bh = 1 + rng() % 6;
      for (int y = y0; y < std::min(h, y0 + bh); ++y)
        for (int x = x0; x < std::min(w, x0 + bw); ++x) art[y][x] = '#';
    }
    for (int iters : {1, 3, 50}) {
      Mask slow(art), fast(art);
      std::vector<uint8_t> work1(w * h), work2(w * h);
      ImageU8_ThinIterative(&slow.img, iters, work1.data());
      ImageU8_ThinIterativeFast(&fast.img, iters, work2.data());
      ASSERT_EQ(fast.Art(), slow.Art()) << "seed " << seed << " iterations " << iters;
    }
  }
}

TEST(Thinning, TooSmallMasksAreLeftAlone) {
  Mask m({"##", "##", "##"});
  const Mask before(m);
  std::vector<uint8_t> work(6);
  ImageU8_Thin(&m.img);
  ImageU8_ThinIterative(&m.img, 5, work.data());
  ImageU8_ThinIterativeFast(&m.img, 5, work.data());
  EXPECT_EQ(m.Art(), before.Art());
}

pixel_test::FloatImage Zs(const std::vector<std::string>& art) {
  pixel_test::FloatImage img = pixel_test::FromArt(art);
  Image_ThinZhangSuen(&img.m);
  return img;
}

std::vector<std::string> Art(const pixel_test::FloatImage& img) {
  return pixel_test::ToArt(img.v.data(), img.m.cols, img.m.rows);
}

TEST(Thinning, ZhangSuenFixtures) {
  // A 3 x 3 block: the first iteration deletes 8 pixels, the second none.
  EXPECT_EQ(Art(Zs({".......", ".......", "..###..", "..###..", "..###..", ".......", "......."})),
            (std::vector<std::string>{".......", ".......", ".......", "...#...", ".......", ".......", "......."}));
  // A 2 x 2 block vanishes in the first sub-iteration.
  EXPECT_EQ(Zs({"......", "......", "..##..", "..##..", "......", "......"}).v, std::vector<float>(36, 0.0f));
  // A one-pixel line stays; border pixels are cleared.
  EXPECT_EQ(Art(Zs({"#.......", "........", ".######.", "........"})),
            (std::vector<std::string>{"........", "........", ".######.", "........"}));
  // A thick bar becomes one pixel wide.
  const pixel_test::FloatImage bar =
      Zs({"..............", ".############.", ".############.", ".############.", ".............."});
  for (int x = 0; x < 14; ++x) {
    int n = 0;
    for (int y = 0; y < 5; ++y) n += bar.at(x, y) != 0.0f;
    EXPECT_LE(n, 1) << x;
  }
  // A one-pixel-thin image has no interior: cleared.
  EXPECT_EQ(Zs({"####"}).v, std::vector<float>(4, 0.0f));
}

}  // namespace
