#include "camera/lut_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "camera/rotation.h"
#include "calibration/solve/block_calib.h"
#include "frame/global_variables.h"
#include "frame/data_directory.h"
#include "testsupport/file_bytes.h"

namespace {

std::string TempDir() {
  std::string d = "/tmp/lutcfg_" + std::to_string(getpid());
  mkdir(d.c_str(), 0755);
  return d;
}

long FileSize(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void WriteAll(const std::string& p, const std::vector<uint8_t>& v) {
  FILE* f = fopen(p.c_str(), "wb");
  fwrite(v.data(), 1, v.size(), f);
  fclose(f);
}

int32_t WordAt(const std::vector<uint8_t>& v, long off) {
  int32_t w;
  memcpy(&w, &v[static_cast<size_t>(off)], 4);
  return w;
}

// A file content with every field distinct, for M points per camera.
struct Fixture {
  LutConfigFileData d{};
  std::vector<float> image[4], world[4];
  Fixture(int m) {
    d.carWidth = 1800;
    d.carLength = 4600;
    d.carBoxParam = 1200;
    d.model = 3;
    for (int c = 0; c < 4; ++c) d.lensSlot[c] = c % 2;
    d.viewRange = 2000;
    d.extraValue = 50;
    d.groupNumber = 2;
    d.splitLength = 777;
    for (int c = 0; c < 4; ++c) d.cornerCount[c] = 20 + c;
    for (int c = 0; c < 4; ++c) {
      image[c].resize(2 * m);
      world[c].resize(3 * m);
      for (int i = 0; i < 2 * m; ++i) image[c][i] = 1000.0f * c + i + 0.25f;
      for (int i = 0; i < 3 * m; ++i) world[c][i] = -1000.0f * c - i - 0.5f;
      d.image[c] = image[c].data();
      d.world[c] = world[c].data();
    }
    float* p = &d.params.K[0][0];
    for (size_t i = 0; i < sizeof(CameraParamSet) / 4; ++i) p[i] = 0.5f * i + 1.0f;
    d.quadWidth = 1280;
    d.quadHeight = 720;
    d.frontOverhang = 900;
    d.wheelBase = 2700;
    for (int i = 0; i < 4; ++i) d.seamAngles[i] = 40.0f + i;
    d.frontBlendWidth = 30;
    d.rearBlendWidth = 45;
    for (int i = 0; i < 4; ++i) d.bandSizes[i] = 100 + i;
    d.extraParam = 9;
  }
};

class LutConfigFileTest : public ::testing::Test {
 protected:
  std::string dir = TempDir();
  std::string path = dir + "/lut_config.krv";
  GlobalVariables saved = gv();
  void TearDown() override {
    unlink(path.c_str());
    unlink((dir + "/lut_config_base.krv").c_str());
    rmdir(dir.c_str());
    gv() = saved;
    SetDataDirectory(kDefaultDataDirectory);
  }
};

TEST_F(LutConfigFileTest, WrittenFileReadsBackFieldForField) {
  struct Counts {
    int n, m;
    long size, paramSet, quadWidth;
  } cases[] = {{43, 59, 496 + 80 * 59, 68 + 80 * 43, 436 + 80 * 43},
               {30, 40, 3696, 2468, 2836},
               {0, 0, 496, 68, 436}};
  for (const Counts& k : cases) {
    Fixture fx(k.m);
    ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, k.n, k.m));
    ASSERT_EQ(FileSize(path), k.size);
    std::vector<uint8_t> raw = testsupport::ReadFileBytes(path);
    EXPECT_EQ(static_cast<uint32_t>(WordAt(raw, 0)), kLutConfigMagic);
    EXPECT_EQ(WordAt(raw, k.quadWidth), 1280);
    float k0;
    memcpy(&k0, &raw[static_cast<size_t>(k.paramSet)], 4);
    EXPECT_EQ(k0, 1.0f);
    EXPECT_EQ(WordAt(raw, 468 + 80 * k.m), 30);  // front blend width
    EXPECT_EQ(WordAt(raw, 492 + 80 * k.m), 9);   // extraParam, the last word

    LutConfigInfo info;
    CameraParamSet ps;
    LutConfigPoints pts;
    ASSERT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), &pts, k.n, k.m), 1);
    EXPECT_EQ(info.quadWidth, 1280u);
    EXPECT_EQ(info.quadHeight, 720u);
    EXPECT_EQ(info.carWidth, 1800u);
    EXPECT_EQ(info.carLength, 4600u);
    EXPECT_EQ(info.carBoxParam, 1200u);
    EXPECT_EQ(info.frontOverhang, 900u);
    EXPECT_EQ(info.wheelBase, 2700u);
    EXPECT_EQ(info.model, 3u);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(info.lensSlot[c], static_cast<uint32_t>(c % 2));
    EXPECT_EQ(info.viewRange, 2000u);
    EXPECT_EQ(info.extraValue, 50u);
    EXPECT_EQ(info.groupNumber, 2u);
    EXPECT_EQ(info.splitLength, 777u);
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(info.cornerCount[c], static_cast<uint32_t>(std::min(20 + c, k.m)));
    for (int c = 0; c < 4; ++c) EXPECT_EQ(info.bandSizes[c], 100u + c);
    EXPECT_EQ(info.extraParam, 9u);
    EXPECT_EQ(memcmp(&ps, &fx.d.params, sizeof ps), 0);
    for (int c = 0; c < 4; ++c) {
      for (int i = 0; i < 2 * k.n; ++i) EXPECT_EQ(pts.image[c][i / 2][i % 2], fx.image[c][i]);
      for (int i = 0; i < 3 * k.n; ++i) EXPECT_EQ(pts.world[c][i / 3][i % 3], fx.world[c][i]);
    }
    // The further points N..M-1 lie where the layout puts them.
    if (k.m > k.n) {
      float v;
      memcpy(&v, &raw[static_cast<size_t>(468 + 80 * k.n)], 4);
      EXPECT_EQ(v, fx.image[0][2 * k.n]);
      memcpy(&v, &raw[static_cast<size_t>(468 + 48 * k.n + 32 * k.m)], 4);
      EXPECT_EQ(v, fx.world[0][3 * k.n]);
    }
  }
}

TEST_F(LutConfigFileTest, NamedReaderUsesConfiguredCounts) {
  gv().pointsPerCamera = 30;
  gv().maxPoints = 40;
  Fixture fx(40);
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 30, 40));
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(LoadLUTConfig(&info, &ps, path.c_str(), nullptr), 1);
  EXPECT_EQ(info.quadWidth, 1280u);
  EXPECT_EQ(info.extraParam, 9u);
}

TEST_F(LutConfigFileTest, BadFilesAreRefusedAndOutputsUntouched) {
  Fixture fx(59);
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
  const std::vector<uint8_t> good = testsupport::ReadFileBytes(path);
  struct Case {
    const char* what;
    size_t keep;  // bytes kept; 0 = all
    bool badMagic;
  } cases[] = {
      {"wrong magic", 0, true},
      {"empty", 1, false},
      {"header only", 60, false},
      {"ends in the points", 68 + 80 * 20, false},
      {"ends in the parameters", 68 + 80 * 43 + 100, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> v = good;
    if (c.badMagic) v[0] ^= 0xFF;
    if (c.keep) v.resize(c.keep - (c.keep == 1 ? 1 : 0));
    WriteAll(path, v);
    LutConfigInfo info;
    memset(&info, 0xAB, sizeof info);
    CameraParamSet ps;
    memset(&ps, 0xCD, sizeof ps);
    LutConfigPoints pts;
    memset(&pts, 0xEF, sizeof pts);
    EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), &pts, 43, 59), 0) << c.what;
    EXPECT_EQ(info.carWidth, 0xABABABABu) << c.what;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&ps)[0], 0xCD) << c.what;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&pts)[0], 0xEF) << c.what;
  }
  LutConfigInfo info;
  CameraParamSet ps;
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, (dir + "/missing.krv").c_str(), nullptr, 43, 59), 0);
}

// The words later formulas use (blind area, overhang, camera and band
// sizes) are range-checked when read: a file with one outside is refused
// and the outputs keep their values.
TEST_F(LutConfigFileTest, WordsOutOfRangeRefuseTheFile) {
  LutConfigLayout lay;
  ASSERT_TRUE(LutConfigLayout_Make(43, 59, &lay));
  struct Case {
    const char* what;
    long offset;
    int32_t value;
  } cases[] = {
      {"carWidth near 2^31", 4, 0x7FFFFFF0},
      {"negative carWidth", 4, -1},
      {"carLength beyond 100 m", 8, kLutConfigMaxMm + 1},
      {"negative carBoxParam", 12, INT32_MIN},
      {"quadWidth beyond 32768", lay.quadWidth, 32770},
      {"negative quadHeight", lay.quadHeight, -2},
      {"quadWidth 0", lay.quadWidth, 0},
      {"quadHeight 0", lay.quadHeight, 0},
      {"quadHeight 1", lay.quadHeight, 1},
      {"front overhang below -100 m", lay.frontOverhang, -kLutConfigMaxMm - 1},
      {"bottom band near 2^31", lay.bandSizes + 4, 0x7FFFFFFF},
      {"negative right band", lay.bandSizes + 12, -1},
  };
  for (const Case& c : cases) {
    Fixture fx(59);
    ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
    std::vector<uint8_t> v = testsupport::ReadFileBytes(path);
    memcpy(&v[static_cast<size_t>(c.offset)], &c.value, 4);
    WriteAll(path, v);
    LutConfigInfo info;
    memset(&info, 0xAB, sizeof info);
    CameraParamSet ps;
    EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 43, 59), 0) << c.what;
    EXPECT_EQ(info.carWidth, 0xABABABABu) << c.what;
  }
  // The ends of the ranges are accepted.
  Fixture fx(59);
  fx.d.carWidth = 0;
  fx.d.carLength = kLutConfigMaxMm;
  fx.d.frontOverhang = -kLutConfigMaxMm;
  fx.d.quadWidth = static_cast<int32_t>(kLutConfigMaxQuadSide);
  fx.d.bandSizes[1] = static_cast<int32_t>(kLutConfigMaxBandSize);
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 43, 59), 1);
  EXPECT_EQ(info.quadWidth, kLutConfigMaxQuadSide);
}

TEST_F(LutConfigFileTest, FileEndingAfterTheParametersKeepsDefaults) {
  Fixture fx(59);
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
  std::vector<uint8_t> v = testsupport::ReadFileBytes(path);
  v.resize(436 + 80 * 43);
  WriteAll(path, v);
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 43, 59), 1);
  EXPECT_EQ(info.quadWidth, 1440u);
  EXPECT_EQ(info.quadHeight, 1152u);
  EXPECT_EQ(info.frontOverhang, 500u);
  EXPECT_EQ(info.wheelBase, 3000u);
  EXPECT_EQ(info.bandSizes[0], 0u);
  EXPECT_EQ(info.extraParam, 0u);
  EXPECT_EQ(memcmp(&ps, &fx.d.params, sizeof ps), 0);
}

TEST_F(LutConfigFileTest, CountsBeyondTheBuffersAreRefusedOrClamped) {
  Fixture fx(59);
  fx.d.cornerCount[0] = 1000;
  fx.d.cornerCount[1] = -5;
  fx.d.wheelBase = 25001;
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
  LutConfigInfo info;
  CameraParamSet ps;
  LutConfigPoints pts;
  ASSERT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), &pts, 43, 59), 1);
  EXPECT_EQ(info.cornerCount[0], 59u);
  EXPECT_EQ(info.cornerCount[1], 0u);
  EXPECT_EQ(info.wheelBase, 3000u);

  // N beyond the 43-point buffer: refused with a buffer, read without one.
  Fixture big(50);
  ASSERT_TRUE(LutConfigFile_Write(path.c_str(), big.d, 44, 50));
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), &pts, 44, 50), 0);
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 44, 50), 1);
  // Impossible configured counts.
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 10, 5), 0);
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, -1, 5), 0);
  EXPECT_EQ(LoadLUTConfigCounts(&info, &ps, path.c_str(), nullptr, 43, 1 << 30), 0);
  EXPECT_FALSE(LutConfigFile_Write(path.c_str(), big.d, 50, 44));
}

TEST_F(LutConfigFileTest, BaseFileSizeOfTheDataDirectory) {
  ASSERT_TRUE(SetDataDirectory(dir.c_str()));
  int32_t a = -1, b = -1;
  LutConfigBase_GetSize(&a, &b);  // missing: nothing written
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);
  Fixture fx(59);
  ASSERT_TRUE(LutConfigFile_Write((dir + "/lut_config_base.krv").c_str(), fx.d, 43, 59));
  LutConfigBase_GetSize(&a, nullptr);
  EXPECT_EQ(a, 4600);
  LutConfigBase_GetSize(nullptr, &b);
  EXPECT_EQ(b, 1800);
}

TEST_F(LutConfigFileTest, WriterReportsFailure) {
  Fixture fx(59);
  EXPECT_FALSE(LutConfigFile_Write((dir + "/no/such/dir.krv").c_str(), fx.d, 43, 59));
}

class LutConfigInitTest : public ::testing::Test {
 protected:
  GlobalVariables saved = gv();
  LutConfig cfg{};
  void SetUp() override {
    GlobalVariables& g = gv();
    g.CalibLayoutCode = 3;
    g.f0 = 2000;
    g.f3 = 350;
    g.f5 = 600;
    g.f6 = 0;
    g.place0 = 6000;
    g.place1 = 9000;
    g.place2 = 1200;
    g.place3 = g.place4 = 1000;
    g.place5 = g.place6 = 1100;
    for (int i = 0; i < 4; ++i) g.f20_23[i] = 0;
    g.extraConfig.derivedSizePercent = 50;
  }
  void TearDown() override {
    LutConfig_Release(&cfg, 1);
    gv() = saved;
  }
};

TEST_F(LutConfigInitTest, OverhangAndWheelBaseRules) {
  struct Case {
    int32_t overhang, wheelBase, wantWheelBase;
    bool replaced;
  } cases[] = {{500, 25000, 25000, true}, {501, 25001, 3000, false}, {0, 0, 3000, true},
               {900, -4, 3000, false}};
  for (const Case& c : cases) {
    LutConfig_Init(&cfg, 1800, 4600, 0, c.overhang, c.wheelBase, 3, 0, 7, 0);
    EXPECT_EQ(cfg.wheelBase, c.wantWheelBase);
    if (c.replaced)
      EXPECT_EQ(cfg.frontOverhang, (4600 - c.wantWheelBase) / 2);
    else
      EXPECT_EQ(cfg.frontOverhang, c.overhang);
    EXPECT_EQ(cfg.extraParam, 7);
  }
}

// Values no file accepts can still come from callers and the board
// configuration: the blind-area and overhang arithmetic neither overflows
// nor converts out of range (a zero car width makes a zero scale), and no
// maps are made for outputs beyond the largest accepted.
TEST_F(LutConfigInitTest, ExtremeValuesNeitherOverflowNorAllocate) {
  GlobalVariables& g = gv();
  struct Case {
    const char* what;
    int32_t code, carWidth, carLength, place, offset, range;
  } cases[] = {
      {"layout 0, offsets near 2^31", 0, INT32_MAX, INT32_MAX, 0, INT32_MAX, 2000},
      {"layout 3, places near -2^31", 3, 1800, 4600, INT32_MIN, INT32_MAX, 2000},
      {"zero car width and view range: scale 0", 0, 0, 4600, 0, 0, 0},
      {"view range near 2^31", 0, 1800, 4600, 0, 0, INT32_MAX},
      {"negative sizes", 0, INT32_MIN, INT32_MIN, 0, INT32_MIN, INT32_MIN},
  };
  for (const Case& c : cases) {
    SetUp();
    g.CalibLayoutCode = c.code;
    g.place0 = g.place1 = g.place3 = g.place4 = g.place5 = g.place6 = c.place;
    for (int i = 0; i < 4; ++i) g.f20_23[i] = c.offset;
    g.f0 = c.range;
    LutConfig_Init(&cfg, c.carWidth, c.carLength, 0, 0, 2850, 3, 1, 0, 0);
    LutConfig_Release(&cfg, 1);
  }
  SetUp();
  g.f3 = 4096;
  g.f5 = 4096;
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2850, 3, 1, 0, 0);
  EXPECT_EQ(cfg.X1.data, nullptr);
  EXPECT_EQ(cfg.groundTable.data, nullptr);
}

TEST_F(LutConfigInitTest, BlindAreaFromLayoutAndGroundTable) {
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2700, 4, 1, 0, 0);
  // Code 3: W = 6000 - 1100 - 1100, H = 9000 - 1000 - 1000.
  EXPECT_EQ(cfg.carWidth, 3800);
  EXPECT_EQ(cfg.carLength, 7000);
  EXPECT_EQ(cfg.carBoxParam, 1200);
  const GlobalVariables& g = gv();
  EXPECT_GT(g.f4, 0);
  EXPECT_EQ(g.f4 % 4, 0);
  EXPECT_EQ(cfg.carRect[0], (350 - g.f4) / 2);
  EXPECT_EQ(cfg.carRect[1], cfg.carRect[0] + g.f4);
  EXPECT_EQ(cfg.carRect[2], 350);
  EXPECT_EQ(cfg.carRect[3], g.f6);
  EXPECT_EQ(cfg.carBox[3] % 2, 0);
  EXPECT_EQ(cfg.carRect[4], g.f6 + cfg.carBox[3]);
  EXPECT_EQ(cfg.outHeight, 600);
  EXPECT_FLOAT_EQ(cfg.mmPerPixel, 3800.0f / g.f4);
  EXPECT_EQ(cfg.viewRange, 2000);
  EXPECT_EQ(cfg.extraValue, 50);
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(LutConfig_GetCameraModel(&cfg, c), 4u);
  EXPECT_EQ(LutConfig_GetCameraModel(&cfg, 0), 0u);
  EXPECT_EQ(LutConfig_GetCameraModel(&cfg, 5), 0u);

  ASSERT_NE(cfg.groundTable.data, nullptr);
  ASSERT_NE(cfg.W3.data, nullptr);
  EXPECT_EQ(cfg.groundTable.rows, 350 * 600);
  EXPECT_EQ(cfg.X1.data[123], 0.0f);
  // The car rectangle's centre is the ground origin.
  const float cx = cfg.carRect[0] + (g.f4 - 1) * 0.5f + 0.5f;
  const float* p = cfg.groundTable.data + 3 * (10 * 350 + 7);
  EXPECT_FLOAT_EQ(p[0], (7 - cx) * cfg.mmPerPixel);
  EXPECT_EQ(p[2], 0.0f);
  const float* q = cfg.groundTable.data + 3 * (static_cast<long>(cfg.carRect[3]) * 350 + cfg.carRect[0]);
  EXPECT_NEAR(q[0], -3800.0f / 2, 1e-2f);  // the car's left edge
  EXPECT_NEAR(q[1], -cfg.carBox[3] * cfg.mmPerPixel / 2, 1e-2f);
}

TEST_F(LutConfigInitTest, BlockLayoutsTakeTheMeasuredBlindArea) {
  GlobalVariables& g = gv();
  g.f20_23[0] = 10;
  g.f20_23[1] = 20;
  g.f20_23[2] = 30;
  g.f20_23[3] = 40;
  g.CalibLayoutCode = 29;
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2700, 1, 0, 0, 0);
  EXPECT_EQ(cfg.carWidth, 1800);  // no block calibration yet
  EXPECT_EQ(cfg.carLength, 4600);
  g.blockCalib4 = new BlockCalib4();
  g.blockCalib4->lengthTerm = 4321.7f;
  g.blockCalib4->widthTerm = 1777.2f;
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2700, 1, 0, 0, 0);
  EXPECT_EQ(cfg.carLength, 10 + 20 + 4321);
  EXPECT_EQ(cfg.carWidth, 30 + 40 + 1777);
  EXPECT_EQ(cfg.carBoxParam, 1200);
  g.CalibLayoutCode = 52;
  g.blockCalib6 = new BlockCalib6();
  g.blockCalib6->lengthTerm = 5000.0f;
  g.blockCalib6->widthTerm = 2000.0f;
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2700, 1, 0, 0, 0);
  EXPECT_EQ(cfg.carLength, 5030);
  EXPECT_EQ(cfg.carWidth, 2070);
  delete g.blockCalib4;
  delete g.blockCalib6;
  g.blockCalib4 = nullptr;
  g.blockCalib6 = nullptr;
}

TEST_F(LutConfigInitTest, LayoutOneClearsGapsAndSetsSmallBoards) {
  GlobalVariables& g = gv();
  g.CalibLayoutCode = 1;
  g.boardCols12 = 8;
  g.boardRows12 = 6;
  g.targetDimA = 200;
  g.f20_23[0] = 50;
  LutConfig_Init(&cfg, 1800, 4600, 0, 900, 2700, 1, 0, 0, 0);
  EXPECT_EQ(cfg.carBoxParam, 1200);
  EXPECT_EQ(g.boardKind1, 1);
  EXPECT_EQ(g.boardKind34, 1);
  EXPECT_EQ(g.place3, 0);
  EXPECT_EQ(g.f20_23[0], 0);
  EXPECT_EQ(cfg.carWidth, 1800);  // codes 1, 2, 24 keep the caller's size
  EXPECT_EQ(cfg.carLength, 4600);
}

class ModLutConfigTest : public LutConfigFileTest {
 protected:
  std::vector<uint8_t> original;
  void WriteFixture() {
    Fixture fx(59);
    ASSERT_TRUE(LutConfigFile_Write(path.c_str(), fx.d, 43, 59));
    original = testsupport::ReadFileBytes(path);
  }
  // Byte offsets where the file now differs from the fixture.
  std::vector<long> Changed() {
    std::vector<uint8_t> now = testsupport::ReadFileBytes(path);
    EXPECT_EQ(now.size(), original.size());
    std::vector<long> diff;
    for (size_t i = 0; i < now.size() && i < original.size(); ++i)
      if (now[i] != original[i]) diff.push_back(static_cast<long>(i));
    return diff;
  }
  float FloatAt(long off) {
    std::vector<uint8_t> now = testsupport::ReadFileBytes(path);
    float v;
    memcpy(&v, &now[static_cast<size_t>(off)], 4);
    return v;
  }
};

TEST_F(ModLutConfigTest, NoChangeValuesLeaveEveryByte) {
  WriteFixture();
  EXPECT_EQ(ModLUTConfigFile(path.c_str(), -1, -1, -1, 0, nullptr, nullptr, nullptr, 0), 1);
  EXPECT_TRUE(Changed().empty());
}

TEST_F(ModLutConfigTest, ScalarsChangeExactlyTheirWords) {
  WriteFixture();
  ASSERT_EQ(ModLUTConfigFile(path.c_str(), 1234, -1, 555, 0, nullptr, nullptr, nullptr, 0), 1);
  for (long off : Changed()) {
    const bool overhang = off >= 444 + 80 * 43 && off < 448 + 80 * 43;
    const bool split = off >= 48 && off < 52;
    EXPECT_TRUE(overhang || split) << off;
  }
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(LoadLUTConfig(&info, &ps, path.c_str(), nullptr), 1);
  EXPECT_EQ(info.frontOverhang, 1234u);
  EXPECT_EQ(info.wheelBase, 2700u);
  EXPECT_EQ(info.splitLength, 555u);
  ASSERT_EQ(ModLUTConfigFile(path.c_str(), -1, 2900, -1, 0, nullptr, nullptr, nullptr, 0), 1);
  ASSERT_EQ(LoadLUTConfig(&info, &ps, path.c_str(), nullptr), 1);
  EXPECT_EQ(info.wheelBase, 2900u);
}

TEST_F(ModLutConfigTest, PoseReplacementAndCentreReset) {
  WriteFixture();
  float rot[12], pos[12];
  for (int i = 0; i < 12; ++i) {
    rot[i] = 0.01f * i;
    pos[i] = 100.0f + i;
  }
  ASSERT_EQ(ModLUTConfigFile(path.c_str(), -1, -1, -1, 1, rot, pos, nullptr, 1), 1);
  const long ps0 = 68 + 80 * 43;
  for (long off : Changed()) EXPECT_TRUE(off >= ps0 && off < ps0 + 368) << off;
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(LoadLUTConfig(&info, &ps, path.c_str(), nullptr), 1);
  Fixture fx(59);
  for (int c = 0; c < 4; ++c) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(ps.R[c][i], rot[3 * c + i]);
      EXPECT_EQ(ps.T[c][i], pos[3 * c + i]);
    }
    EXPECT_EQ(ps.K[c][2], 1280 * 0.25f);
    EXPECT_EQ(ps.K[c][5], 720 * 0.25f);
    EXPECT_EQ(ps.K[c][0], fx.d.params.K[c][0]);
    EXPECT_EQ(memcmp(ps.D[c], fx.d.params.D[c], sizeof ps.D[c]), 0);
  }
}

TEST_F(ModLutConfigTest, PoseAdjustmentTurnsAndMoves) {
  WriteFixture();
  LutConfigInfo info;
  CameraParamSet before, after;
  ASSERT_EQ(LoadLUTConfig(&info, &before, path.c_str(), nullptr), 1);
  float angles[12] = {0}, moves[12] = {0};
  angles[3 * 2 + 2] = 0.1f;  // camera 3 turns about z
  moves[3 * 1 + 0] = 25.0f;  // camera 2 moves along x
  ASSERT_EQ(ModLUTConfigFile(path.c_str(), -1, -1, -1, 2, angles, moves, nullptr, 0), 1);
  ASSERT_EQ(LoadLUTConfig(&info, &after, path.c_str(), nullptr), 1);
  EXPECT_FLOAT_EQ(after.T[1][0], before.T[1][0] + 25.0f);
  EXPECT_EQ(after.T[0][0], before.T[0][0]);
  // Zero angles keep the rotation (the vector may come back in another
  // but equivalent form).
  float m0[9], m1[9];
  RodriguesArr(before.R[0], m0, nullptr);
  RodriguesArr(after.R[0], m1, nullptr);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(m1[i], m0[i], 1e-4f);
  float expect[3];
  RotationVec_ApplyAngles(before.R[2], &angles[6], expect);
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(after.R[2][i], expect[i]);
}

TEST_F(ModLutConfigTest, ApplyAnglesComposesRotations) {
  const float zero[3] = {0, 0, 0};
  struct Case {
    float a[3];
    float want[3];
  } cases[] = {{{0.2f, 0, 0}, {0.2f, 0, 0}}, {{0, 0.3f, 0}, {0, 0.3f, 0}}, {{0, 0, -0.4f}, {0, 0, -0.4f}}};
  for (const Case& c : cases) {
    float out[3];
    RotationVec_ApplyAngles(zero, c.a, out);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(out[i], c.want[i], 1e-6f);
  }
  // Turning about the same axis adds the angles.
  const float r[3] = {0, 0, 0.5f};
  const float a[3] = {0, 0, 0.25f};
  float out[3];
  RotationVec_ApplyAngles(r, a, out);
  EXPECT_NEAR(out[2], 0.75f, 1e-6f);
}

TEST_F(ModLutConfigTest, WorldPointsFromTheFortyThreePointBlocks) {
  WriteFixture();
  std::vector<float> world(4 * 43 * 3);
  for (size_t i = 0; i < world.size(); ++i) world[i] = 7.0f + i;
  ASSERT_EQ(ModLUTConfigFile(path.c_str(), -1, -1, -1, 0, nullptr, nullptr, world.data(), 0), 1);
  for (long off : Changed()) EXPECT_TRUE(off >= 68 + 32 * 43 && off < 68 + 80 * 43) << off;
  EXPECT_EQ(FloatAt(68 + 32 * 43), 7.0f);
  EXPECT_EQ(FloatAt(68 + 32 * 43 + 12 * 43), 7.0f + 129);  // camera 2 starts at its block
}

TEST_F(ModLutConfigTest, ForeignShortOrMissingFilesAreLeftAlone) {
  EXPECT_EQ(ModLUTConfigFile((dir + "/missing.krv").c_str(), 1, 1, 1, 0, nullptr, nullptr, nullptr, 0), 0);
  WriteFixture();
  std::vector<uint8_t> bad = original;
  bad[1] ^= 0x40;
  WriteAll(path, bad);
  EXPECT_EQ(ModLUTConfigFile(path.c_str(), 1, 1, 1, 0, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(testsupport::ReadFileBytes(path), bad);
  std::vector<uint8_t> shortFile(original.begin(), original.begin() + 2000);
  WriteAll(path, shortFile);
  EXPECT_EQ(ModLUTConfigFile(path.c_str(), 1, 1, 1, 0, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(testsupport::ReadFileBytes(path), shortFile);
  WriteAll(path, original);
  EXPECT_EQ(ModLUTConfigFile(path.c_str(), -1, -1, -1, 2, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(testsupport::ReadFileBytes(path), original);
}

}  // namespace
