#include "surround/mab_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "surround/dyn_alpha.h"
#include "frame/global_variables.h"
#include "testsupport/config_state.h"
#include "testsupport/file_bytes.h"

namespace {

// Hand-made stitched maps: W x H output, camera size 100 x 80, bands
// top/bottom 10 rows, left/right 8 columns. Every pixel starts as a gap
// (W1 = 1, first source in camera 1 but outside its box).
struct Maps {
  int W, H;
  std::vector<float> x1, y1, x2, y2, w1, w2;
  Matrix mx1, my1, mx2, my2, mw1, mw2;
  StitchMaps maps{};

  Maps(int w, int h) : W(w), H(h) {
    const size_t n = static_cast<size_t>(W) * H;
    x1.assign(n, 10.0f);
    y1.assign(n, 10.0f);
    x2.assign(n, 10.0f);
    y2.assign(n, 10.0f);
    w1.assign(n, 1.0f);
    w2.assign(n, 0.0f);
    mx1 = Matrix{W, H, x1.data()};
    my1 = Matrix{W, H, y1.data()};
    mx2 = Matrix{W, H, x2.data()};
    my2 = Matrix{W, H, y2.data()};
    mw1 = Matrix{W, H, w1.data()};
    mw2 = Matrix{W, H, w2.data()};
    maps.camW = 100;
    maps.camH = 80;
    maps.bandSizes[0] = 10;
    maps.bandSizes[1] = 10;
    maps.bandSizes[2] = 8;
    maps.bandSizes[3] = 8;
    maps.X1 = &mx1;
    maps.Y1 = &my1;
    maps.X2 = &mx2;
    maps.Y2 = &my2;
    maps.W1 = &mw1;
    maps.W2 = &mw2;
  }
  size_t I(int r, int c) const { return static_cast<size_t>(r) * W + c; }
  // Quad-frame point inside camera k (1..4).
  static void Source(int k, float* x, float* y) {
    *x = (k == 2 || k == 4) ? 150.0f : 50.0f;
    *y = k >= 3 ? 120.0f : 40.0f;
  }
  void Single(int r, int c, int k) {
    Source(k, &x1[I(r, c)], &y1[I(r, c)]);
    w1[I(r, c)] = 1.0f;
  }
  void Blend(int r, int c, int k1, int k2, float w) {
    Source(k1, &x1[I(r, c)], &y1[I(r, c)]);
    Source(k2, &x2[I(r, c)], &y2[I(r, c)]);
    w1[I(r, c)] = w;
  }
};

void WriteAll(const std::string& p, const std::vector<uint8_t>& v) {
  FILE* f = fopen(p.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(v.data(), 1, v.size(), f);
  fclose(f);
}

uint32_t U32(const std::vector<uint8_t>& b, size_t off) {
  uint32_t v;
  memcpy(&v, &b[off], 4);
  return v;
}

// Unpacks (weight code, W2 code) of pixel (r, c) from a weight map.
void Unpack(const std::vector<uint8_t>& map, int W, int r, int c, int* k, int* a) {
  const uint8_t* p = &map[MAB_WeightMapRowStart(W, r) + static_cast<size_t>(c / 2) * 3];
  if ((c & 1) == 0) {
    *k = ((p[0] & 1) << 4) | (p[2] >> 4);
    *a = p[0] >> 1;
  } else {
    *k = ((p[1] & 1) << 4) | (p[2] & 15);
    *a = p[1] >> 1;
  }
}

class MabFileTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* name) { return dir_ + "/" + name; }
};

TEST_F(MabFileTest, RunsFollowTheClassificationRules) {
  Maps m(32, 30);
  // Row 0: cameras 1 and 3 side by side, a gap, a blend of seams 0 then 1.
  for (int c = 0; c < 4; ++c) m.Single(0, c, 3);   // columns 0-3 inside camera 3's box (left 8)
  for (int c = 4; c < 8; ++c) m.Single(0, c, 1);   // camera 1 (top band)
  // column 8: gap (W1 = 1, camera 1 source but... inside box: top band) -> make it a real gap
  m.Single(0, 8, 2);                               // camera 2 outside its box: gap, code 31
  m.Blend(0, 9, 1, 3, 0.25f);                       // seam 0 needs both inside: camera 3 box is c < 8 -> not in2
  for (int c = 10; c < 14; ++c) m.Blend(0, c, 1, 1, 0.5f);  // both in camera 1's box: seam 3
  // Row 2: blend pixels of different seams stay in one run (of the first).
  for (int c = 0; c < 3; ++c) m.Blend(2, c, 1, 3, 0.5f);  // seam 0 (c < 8 and r < 10)
  for (int c = 3; c < 6; ++c) m.Blend(2, c, 3, 1, 0.5f);  // pair (3, 1): also seam 0 - use seam 3 instead
  for (int c = 3; c < 6; ++c) m.Blend(2, c, 1, 1, 0.5f);  // seam 3
  MABTables t;
  std::vector<uint8_t> map(MAB_WeightMapBytes(m.W, m.H));
  ASSERT_EQ(BuildMABTables(m.maps, &t, map.data(), 0, m.H), 0);

  auto has = [](const std::vector<CPUStitchRun>& v, int r, int c, int len) {
    for (const CPUStitchRun& x : v)
      if (x.row == r && x.col == c && x.length == len) return true;
    return false;
  };
  EXPECT_TRUE(has(t.camera[2], 0, 0, 4));
  EXPECT_TRUE(has(t.camera[0], 0, 4, 4));
  // Column 9: in1 only (camera 3's box ends at 8) -> camera 1 pixel weight 1,
  // joining nothing (the gap at 8 closed the run).
  EXPECT_TRUE(has(t.camera[0], 0, 9, 1));
  EXPECT_TRUE(has(t.seam[3], 0, 10, 4));
  EXPECT_TRUE(has(t.seam[0], 2, 0, 6));  // one run across the seam change
  EXPECT_TRUE(t.seam[3].size() == 1u);

  // The gap at (0, 8) stores weight code 31 though it belongs to no run.
  int k, a;
  Unpack(map, m.W, 0, 8, &k, &a);
  EXPECT_EQ(k, 31);
  // Blend weight: pair led by camera 1 stores w (0.5 -> 16).
  Unpack(map, m.W, 2, 1, &k, &a);
  EXPECT_EQ(k, 16);
}

TEST_F(MabFileTest, RowsWithManyRunsKeepEveryRun) {
  // Every row alternates cameras 1 and 3 column by column inside the corner:
  // far more runs than rows, all kept.
  Maps m(16, 12);
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 8; ++c) m.Single(r, c, (c & 1) ? 1 : 3);
  MABTables t;
  std::vector<uint8_t> map(MAB_WeightMapBytes(m.W, m.H));
  BuildMABTables(m.maps, &t, map.data(), 0, m.H);
  EXPECT_EQ(t.camera[0].size() + t.camera[2].size(), 80u);
  ASSERT_EQ(GenerateMABFileFromMaps(m.maps, Path("many.mab").c_str()), 0);
  MABFileData d;
  ASSERT_EQ(MABFile_Read(Path("many.mab").c_str(), &d), 1);
  EXPECT_EQ(d.tables.camera[0].size(), 40u);
  EXPECT_EQ(d.tables.camera[2].size(), 40u);
}

TEST_F(MabFileTest, FileLayoutWritesAndReadsBack) {
  Maps m(21, 24);  // odd width: the last column of each row is not stored
  for (int r = 0; r < m.H; ++r)
    for (int c = 0; c < m.W; ++c) {
      m.w2[m.I(r, c)] = (c % 5) / 4.0f;
      if (r < 10 && c >= 8 && c < 13) m.Single(r, c, 1);
      if (r < 10 && c < 8) m.Blend(r, c, 1, 3, 0.5f + 0.05f * c);
      if (r < 10 && c >= 13) m.Blend(r, c, 4, 1, 0.3f);
      if (r >= 10 && r < 14 && c < 8) m.Single(r, c, 3);
      if (r >= 14 && c >= 13) m.Blend(r, c, 2, 4, 0.7f);
    }
  ASSERT_EQ(GenerateMABFileFromMaps(m.maps, Path("a.mab").c_str()), 0);
  std::vector<uint8_t> b = testsupport::ReadFileBytes(Path("a.mab"));
  MABTables t;
  std::vector<uint8_t> map(MAB_WeightMapBytes(m.W, m.H));
  BuildMABTables(m.maps, &t, map.data(), 0, m.H);
  size_t total = 0;
  for (auto& v : t.camera) total += v.size();
  for (auto& v : t.seam) total += v.size();
  ASSERT_EQ(b.size(), 44 + 12 * total + (3 * 21 * 24) / 2);
  EXPECT_EQ(U32(b, 0), kMABMagic);
  EXPECT_EQ(U32(b, 4), 21u);
  EXPECT_EQ(U32(b, 8), 24u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(U32(b, 12 + 4 * k), t.camera[k].size());
    EXPECT_EQ(U32(b, 28 + 4 * k), t.seam[k].size());
  }
  // First record: camera 1's first run.
  ASSERT_FALSE(t.camera[0].empty());
  EXPECT_EQ(U32(b, 44), static_cast<uint32_t>(t.camera[0][0].row));
  EXPECT_EQ(U32(b, 48), static_cast<uint32_t>(t.camera[0][0].col));
  EXPECT_EQ(U32(b, 52), static_cast<uint32_t>(t.camera[0][0].length));
  EXPECT_EQ(0, memcmp(&b[44 + 12 * total], map.data(), map.size()));

  MABFileData d;
  ASSERT_EQ(MABFile_Read(Path("a.mab").c_str(), &d), 1);
  EXPECT_EQ(d.width, 21);
  EXPECT_EQ(d.height, 24);
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(d.tables.camera[k].size(), t.camera[k].size());
    ASSERT_EQ(d.tables.seam[k].size(), t.seam[k].size());
    for (size_t i = 0; i < t.seam[k].size(); ++i) EXPECT_EQ(d.tables.seam[k][i].col, t.seam[k][i].col);
  }
  EXPECT_EQ(d.weightMap, map);
  // Pair (4, 1): seam 1, weight 1 - w (camera 4 leads).
  ASSERT_EQ(t.seam[1].size(), 10u);
  int k, a;
  Unpack(map, 21, 0, 16, &k, &a);
  EXPECT_EQ(k, static_cast<int>((1.0f - 0.3f) * 31 + 0.5f));
  EXPECT_EQ(a, static_cast<int>(0.25f * 127 + 0.5f));
  // Pair (2, 4): seam 3.
  EXPECT_EQ(t.seam[3].size(), 10u);
}

TEST_F(MabFileTest, WeightMapRowsAndPackedBits) {
  EXPECT_EQ(MAB_WeightMapRowStart(1280, 1), 1920u);
  EXPECT_EQ(MAB_WeightMapRowStart(21, 1), 31u);
  std::vector<uint8_t> map(3, 0);
  int pk = 0, pa = 0;
  MAB_PackPixel(map.data(), 2, 0, 0, 0x1B, 0x55, &pk, &pa);
  MAB_PackPixel(map.data(), 2, 0, 1, 0x16, 0x2A, &pk, &pa);
  EXPECT_EQ(map[0], (0x55 << 1) | 1);
  EXPECT_EQ(map[1], (0x2A << 1) | 1);
  EXPECT_EQ(map[2], 0x6 | (0xB << 4));
  EXPECT_EQ(MAB_W2Code(-1.0f), 0);  // no ramp
  EXPECT_EQ(MAB_WeightCode(1.0f), 31);
}

TEST_F(MabFileTest, SixCameraFileJoinsTheGroupsWithAMiddleBand) {
  Maps a(20, 60), b(20, 60);
  for (int r = 0; r < 60; ++r)
    for (int c = 0; c < 20; ++c) {
      a.w2[a.I(r, c)] = 0.5f;
      if (r < 10) a.Single(r, c, 1);
      if (r >= 10 && c < 8) a.Single(r, c, 3);
      if (r >= 50) b.Single(r, c, 2);
      if (r < 50 && c >= 12) b.Single(r, c, 4);
    }
  // Runs the file has no table for: camera 2 in group A's rows.
  a.Single(5, 15, 2);
  a.maps.bandSizes[1] = 58;  // make it count as a camera-2 pixel
  ASSERT_EQ(GenerateMAB6FileFromMaps(a.maps, b.maps, Path("six.mab").c_str()), 0);
  MAB6FileData d;
  ASSERT_EQ(MAB6File_Read(Path("six.mab").c_str(), &d), 1);
  EXPECT_EQ(d.tables[10].size(), 20u);
  EXPECT_EQ(d.tables[11].size(), 20u);
  EXPECT_EQ(d.tables[10][0].row, 20);
  EXPECT_EQ(d.tables[10][0].length, 8);
  EXPECT_EQ(d.tables[11][19].row, 39);
  EXPECT_EQ(d.tables[11][19].col, 12);
  EXPECT_EQ(d.tables[1].size(), 10u);  // group B camera 2: rows 50..59
  for (const CPUStitchRun& r : d.tables[1]) EXPECT_GE(r.row, 40);
  for (const CPUStitchRun& r : d.tables[0]) EXPECT_LT(r.row, 20);
  // Middle band weights fall from 31 by 1/20 steps; W2 from group A.
  int k, w;
  Unpack(d.weightMap, 20, 20, 3, &k, &w);
  EXPECT_EQ(k, 31);
  EXPECT_EQ(w, 64);
  Unpack(d.weightMap, 20, 39, 3, &k, &w);
  EXPECT_EQ(k, static_cast<int>(0.05f * 31 + 0.5f));
  // Group A's rows keep group A's codes.
  Unpack(d.weightMap, 20, 3, 3, &k, &w);
  EXPECT_EQ(w, 64);
  EXPECT_NE(GenerateMAB6FileFromMaps(a.maps, Maps(20, 58).maps, Path("x.mab").c_str()), 0);
}

TEST_F(MabFileTest, CorruptFilesAreRefused) {
  Maps m(16, 20);
  for (int c = 0; c < 16; ++c) m.Single(0, c, 1);
  ASSERT_EQ(GenerateMABFileFromMaps(m.maps, Path("ok.mab").c_str()), 0);
  const std::vector<uint8_t> good = testsupport::ReadFileBytes(Path("ok.mab"));
  MABFileData d;
  struct Case {
    const char* what;
    size_t offset;  // word to patch; SIZE_MAX: truncate instead
    uint32_t value;
  } cases[] = {
      {"count beyond the file", 12, 100000},  {"huge count", 12, 0xFFFFFFFFu}, {"run row beyond H", 44, 20},
      {"run past the row end", 52, 17},       {"negative length", 52, 0xFFFFFFF0u},        {"zero width", 4, 0},
      {"huge height", 8, 1u << 30},           {"truncated", SIZE_MAX, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    if (c.offset == SIZE_MAX)
      b.resize(b.size() - 5);
    else
      memcpy(&b[c.offset], &c.value, 4);
    WriteAll(Path("bad.mab"), b);
    EXPECT_EQ(MABFile_Read(Path("bad.mab").c_str(), &d), 0) << c.what;
  }
  std::vector<uint8_t> other = good;
  other[0] ^= 1;
  WriteAll(Path("bad.mab"), other);
  EXPECT_EQ(MABFile_Read(Path("bad.mab").c_str(), &d), 0);
  EXPECT_EQ(MABFile_Read(Path("missing.mab").c_str(), &d), 0);
  ASSERT_EQ(MABFile_Read(Path("ok.mab").c_str(), &d), 1);
}

TEST_F(MabFileTest, WritersReportFailure) {
  Maps m(16, 40);
  WriteAll(Path("plain"), {1, 2, 3});
  const std::string under = Path("plain") + "/x.mab";  // parent is a regular file
  EXPECT_EQ(GenerateMABFileFromMaps(m.maps, under.c_str()), 1);
  EXPECT_EQ(GenerateMAB6FileFromMaps(m.maps, m.maps, under.c_str()), 1);
  EXPECT_EQ(WriteFileSynced("/dev/full", "abc", 3), -1);
  StitchMaps none{};
  EXPECT_NE(GenerateMABFileFromMaps(none, Path("n.mab").c_str()), 0);
}

// Dynamic alpha: an output of 700 x 120 pixels at 50 mm a pixel around a
// 1900 x 4600 mm car: car columns L = 331..R = 369, rows T = 4..B = 96.
class DynAlphaTest : public MabFileTest {
 protected:
  Maps m{700, 120};
  std::vector<float> ground;
  Matrix groundM{};
  DynAlphaSource src{};
  void SetUp() override {
    ground.resize(3 * 700 * 120);
    for (int r = 0; r < 120; ++r)
      for (int c = 0; c < 700; ++c) {
        ground[3 * (r * 700 + c)] = -17500.0f + 50.0f * c;
        ground[3 * (r * 700 + c) + 1] = -2500.0f + 50.0f * r;
        ground[3 * (r * 700 + c) + 2] = 0.0f;
      }
    groundM = Matrix{3, 700 * 120, ground.data()};
    for (size_t i = 0; i < m.w1.size(); ++i) m.w1[i] = (i % 7) / 6.0f;
    src.maps = m.maps;
    src.groundTable = &groundM;
    src.carWidth = 1900;
    src.carLength = 4600;
  }
  static uint8_t Byte(float x) { return static_cast<uint8_t>(static_cast<int>(x * 255.0f + 0.5f)); }
};

TEST_F(DynAlphaTest, DefaultAnglesKeepW1OutsideTheCorners) {
  std::vector<uint8_t> A, B;
  ASSERT_TRUE(DynAlpha_ComputePlanes(src, nullptr, &A, &B));
  for (int r : {0, 3, 50, 97, 119})
    for (int c : {331, 350, 369}) {
      const size_t i = m.I(r, c);
      EXPECT_EQ(A[i], Byte(m.w1[i]));
      EXPECT_EQ(B[i], Byte(m.w1[i]));
    }
  for (int c : {0, 100, 600, 699}) {  // beside the car
    EXPECT_EQ(A[m.I(50, c)], Byte(m.w1[m.I(50, c)]));
    EXPECT_EQ(B[m.I(50, c)], Byte(m.w1[m.I(50, c)]));
  }
}

TEST_F(DynAlphaTest, FarCornerPixelsTakeTheTestMapSide) {
  // (3, 0): d = 331, dy = 1: e > 270, alpha1 = 0; alpha2 = 0 (band 33.1).
  std::vector<float> test(m.y1.size(), 10.0f);
  Matrix testMap{700, 120, test.data()};
  test[m.I(3, 0)] = 200.0f;    // beyond camH (80): the other camera side
  m.y1[m.I(100, 0)] = 200.0f;  // lower half: Y1 decides, not the test map
  std::vector<uint8_t> A, B;
  ASSERT_TRUE(DynAlpha_ComputePlanes(src, &testMap, &A, &B));
  EXPECT_EQ(A[m.I(3, 0)], 255);
  EXPECT_EQ(B[m.I(3, 0)], 255);
  EXPECT_EQ(A[m.I(3, 1)], 0);
  EXPECT_EQ(B[m.I(3, 1)], 0);
  EXPECT_EQ(A[m.I(100, 0)], 255);
  EXPECT_EQ(A[m.I(101, 0)], 0);
}

TEST_F(DynAlphaTest, AnglesFromTheConfiguration) {
  gv().advValue12 = -10.0f;  // beside the car, plane A fades out from the car
  gv().advValue13 = 120.0f;  // centre bands, plane B opens away from the car's edge
  std::vector<uint8_t> A, B;
  ASSERT_TRUE(DynAlpha_ComputePlanes(src, nullptr, &A, &B));
  EXPECT_EQ(A[m.I(5, 0)], 0);  // dy = 1: e far beyond 270
  EXPECT_EQ(A[m.I(50, 330)], 255);  // d = 1, dy = 46: e < 0
  EXPECT_EQ(B[m.I(50, 0)], Byte(m.w1[m.I(50, 0)]));
  EXPECT_EQ(B[m.I(0, 331)], 0);  // d = 0: e < 0
  EXPECT_EQ(A[m.I(0, 331)], Byte(m.w1[m.I(0, 331)]));
}

TEST_F(DynAlphaTest, FileLayoutAndWriteFailure) {
  ASSERT_EQ(SaveDynAlphaFileFromMaps(src, Path("lut_dyncalpha.krv").c_str(), nullptr), 0);
  std::vector<uint8_t> b = testsupport::ReadFileBytes(Path("lut_dyncalpha.krv"));
  ASSERT_EQ(b.size(), 12u + 2u * 700 * 120);
  EXPECT_EQ(U32(b, 0), kDynAlphaMagic);
  EXPECT_EQ(U32(b, 4), 700u);
  EXPECT_EQ(U32(b, 8), 120u);
  std::vector<uint8_t> A, B;
  ASSERT_TRUE(DynAlpha_ComputePlanes(src, nullptr, &A, &B));
  EXPECT_EQ(0, memcmp(&b[12], A.data(), A.size()));
  EXPECT_EQ(0, memcmp(&b[12 + A.size()], B.data(), B.size()));

  WriteAll(Path("plain"), {1});
  EXPECT_EQ(SaveDynAlphaFileFromMaps(src, (Path("plain") + "/d.krv").c_str(), nullptr), 1);
  DynAlphaSource noGround = src;
  noGround.groundTable = nullptr;
  EXPECT_EQ(SaveDynAlphaFileFromMaps(noGround, Path("d.krv").c_str(), nullptr), 1);
}

TEST_F(DynAlphaTest, MabFilesCarryThePlanesAtTheCorners) {
  m.Single(3, 0, 1);
  for (int r = 0; r < 120; ++r)
    for (int c = 0; c < 700; ++c) m.w1[m.I(r, c)] = 0.5f;
  const std::vector<float> before = m.w1;
  ASSERT_EQ(GenerateDynAlphaMABFilesFromMaps(src, Path("a.mab").c_str(), Path("b.mab").c_str()), 0);
  EXPECT_EQ(m.w1, before);  // W1 restored
  MABFileData a, b;
  ASSERT_EQ(MABFile_Read(Path("a.mab").c_str(), &a), 1);
  ASSERT_EQ(MABFile_Read(Path("b.mab").c_str(), &b), 1);
  int k, w;
  Unpack(a.weightMap, 700, 50, 10, &k, &w);  // beside the car: W1
  EXPECT_EQ(k, 16);
  Unpack(a.weightMap, 700, 3, 1, &k, &w);  // far corner, camera 1 side: alpha1 = 0
  EXPECT_EQ(k, 0);
}

}  // namespace
