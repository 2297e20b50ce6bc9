#include "pipeline/adas_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "testsupport/config_state.h"
#include "testsupport/scene_renderer.h"
#include "testsupport/file_bytes.h"
#include "toolkit/matrix_alloc.h"

namespace {

constexpr int kCamW = 640, kCamH = 480;
constexpr int kCarW = 1900, kCarL = 4600;

// Four fisheye cameras around a 1900 x 4600 mm car, 1 m above the ground,
// looking outwards and down.
struct Rig {
  SceneCamera cam[4];
  Matrix K[4], D[4], R[4], T[4];
  AdasCameraRig rig{};

  explicit Rig(bool sideCamerasBlind = false) {
    const float hl = kCarL / 2.0f, hw = kCarW / 2.0f;
    const float pos[4][3] = {{0, -hl, 1000}, {0, hl, 1000}, {-hw, 0, 1000}, {hw, 0, 1000}};
    const float look[4][3] = {{0, -hl - 2000, 0}, {0, hl + 2000, 0}, {-hw - 2000, 0, 0}, {hw + 2000, 0, 0}};
    rig.camW = kCamW;
    rig.camH = kCamH;
    rig.carWidth = kCarW;
    rig.carLength = kCarL;
    rig.frontOverhang = 900;
    rig.wheelBase = 2800;
    for (int k = 0; k < 4; ++k) {
      cam[k].model = 2;
      const float K0[9] = {1, 0, kCamW / 2.0f, 0, 1, kCamH / 2.0f, 0, 0, 1};
      memcpy(cam[k].K, K0, sizeof(K0));
      cam[k].D[0] = 190;
      // A principal point far off the picture: nothing lands inside it.
      if (sideCamerasBlind && k >= 2) cam[k].K[2] = -50000.0f;
      SceneCamera_LookAt(&cam[k], pos[k], look[k]);
      K[k] = Matrix{3, 3, cam[k].K};
      D[k] = Matrix{8, 1, cam[k].D};
      R[k] = Matrix{3, 1, cam[k].r};
      T[k] = Matrix{1, 3, cam[k].T};
      rig.model[k] = 2;
      rig.slot[k] = 0;
      rig.K[k] = &K[k];
      rig.D[k] = &D[k];
      rig.R[k] = &R[k];
      rig.T[k] = &T[k];
    }
  }
};

void WriteWords(const std::string& p, const std::vector<int32_t>& words) {
  FILE* f = fopen(p.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(words.data(), 4, words.size(), f);
  fclose(f);
}

uint32_t Word(const std::vector<uint8_t>& b, size_t i) {
  uint32_t v;
  memcpy(&v, &b[4 * i], 4);
  return v;
}

bool SameTable(const ImageI32& a, const ImageI32& b) {
  if (a.width != b.width || a.height != b.height) return false;
  size_t n = static_cast<size_t>(a.width > 0 ? a.width : 0) * (a.height > 0 ? a.height : 0);
  return n == 0 || memcmp(a.data, b.data, n * 4) == 0;
}

class AdasConfigTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* name) { return dir_ + "/" + name; }
};

TEST_F(AdasConfigTest, GeneratedTablesHaveTheirShapesAndProjectTheGround) {
  Rig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS | kAdasBSDS | kAdasMODS | kAdasRCTA | kAdasLVSA);
  const int32_t* C = cfg.C;
  EXPECT_EQ(C[kAdasFrameWidth], 2 * kCamW);
  EXPECT_EQ(C[kAdasFrameHeight], 2 * kCamH);
  EXPECT_EQ(C[kAdasCarWidth], kCarW);
  EXPECT_EQ(C[kAdasWheelBase], 2800);
  struct Shape {
    const ImageI32* t;
    int w, h;
  } shapes[] = {{&cfg.ldws, 180, 280},        {&cfg.bsds[0], 68, 270},        {&cfg.bsds[1], 68, 270},
                {&cfg.bsds[2], 52, 270},      {&cfg.bsds[3], 64, C[43]},      {&cfg.bsds[4], 64, C[43]},
                {&cfg.mods[0], C[70], 72},    {&cfg.mods[1], C[70], 72},      {&cfg.mods[2], 56, 132},
                {&cfg.mods[3], 56, 132},      {&cfg.rcta[0], 63, 266},        {&cfg.rcta[1], 63, 266},
                {&cfg.lvsa, 60, 150}};
  for (const Shape& s : shapes) {
    EXPECT_EQ(s.t->width, s.w);
    EXPECT_EQ(s.t->height, s.h);
    EXPECT_NE(s.t->data, nullptr);
  }
  EXPECT_EQ(C[70] % 4, 0);
  EXPECT_EQ(C[70], 140);  // (1900 + 5000) / 50 = 138, up to a multiple of 4
  EXPECT_EQ(C[81], 132);
  EXPECT_GT(C[43], 0);
  EXPECT_LE(C[44], 14000);
  EXPECT_EQ(C[18], 5000);  // camera 1 sits 1 m up (T = -position)
  EXPECT_EQ(C[108], -kCarL / 2);

  // An LVSA cell lies at x = 40 c, y = C108 - 6000 + 40 r through camera 1:
  // the stored pixel is that projection rounded, in the top-left quadrant.
  int checked = 0;
  for (int r = 0; r < 150; r += 37)
    for (int c = 0; c < 60; c += 13) {
      float g[3] = {40.0f * c, C[108] - 6000.0f + 40.0f * r, 0.0f}, px[2];
      Matrix obj{3, 1, g}, img{2, 1, px};
      CameraModel_ProjectPoints(2, &obj, rig.rig.R[0], rig.rig.T[0], rig.rig.K[0], rig.rig.D[0], &img, nullptr,
                                nullptr, nullptr, nullptr, nullptr, 0);
      int u = static_cast<int>(px[0] + 0.5f), v = static_cast<int>(px[1] + 0.5f);
      uint32_t e = static_cast<uint32_t>(cfg.lvsa.data[r * 60 + c]);
      if (u > 1 && u <= kCamW - 2 && v > 1 && v <= kCamH - 2) {
        EXPECT_EQ(e, static_cast<uint32_t>(u) | (static_cast<uint32_t>(v) << 16));
        ++checked;
      } else {
        EXPECT_EQ(e, 0u);
      }
    }
  EXPECT_GT(checked, 5);
  // Camera 2 tables carry the top-right quadrant origin, valid or not.
  for (int i = 0; i < 63 * 266; i += 101) {
    uint32_t e = static_cast<uint32_t>(cfg.rcta[0].data[i]);
    EXPECT_GE(e & 0xFFFF, static_cast<uint32_t>(kCamW));
    EXPECT_LT(e >> 16, static_cast<uint32_t>(kCamH));
  }
  // MODS side tables of camera 4: bottom-right quadrant, MODS bounds.
  for (int i = 0; i < 56 * 132; ++i) {
    uint32_t e = static_cast<uint32_t>(cfg.mods[3].data[i]);
    uint32_t col = (e & 0xFFFF) - kCamW, row = (e >> 16) - kCamH;
    if (col == 0 && row == 0) continue;
    EXPECT_GT(col, 2u);
    EXPECT_LE(col, static_cast<uint32_t>(kCamW - 4));
    EXPECT_LE(row, static_cast<uint32_t>(kCamH - 2));
  }
  // LDWS side band: the middle columns repeat the band's inner columns.
  const int s = static_cast<int>(std::lround(((9000 - kCarW) / 2.0) / 50.0));
  const int n = static_cast<int>(std::lround(kCarL / 50.0));
  for (int r = 120; r < 140 + n; r += 7) {
    const int32_t* row = cfg.ldws.data + r * 180;
    EXPECT_EQ(row[s], row[s - 1]);
    EXPECT_EQ(row[89], row[s - 1]);
    EXPECT_EQ(row[90], row[180 - s]);
  }
  ADASConfig_Free(&cfg);
  EXPECT_EQ(cfg.ldws.data, nullptr);
  EXPECT_EQ(cfg.C[kAdasLoaded], 0);
  EXPECT_EQ(cfg.C[kAdasModsPresent], 0);
}

TEST_F(AdasConfigTest, CrossTableSearchFallsBackWhenSideCamerasSeeNothing) {
  for (int corners : {0, 12}) {
    Rig rig(true);
    rig.rig.camera2Corners = corners;
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasBSDS);
    const int32_t expectD = corners ? 500 : 10000;
    EXPECT_EQ(cfg.C[44], expectD);
    EXPECT_EQ(cfg.C[43], (expectD + kCarL - 3600) / 50);
    EXPECT_EQ(cfg.bsds[3].height, cfg.C[43]);
    // Nothing is seen: every B4 entry is its offset alone.
    EXPECT_EQ(static_cast<uint32_t>(cfg.bsds[3].data[0]), static_cast<uint32_t>(kCamH) << 16);
    EXPECT_EQ(static_cast<uint32_t>(cfg.bsds[4].data[5]), static_cast<uint32_t>(kCamW) | (kCamH << 16));
    ADASConfig_Free(&cfg);
  }
}

TEST_F(AdasConfigTest, SaveAndLoadEveryFileWithItsMagic) {
  Rig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, 0xFF);
  // APA has no builder: give it a small table of its own.
  cfg.C[kAdasApaPresent] = 1;
  for (int w = 55; w <= 62; ++w) cfg.C[w] = 1000 + w;
  cfg.C[kAdasApaCols] = 3;
  cfg.C[kAdasApaRows] = 2;
  ASSERT_TRUE(ImageI32_NewData(&cfg.apa, 3, 2));
  for (int32_t i = 0; i < 6; ++i) cfg.apa.data[i] = i + 1;
  ASSERT_EQ(ADASConfig_Save(&cfg, dir_.c_str(), 0x13F), 1);

  const struct {
    const char* name;
    uint32_t magic;
  } files[] = {{"adas_base.krv", kAdasBaseMagic}, {"adas_ldws.krv", kAdasLdwsMagic},
               {"adas_bsds.krv", kAdasBsdsMagic}, {"adas_apa.krv", kAdasApaMagic},
               {"adas_mods.krv", kAdasModsMagic}, {"adas_rcta.krv", kAdasRctaMagic},
               {"adas_lvsa.krv", kAdasLvsaMagic}};
  for (const auto& f : files) {
    std::vector<uint8_t> b = testsupport::ReadFileBytes(Path(f.name));
    ASSERT_GE(b.size(), 4u) << f.name;
    EXPECT_EQ(Word(b, 0), f.magic) << f.name;
  }
  std::vector<uint8_t> base = testsupport::ReadFileBytes(Path("adas_base.krv"));
  ASSERT_EQ(base.size(), 28u);
  EXPECT_EQ(Word(base, 5), 0x13Fu);
  EXPECT_EQ(testsupport::ReadFileBytes(Path("adas_ldws.krv")).size(), 4u * (1 + 8 + 180 * 280));
  std::vector<uint8_t> apa = testsupport::ReadFileBytes(Path("adas_apa.krv"));
  ASSERT_EQ(apa.size(), 4u * (1 + 4 + 6 + 4));
  EXPECT_EQ(Word(apa, 1), 1059u);  // C59 first
  EXPECT_EQ(Word(apa, 5), 1u);     // then the table
  EXPECT_EQ(Word(apa, 11), 1055u); // C55 after it
  std::vector<uint8_t> mods = testsupport::ReadFileBytes(Path("adas_mods.krv"));
  EXPECT_EQ(Word(mods, 1), static_cast<uint32_t>(kCarL));  // C5 before C4
  EXPECT_EQ(Word(mods, 2), static_cast<uint32_t>(kCarW));

  ADASConfig back{};
  ASSERT_EQ(ADASConfig_Load(&back, dir_.c_str()), 1);
  EXPECT_EQ(back.C[kAdasEnableMask], 0x13F);
  EXPECT_EQ(back.C[kAdasDirtyPresent], 1);
  EXPECT_EQ(back.C[kAdasApaPresent], 0);  // written, never read
  EXPECT_EQ(back.apa.data, nullptr);
  for (int w : {2, 3, 4, 5, 9, 11, 18, 25, 29, 42, 43, 44, 69, 70, 71, 80, 81, 92, 95, 105, 108})
    EXPECT_EQ(back.C[w], cfg.C[w]) << "word " << w;
  EXPECT_TRUE(SameTable(back.ldws, cfg.ldws));
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(SameTable(back.bsds[k], cfg.bsds[k])) << k;
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(SameTable(back.mods[k], cfg.mods[k])) << k;
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(SameTable(back.rcta[k], cfg.rcta[k])) << k;
  EXPECT_TRUE(SameTable(back.lvsa, cfg.lvsa));
  ADASConfig_Free(&back);
  ADASConfig_Free(&cfg);
}

TEST_F(AdasConfigTest, SaveMaskSelectsFilesAndBecomesTheEnableMask) {
  Rig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS | kAdasBSDS);
  ASSERT_EQ(ADASConfig_Save(&cfg, dir_.c_str(), kAdasLDWS), 1);
  EXPECT_TRUE(std::filesystem::exists(Path("adas_ldws.krv")));
  EXPECT_FALSE(std::filesystem::exists(Path("adas_bsds.krv")));
  ADASConfig back{};
  ASSERT_EQ(ADASConfig_Load(&back, dir_.c_str()), 1);
  EXPECT_EQ(back.C[kAdasLdwsPresent], 1);
  EXPECT_EQ(back.C[kAdasBsdsPresent], 0);
  ADASConfig_Free(&back);

  // Not loaded: nothing written.
  ADASConfig empty{};
  std::filesystem::remove(Path("adas_base.krv"));
  EXPECT_EQ(ADASConfig_Save(&empty, dir_.c_str(), 0xFF), 1);
  EXPECT_FALSE(std::filesystem::exists(Path("adas_base.krv")));
  ADASConfig_Free(&cfg);
}

TEST_F(AdasConfigTest, SaveReportsAnUnwritableDirectory) {
  Rig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS);
  WriteWords(Path("plainfile"), {1});
  const std::string bad = Path("plainfile");  // a file, not a directory
  EXPECT_EQ(ADASConfig_Save(&cfg, bad.c_str(), kAdasLDWS), 0);
  ADASConfig_Free(&cfg);
}

TEST_F(AdasConfigTest, LoadRulesForMissingShortAndCorruptFiles) {
  // No base file.
  ADASConfig cfg{};
  EXPECT_EQ(ADASConfig_Load(&cfg, dir_.c_str()), 0);
  // Wrong magic.
  WriteWords(Path("adas_base.krv"), {0x06070102, 1, 2, 3, 4, 1, 15});
  EXPECT_EQ(ADASConfig_Load(&cfg, dir_.c_str()), 0);
  // Mask 1 without adas_ldws.krv: loaded, LDWS absent.
  WriteWords(Path("adas_base.krv"), {static_cast<int32_t>(kAdasBaseMagic), 1280, 960, 1900, 4600, 1, 7});
  EXPECT_EQ(ADASConfig_Load(&cfg, dir_.c_str()), 1);
  EXPECT_EQ(cfg.C[kAdasLdwsPresent], 0);
  EXPECT_EQ(cfg.C[kAdasCameraMask], 7);
  // Short base file: the missing mask words keep their defaults.
  ADASConfig shortCfg{};
  WriteWords(Path("adas_base.krv"), {static_cast<int32_t>(kAdasBaseMagic), 1280, 960, 1900, 4600});
  EXPECT_EQ(ADASConfig_Load(&shortCfg, dir_.c_str()), 1);
  EXPECT_EQ(shortCfg.C[kAdasEnableMask], 255);
  EXPECT_EQ(shortCfg.C[kAdasCameraMask], 15);
  EXPECT_EQ(shortCfg.C[kAdasCarLength], 4600);
  EXPECT_EQ(ADASConfig_ReadBaseValue(dir_.c_str()), 255);  // 20-byte file
  ADASConfig_Free(&shortCfg);

  // A frame no camera delivers: refused, the configuration as it was (its
  // offsets overflowed in the lane detector once).
  for (const auto& frame : {std::pair<int32_t, int32_t>{1073741888, 960}, {1280, kAdasMaxFrameSide + 1},
                            {-2, 960}, {1280, INT32_MIN}}) {
    WriteWords(Path("adas_base.krv"),
               {static_cast<int32_t>(kAdasBaseMagic), frame.first, frame.second, 1900, 4600, 1, 15});
    EXPECT_EQ(ADASConfig_Load(&cfg, dir_.c_str()), 0) << frame.first << " x " << frame.second;
    EXPECT_EQ(cfg.C[kAdasFrameWidth], 1280);
    EXPECT_EQ(cfg.C[kAdasFrameHeight], 960);
    EXPECT_EQ(cfg.C[kAdasCameraMask], 7);
  }

  // MODS file words overwrite the base's vehicle size; an RCTA file whose
  // table is larger than the file is refused and leaves RCTA absent.
  WriteWords(Path("adas_base.krv"), {static_cast<int32_t>(kAdasBaseMagic), 1280, 960, 1900, 4600, 4 | 16, 15});
  std::vector<int32_t> mods = {static_cast<int32_t>(kAdasModsMagic), 5000, 2000, 3000, 950, 50, 2, 1, 1, 1};
  for (int i = 0; i < 2 + 2 + 1 + 1; ++i) mods.push_back(100 + i);
  WriteWords(Path("adas_mods.krv"), mods);
  WriteWords(Path("adas_rcta.krv"), {static_cast<int32_t>(kAdasRctaMagic), 60, 63, 266, 13000, 1, 2, 3});
  ADASConfig mixed{};
  ASSERT_EQ(ADASConfig_Load(&mixed, dir_.c_str()), 1);
  EXPECT_EQ(mixed.C[kAdasModsPresent], 1);
  EXPECT_EQ(mixed.C[kAdasCarLength], 5000);
  EXPECT_EQ(mixed.C[kAdasCarWidth], 2000);
  EXPECT_EQ(mixed.C[kAdasWheelBase], 3000);
  EXPECT_EQ(mixed.mods[0].width, 2);
  EXPECT_EQ(mixed.mods[3].data[0], 105);
  EXPECT_EQ(mixed.C[kAdasRctaPresent], 0);
  EXPECT_EQ(mixed.rcta[0].data, nullptr);
  EXPECT_EQ(mixed.C[kAdasRctaCols], 0);  // the refused file's words are not kept
  ADASConfig_Free(&mixed);

  std::filesystem::remove(Path("adas_base.krv"));
  EXPECT_EQ(ADASConfig_ReadBaseValue(dir_.c_str()), 0);
  ADASConfig_Free(&cfg);
}

TEST_F(AdasConfigTest, CameraCoordinatesOnce) {
  ADASConfig cfg{};
  cfg.C[kAdasCameraCoords] = 1;
  cfg.C[kAdasLoaded] = 1;
  cfg.C[kAdasFrameWidth] = 1280;
  cfg.C[kAdasFrameHeight] = 960;
  ASSERT_TRUE(ImageI32_NewData(&cfg.ldws, 2, 1) && ImageI32_NewData(&cfg.mods[0], 1, 1));
  cfg.ldws.data[0] = static_cast<int32_t>(700u | (500u << 16));
  cfg.ldws.data[1] = 10 | (20 << 16);
  cfg.mods[0].data[0] = static_cast<int32_t>(650u | (30u << 16));
  ADASConfig_ToCameraCoords(&cfg);
  EXPECT_EQ(static_cast<uint32_t>(cfg.ldws.data[0]), 60u | (20u << 16) | (1u << 28) | (1u << 29));
  EXPECT_EQ(cfg.ldws.data[1], 10 | (20 << 16));
  EXPECT_EQ(cfg.mods[0].data[0], 10 | (30 << 16));
  EXPECT_EQ(cfg.C[kAdasCameraCoords], 0);
  ADASConfig_ToCameraCoords(&cfg);  // a second call changes nothing
  EXPECT_EQ(cfg.mods[0].data[0], 10 | (30 << 16));
  ADASConfig_Free(&cfg);
}

}  // namespace

// Hostile size words: near 2^31 their product wrapped negative and passed
// the length check, and the allocation aborted the process. Every such file
// leaves its function absent and the rest of the configuration loaded.
TEST_F(AdasConfigTest, HugeTableSizeWordsAreRefusedBeforeAllocating) {
  WriteWords(Path("adas_base.krv"), {static_cast<int32_t>(kAdasBaseMagic), 1280, 960, 1900, 4600, 1 | 16, 15});
  WriteWords(Path("adas_rcta.krv"), {static_cast<int32_t>(kAdasRctaMagic), 60, 3, 2, 13000, 1, 2, 3, 4, 5, 6, 7,
                                     8, 9, 10, 11, 12});
  struct Case {
    const char* what;
    int32_t cols, rows;
  } cases[] = {
      {"product wraps negative", 0x7FFFFFFF, 0x7FFFFFFF},
      {"product wraps to a small value", 0x40000000, 4},
      {"one side beyond a packed position", 65536, 0},
      {"negative side", -1, 4},
      {"larger than the file", 1000, 1000},
  };
  for (const Case& c : cases) {
    WriteWords(Path("adas_ldws.krv"), {static_cast<int32_t>(kAdasLdwsMagic), 1, 2, 3, 4, c.cols, c.rows, 7, 8, 1,
                                       2, 3, 4});
    ADASConfig cfg{};
    ASSERT_EQ(ADASConfig_Load(&cfg, dir_.c_str()), 1) << c.what;
    EXPECT_EQ(cfg.C[kAdasLdwsPresent], 0) << c.what;
    EXPECT_EQ(cfg.ldws.data, nullptr) << c.what;
    EXPECT_EQ(cfg.C[kAdasRctaPresent], 1) << c.what;
    EXPECT_EQ(cfg.rcta[1].data[5], 12) << c.what;
    ADASConfig_Free(&cfg);
  }
}

TEST_F(AdasConfigTest, EntriesOutsideTheFrameLoadAsEmpty) {
  Rig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS | kAdasBSDS | kAdasRCTA);
  const int32_t w = cfg.C[kAdasFrameWidth], h = cfg.C[kAdasFrameHeight];
  const int32_t keep = cfg.ldws.data[5];
  cfg.ldws.data[0] = static_cast<int32_t>(static_cast<uint32_t>(w) | (3u << 16));        // column one past
  cfg.ldws.data[1] = static_cast<int32_t>(2u | (static_cast<uint32_t>(h) << 16));        // row one past
  cfg.bsds[1].data[0] = -1;                                                             // negative row
  cfg.rcta[0].data[0] = static_cast<int32_t>(static_cast<uint32_t>(w - 1) | (static_cast<uint32_t>(h - 1) << 16));
  ASSERT_EQ(ADASConfig_Save(&cfg, dir_.c_str(), kAdasLDWS | kAdasBSDS | kAdasRCTA), 1);
  ADASConfig back{};
  ASSERT_EQ(ADASConfig_Load(&back, dir_.c_str()), 1);
  EXPECT_EQ(back.ldws.data[0], 0);
  EXPECT_EQ(back.ldws.data[1], 0);
  EXPECT_EQ(back.ldws.data[5], keep);
  EXPECT_EQ(back.bsds[1].data[0], 0);
  EXPECT_EQ(back.rcta[0].data[0], cfg.rcta[0].data[0]);  // the last pixel is inside
  ADASConfig_Free(&back);
  ADASConfig_Free(&cfg);
}
