#include "surround/mix_area_six_ex.h"
#include "toolkit/matrix_alloc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "camera/lut_config.h"
#include "testsupport/config_state.h"

namespace {

// A LutConfig with only the maps and car rectangle the sampling reads:
// X1 = column + 1000 (quad x), Y1 = row + offset.
struct GroupMaps {
  std::vector<float> x, y;
  LutConfig cfg{};
  GroupMaps(int32_t W, int32_t H, int32_t left, int32_t right, int32_t top, int32_t bottom, float yOffset) {
    x.resize(static_cast<size_t>(W) * H);
    y.resize(x.size());
    for (int32_t r = 0; r < H; ++r)
      for (int32_t c = 0; c < W; ++c) {
        x[static_cast<size_t>(r) * W + c] = static_cast<float>(c + 1000);
        y[static_cast<size_t>(r) * W + c] = static_cast<float>(r) + yOffset;
      }
    cfg.X1 = {W, H, x.data()};
    cfg.Y1 = {W, H, y.data()};
    cfg.carLeft = left;
    cfg.carRight = right;
    cfg.carTop = top;
    cfg.carBottom = bottom;
  }
};

TEST(MixAreaSixEx, ColumnsFollowTheCarLeftColumn) {
  const struct {
    int32_t left, n;
  } cases[] = {{60, 40}, {30, 20}, {10, 0}, {4, 0}};
  for (const auto& k : cases) {
    LutConfig cfg{};
    cfg.carLeft = k.left;
    EXPECT_EQ(MixAreaSixEx_Columns(&cfg), k.n) << k.left;
  }
}

TEST(MixAreaSixEx, BuildSamplesBothGroupsBesideTheCarMiddle) {
  const int32_t W = 200, H = 300, qw = 640, qh = 480;
  GroupMaps a(W, H, 60, 140, 100, 200, 0.0f), b(W, H, 60, 140, 100, 200, 300.0f);
  MixAreaSixEx s = MixAreaSixEx_Empty();
  MixAreaSixEx_Build(&s, &a.cfg, &b.cfg, qw, qh);
  ASSERT_EQ(s.valid, 1u);
  ASSERT_EQ(s.tables[0].width, 40);
  ASSERT_EQ(s.tables[0].height, 24);
  // Row i = 150 - 12 + i; left column j = 60 - 40 - 5 + j, right 140 + 5 + j.
  EXPECT_EQ(s.tables[0].data[0], 15 + 1000);
  EXPECT_EQ(s.tables[1].data[0], 138);
  EXPECT_EQ(s.tables[4].data[3 * 40 + 2], 147 + 1000);
  EXPECT_EQ(s.tables[5].data[3 * 40 + 2], 141);
  // Group B's y less half the quad height.
  EXPECT_EQ(s.tables[3].data[0], 138 + 300 - 240);
  EXPECT_EQ(s.tables[7].data[23 * 40 + 39], 161 + 300 - 240);
  MixAreaSixEx_Free(&s);
  EXPECT_EQ(s.valid, 0u);
  EXPECT_EQ(s.quadCoords, 1u);
  MixAreaSixEx_Free(&s);  // freeing an invalid record does nothing
}

TEST(MixAreaSixEx, GroupsOfDifferentCarsShareTheSmallerWidth) {
  const int32_t W = 200, H = 300;
  GroupMaps a(W, H, 60, 140, 100, 200, 0.0f), b(W, H, 30, 170, 100, 200, 300.0f);
  // As the save chains do it: group A first (sized 40), then group B (20).
  MixAreaSixEx s = MixAreaSixEx_Empty();
  MixAreaSixEx_AddGroup(&s, 1, &a.cfg, 640, 480);
  ASSERT_EQ(s.tables[0].width, 40);
  MixAreaSixEx_AddGroup(&s, 0, &b.cfg, 640, 480);
  ASSERT_EQ(s.tables[0].width, 20);
  // Group A's columns nearest the car stayed: left j = 60 - 20 - 5 + j.
  EXPECT_EQ(s.tables[0].data[0], 35 + 1000);
  EXPECT_EQ(s.tables[4].data[0], 145 + 1000);
  EXPECT_EQ(s.tables[2].data[0], 5 + 1000);
  EXPECT_EQ(s.tables[6].data[19], 194 + 1000);
  MixAreaSixEx_Free(&s);
  // A car left column below 10: no columns, no overrun.
  GroupMaps c(W, H, 4, 196, 100, 200, 0.0f);
  MixAreaSixEx_Build(&s, &c.cfg, &c.cfg, 640, 480);
  EXPECT_EQ(s.valid, 1u);
  EXPECT_EQ(s.tables[0].width, 0);
  MixAreaSixEx_Free(&s);
}

TEST(MixAreaSixEx, SaveLoadRoundTripAndBadFiles) {
  ScopedConfigState state;
  const std::string dir = DataDirectory();
  const std::string path = dir + "/lut_mixareainfo_sixex.krv";
  GroupMaps a(200, 300, 60, 140, 100, 200, 0.0f), b(200, 300, 60, 140, 100, 200, 300.0f);
  MixAreaSixEx s = MixAreaSixEx_Empty();
  EXPECT_EQ(MixAreaSixEx_Save(&s, path.c_str()), 0);  // invalid: nothing written
  MixAreaSixEx_Build(&s, &a.cfg, &b.cfg, 640, 480);
  ASSERT_EQ(MixAreaSixEx_Save(&s, path.c_str()), 1);
  MixAreaSixEx t = MixAreaSixEx_Empty();
  MixAreaSixEx_Load(&t, path.c_str());
  ASSERT_EQ(t.valid, 1u);
  EXPECT_EQ(t.quadWidth, 640);
  EXPECT_EQ(t.quadHeight, 480);
  for (int k = 0; k < 8; ++k)
    for (int i = 0; i < 40 * 24; ++i) ASSERT_EQ(t.tables[k].data[i], s.tables[k].data[i]);
  MixAreaSixEx_ToCameraCoords(&t);
  EXPECT_EQ(t.tables[0].data[0], 15 + 1000 - 320);
  EXPECT_EQ(t.quadCoords, 0u);
  MixAreaSixEx_Free(&t);

  // Truncated, wrong magic, impossible size: invalid and nothing kept.
  std::vector<uint8_t> bytes;
  {
    FILE* f = fopen(path.c_str(), "rb");
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
  }
  auto writeAndLoad = [&](const std::vector<uint8_t>& content) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    MixAreaSixEx r = MixAreaSixEx_Empty();
    MixAreaSixEx_Load(&r, path.c_str());
    const bool valid = r.valid != 0;
    if (!valid) {
      EXPECT_EQ(r.tables[0].data, nullptr);
    }
    MixAreaSixEx_Free(&r);
    return valid;
  };
  EXPECT_FALSE(writeAndLoad(std::vector<uint8_t>(bytes.begin(), bytes.end() - 7)));
  std::vector<uint8_t> bad = bytes;
  bad[0] ^= 1;
  EXPECT_FALSE(writeAndLoad(bad));
  bad = bytes;
  bad[12] = 0xFF;  // columns far beyond any car
  bad[15] = 0x7F;
  EXPECT_FALSE(writeAndLoad(bad));
  bad = bytes;
  bad[16] = 25;  // rows other than 24
  EXPECT_FALSE(writeAndLoad(bad));
  EXPECT_TRUE(writeAndLoad(bytes));
  MixAreaSixEx m = MixAreaSixEx_Empty();
  MixAreaSixEx_Load(&m, (dir + "/none.krv").c_str());
  EXPECT_EQ(m.valid, 0u);
  MixAreaSixEx_Free(&s);
}

TEST(MixAreaSixEx, CloneAndSubtract) {
  int32_t d[6] = {1, 2, 3, 4, 5, 6};
  ImageI32 src{3, 2, d}, dst{0, 0, nullptr};
  ImageI32_Clone(&src, &dst);
  ASSERT_NE(dst.data, nullptr);
  ImageI32_SubtractAll(&dst, 2);
  EXPECT_EQ(dst.data[5], 4);
  EXPECT_EQ(d[5], 6);
  ImageI32_FreeData(&dst);
  ImageI32 empty{0, 2, d}, none{0, 0, nullptr};
  ImageI32_Clone(&empty, &none);
  EXPECT_EQ(none.data, nullptr);
}

}  // namespace
