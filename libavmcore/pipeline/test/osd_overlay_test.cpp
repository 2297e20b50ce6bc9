#include "pipeline/osd_overlay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/config_state.h"
#include "testsupport/osd_icons.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr int32_t kGW = 8, kGH = 12, kW = 640, kH = 360;

uint8_t IconY(int32_t icon) {
  uint8_t c[3];
  OsdIcon_Colour(icon, c);
  return Rgb_ToY(c[0], c[1], c[2]);
}

class OsdOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OsdIcons_Write(state_.dir(), kGW, kGH, 20, 10));
    ASSERT_EQ(OSD_Init(&osd_, state_.dir().c_str()), 0);
    OSD_AllocOverlay(&osd_, &date_);
    OSD_AllocOverlay(&osd_, &speed_);
    frame_.assign(static_cast<size_t>(kW) * kH * 3 / 2, 0);
  }
  // Glyph indices of a text as it is drawn.
  static std::vector<int32_t> Glyphs(const std::string& text) {
    std::vector<int32_t> g;
    for (char c : text) g.push_back(OSD_GlyphIndex(c));
    return g;
  }
  // Expect the glyphs at (x, y), checked on the second column of each (the first is transparent).
  void ExpectText(int32_t x, int32_t y, const std::vector<int32_t>& glyphs) {
    for (size_t k = 0; k < glyphs.size(); ++k) {
      const int32_t px = x + static_cast<int32_t>(k) * kGW + 1;
      EXPECT_EQ(frame_[static_cast<size_t>(y) * kW + px], IconY(glyphs[k])) << "glyph " << k << " at " << px;
      EXPECT_EQ(frame_[static_cast<size_t>(y) * kW + px - 1], 0) << "transparent column " << k;
    }
  }
  std::string DateText(time_t t) {
    tm lt{};
    localtime_r(&t, &lt);
    char s[96];
    snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
             lt.tm_min, lt.tm_sec);
    return s;
  }
  ScopedConfigState state_;
  OSDState osd_;
  OverlayBuffer date_, speed_;
  std::vector<uint8_t> frame_;
  const time_t t_ = 1700000000;
};

TEST_F(OsdOverlayTest, GlyphIndexTable) {
  const struct {
    char c;
    int32_t index;
  } cases[] = {{'0', 0}, {'9', 9}, {' ', 10}, {'-', 11}, {':', 12}, {'/', 13}, {'K', 14}, {'M', 15}, {'h', 16}, {'.', 17}, {'x', 10}};
  for (const auto& c : cases) EXPECT_EQ(OSD_GlyphIndex(c.c), c.index) << c.c;
}

TEST_F(OsdOverlayTest, ModesPlaceDateAndSpeedTexts) {
  const struct {
    int32_t mode;
    std::string speedText;
  } cases[] = {{1, ""}, {2, "35KM/h"}, {10, "35KM/h 1200KM"}, {8, "1200KM"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    frame_.assign(frame_.size(), 0);
    OSD_DrawDateTimeAt(&osd_, &date_, 0, t_);
    OSD_DrawSpeed(&osd_, &speed_, c.mode, 35, 1200);
    EXPECT_EQ(date_.width, 19 * kGW);
    EXPECT_EQ(speed_.width, static_cast<int32_t>(c.speedText.size()) * kGW);
    OSD_DrawOverlay(frame_.data(), kW, kH, &osd_, &date_, &speed_, c.mode, 16, 16);
    ExpectText(16, 16, Glyphs(DateText(t_)));
    if (!c.speedText.empty()) ExpectText(16 + 19 * kGW + kGW, 16, Glyphs(c.speedText));
    // Nothing right of the text block and no chroma at odd positions.
    const int32_t end = 16 + 19 * kGW + (c.speedText.empty() ? 0 : kGW + speed_.width);
    EXPECT_EQ(frame_[16 * kW + end + 1], 0);
    const uint8_t* uv = frame_.data() + kW * kH;
    uint8_t c3[3];
    OsdIcon_Colour(Glyphs(DateText(t_))[1], c3);
    EXPECT_EQ(uv[8 * kW + 16 + kGW + 2], Rgb_ToU(c3[0], c3[1], c3[2]));
    EXPECT_EQ(uv[8 * kW + 16 + kGW + 3], Rgb_ToV(c3[0], c3[1], c3[2]));
  }
}

TEST_F(OsdOverlayTest, CornersTwoLineAndQuadModes) {
  OSD_DrawDateTimeAt(&osd_, &date_, 0, t_);
  OSD_DrawSpeed(&osd_, &speed_, 0xC2, 5, 0);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd_, &date_, &speed_, 0xC2, 16, 16);
  const int32_t blockW = 19 * kGW + 5 * kGW;  // "5KM/h"
  ExpectText(kW - 1 - blockW - 16, kH - 1 - kGH - 16, Glyphs(DateText(t_)));

  frame_.assign(frame_.size(), 0);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd_, &date_, &speed_, 0x20, 16, 16);
  const std::vector<int32_t> all = Glyphs(DateText(t_));
  ExpectText(16, 16, std::vector<int32_t>(all.begin(), all.begin() + 10));
  ExpectText(16 + kGW, 16 + kGH + kGH / 2, std::vector<int32_t>(all.begin() + 11, all.end()));
  EXPECT_EQ(frame_[16 * kW + 16 + 10 * kGW + 1], 0);  // no time or speed on the first line

  frame_.assign(frame_.size(), 0);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd_, &date_, &speed_, 0xE0, 16, 16);
  for (int q = 0; q < 4; ++q) ExpectText((q % 2) * kW / 2 + 9 * kGW, (q / 2) * kH / 2 + kGH / 2, all);
}

TEST_F(OsdOverlayTest, DateLayoutBHas21Glyphs) {
  OSD_DrawDateTimeAt(&osd_, &date_, 1, t_);
  EXPECT_EQ(date_.width, 21 * kGW);
}

TEST_F(OsdOverlayTest, CameraIconsAroundTheCentreOnlyWhenAllFourLoaded) {
  OSD_DrawDateTimeAt(&osd_, &date_, 0, t_);
  OSD_DrawSpeed(&osd_, &speed_, 16, 0, 0);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd_, &date_, &speed_, 16, 16, 16);
  const int32_t w = 20, h = 10;
  const int32_t at[4][2] = {{kW / 2 - w - w / 2, kH / 2 - h - h / 2}, {kW / 2 + w / 2, kH / 2 - h - h / 2},
                            {kW / 2 - w - w / 2, kH / 2 + h / 2}, {kW / 2 + w / 2, kH / 2 + h / 2}};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(frame_[static_cast<size_t>(at[k][1]) * kW + at[k][0] + 1], IconY(19 + k)) << k;

  ScopedConfigState other;
  ASSERT_TRUE(OsdIcons_Write(other.dir(), kGW, kGH, 20, 10, 2));  // no "left"
  OSDState osd;
  ASSERT_EQ(OSD_Init(&osd, other.dir().c_str()), 0);
  EXPECT_EQ(osd.cameraIconsValid, 0);
  frame_.assign(frame_.size(), 0);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd, &date_, &speed_, 16, 16, 16);
  EXPECT_EQ(frame_[static_cast<size_t>(at[0][1]) * kW + at[0][0] + 1], 0);
}

TEST_F(OsdOverlayTest, MissingGlyphTenMeansNoOverlay) {
  ScopedConfigState empty;
  OSDState osd;
  EXPECT_EQ(OSD_Init(&osd, empty.dir().c_str()), -1);
  EXPECT_EQ(osd.initialised, 0);
  OverlayBuffer b;
  OSD_AllocOverlay(&osd, &b);
  OSD_DrawDateTimeAt(&osd, &b, 0, t_);
  OSD_DrawOverlay(frame_.data(), kW, kH, &osd, &b, &b, 1, 16, 16);
  for (uint8_t v : frame_) ASSERT_EQ(v, 0);
}

TEST_F(OsdOverlayTest, LongTextsAreCappedAndBlitsClipped) {
  // Any integer: the text is cut to the buffer's glyph count.
  OSD_DrawSpeed(&osd_, &speed_, 10, -2147483647 - 1, 2147483647);
  EXPECT_EQ(speed_.width, kOverlayMaxGlyphs * kGW);
  EXPECT_EQ(speed_.yuv.size(), static_cast<size_t>(kOverlayMaxGlyphs) * kGW * kGH * 3);
  // Blits past every edge of a small frame stay inside it (the sanitizer build checks).
  std::vector<uint8_t> small(64 * 32 * 3 / 2, 0);
  OSD_DrawDateTimeAt(&osd_, &date_, 1, t_);
  for (int32_t x : {-500, -3, 0, 40, 63, 500})
    for (int32_t y : {-50, -5, 0, 25, 31, 100}) OSD_BlitPlanar(small.data(), 64, 32, &speed_, x, y, 0, kOverlayMaxGlyphs);
  OSD_DrawOverlay(small.data(), 64, 32, &osd_, &date_, &speed_, 0xDA, 16, 16);
  OSD_DrawOverlay(small.data(), 64, 32, &osd_, &date_, &speed_, 0xF0, 16, 16);
  EXPECT_NE(small[0] + small[64 * 31 + 63] + 1, 0);
}

}  // namespace
