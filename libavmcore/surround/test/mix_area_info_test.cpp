#include "surround/mix_area_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "camera/lut_config.h"
#include "testsupport/config_state.h"

namespace {

// A LutConfig with hand-made maps: output 60 x 80, car columns 20..40, rows
// 20..60; X1 = column, Y1 = row, X2 = column + 100, Y2 = row + 200.
class MixAreaFixture : public ::testing::Test {
 protected:
  static constexpr int32_t W = 60, H = 80, kQuadW = 200, kQuadH = 60;  // h = 30
  ScopedConfigState state_;
  LutConfig cfg_{};
  std::vector<float> maps_[5];

  void SetUp() override {
    Matrix* m[5] = {&cfg_.X1, &cfg_.Y1, &cfg_.X2, &cfg_.Y2, &cfg_.W3};
    for (int k = 0; k < 5; ++k) {
      maps_[k].assign(W * H, 0.0f);
      *m[k] = Matrix{W, H, maps_[k].data()};
    }
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) {
        At(cfg_.X1, r, c) = static_cast<float>(c);
        At(cfg_.Y1, r, c) = static_cast<float>(r);
        At(cfg_.X2, r, c) = static_cast<float>(c + 100);
        At(cfg_.Y2, r, c) = static_cast<float>(r + 200);
        // The corner fade starts 5 columns in from either edge.
        At(cfg_.W3, r, c) = (c == 5 || c == W - 1 - 5) ? 0.5f : 1.0f;
      }
    cfg_.carRect[0] = 20;
    cfg_.carRect[1] = 40;
    cfg_.carRect[2] = W;
    cfg_.carRect[3] = 20;
    cfg_.carRect[4] = 60;
    cfg_.carWidth = 1800;
    cfg_.carLength = 4500;
    cfg_.mmPerPixel = 100.0f;
    GlobalVariables_InitRuntimeDefaults();
    gv().f0 = 2000;  // rear-band rules on
  }
  static float& At(Matrix& m, int r, int c) { return m.data[r * m.cols + c]; }
  static int32_t T(const MixAreaInfo& info, int table, int row, int col) {
    return info.tables[table].data[row * info.tables[table].width + col];
  }
};

TEST_F(MixAreaFixture, BuildSamplesBothCamerasBesideTheCar) {
  At(cfg_.Y1, 20, 5) = 30.0f;  // exactly h: not an upper sample of the first camera
  At(cfg_.X1, 20, 6) = -3.0f;  // negative values are stored as 0
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, 35, 35);
  ASSERT_EQ(info.valid, 1u);
  EXPECT_EQ(info.frontRows, 18);  // T - 2
  EXPECT_EQ(info.rearRows, 18);   // (H - B) - 2
  EXPECT_EQ(info.bandColumns, 18);
  EXPECT_EQ(info.coverageMode, 0);
  EXPECT_FLOAT_EQ(info.frontSeamAngle, 72.0f);
  EXPECT_FLOAT_EQ(info.rearSeamAngle, 42.0f);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(info.tables[k].width, 24);
    EXPECT_EQ(info.tables[k].height, 18);
  }
  // Front-left row 1 = output row 19, from column 5: first camera above h.
  EXPECT_EQ(T(info, 0, 1, 0), 5);
  EXPECT_EQ(T(info, 1, 1, 0), 19);
  EXPECT_EQ(T(info, 8, 1, 0), 105);
  EXPECT_EQ(T(info, 9, 1, 0), 219);
  // Row 0 = output row 20: column 5 has Y1 == h, so the samples swap.
  EXPECT_EQ(T(info, 0, 0, 0), 105);
  EXPECT_EQ(T(info, 1, 0, 0), 220);
  EXPECT_EQ(T(info, 8, 0, 0), 5);
  EXPECT_EQ(T(info, 9, 0, 0), 30);
  EXPECT_EQ(T(info, 0, 0, 1), 0);  // X1 -3 stored as 0
  // Front-right mirrors from the right edge: column W - 1 - (5 + c).
  EXPECT_EQ(T(info, 2, 3, 2), W - 1 - 7);
  EXPECT_EQ(T(info, 13, 3, 2), 217);  // Y2 of row 17
  // Rear rows start at B = 60, below h: the second camera is the upper one.
  EXPECT_EQ(T(info, 4, 2, 0), 105);
  EXPECT_EQ(T(info, 5, 2, 0), 262);
  EXPECT_EQ(T(info, 10, 2, 0), 5);
  EXPECT_EQ(T(info, 11, 2, 0), 62);
  EXPECT_EQ(T(info, 6, 2, 23), W - 1 - 28 + 100);
  MixAreaInfo_Release(&info);
  EXPECT_EQ(info.valid, 0u);
  EXPECT_EQ(info.quadCoords, 1u);
}

TEST_F(MixAreaFixture, CoverageModeAndSectorLayout) {
  const struct {
    int32_t a, b, mode;
  } cases[] = {{35, 0, 1}, {0, 35, 2}, {0, 0, 1}, {8, 35, 0}};
  for (const auto& c : cases) {
    MixAreaInfo info = MixAreaInfo_Empty();
    MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, c.a, c.b);
    EXPECT_EQ(info.coverageMode, c.mode);
    MixAreaInfo_Release(&info);
  }
  cfg_.extraParam = 1;
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, 35, 35);
  EXPECT_EQ(info.valid, 0u);
  const std::string path = state_.Path("lut_mixareainfo.krv");
  state_.WriteFile("lut_mixareainfo.krv", "old contents");
  EXPECT_EQ(MixAreaInfo_Save(&info, path.c_str()), 1);
  EXPECT_EQ(state_.ReadFile("lut_mixareainfo.krv"), "");
}

TEST_F(MixAreaFixture, TopRowTwoGivesEmptyFrontTables) {
  cfg_.carRect[3] = 2;
  gv().f0 = 500;  // without the rear-band rules the rear follows the front
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, 35, 35);
  ASSERT_EQ(info.valid, 1u);
  EXPECT_EQ(info.frontRows, 0);
  EXPECT_EQ(info.tables[0].height, 0);
  EXPECT_EQ(info.tables[0].width, 24);
  const std::string path = state_.Path("m.krv");
  ASSERT_EQ(MixAreaInfo_Save(&info, path.c_str()), 1);
  MixAreaInfo back = MixAreaInfo_Empty();
  MixAreaInfo_Load(&back, path.c_str());
  ASSERT_EQ(back.valid, 1u);
  EXPECT_EQ(back.tables[0].height, 0);
  MixAreaInfo_Release(&back);
  MixAreaInfo_Release(&info);
}

TEST_F(MixAreaFixture, SaveLoadRoundTrip) {
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, 35, 0);
  const std::string path = state_.Path("lut_mixareainfo.krv");
  ASSERT_EQ(MixAreaInfo_Save(&info, path.c_str()), 1);
  MixAreaInfo back = MixAreaInfo_Empty();
  MixAreaInfo_Load(&back, path.c_str());
  ASSERT_EQ(back.valid, 1u);
  EXPECT_EQ(back.quadCoords, 1u);
  EXPECT_EQ(back.quadWidth, kQuadW);
  EXPECT_EQ(back.quadHeight, kQuadH);
  EXPECT_EQ(back.frontSeamAngle, info.frontSeamAngle);
  EXPECT_EQ(back.rearSeamAngle, info.rearSeamAngle);
  EXPECT_EQ(back.bandColumns, info.bandColumns);
  EXPECT_EQ(back.frontRows, info.frontRows);
  EXPECT_EQ(back.rearRows, info.rearRows);
  EXPECT_EQ(back.coverageMode, 1);
  for (int k = 0; k < 16; ++k) {
    ASSERT_EQ(back.tables[k].width, info.tables[k].width);
    ASSERT_EQ(back.tables[k].height, info.tables[k].height);
    EXPECT_EQ(0, memcmp(back.tables[k].data, info.tables[k].data,
                        4u * info.tables[k].width * info.tables[k].height))
        << k;
  }
  // Loading into a valid record does nothing.
  int32_t* before = back.tables[0].data;
  MixAreaInfo_Load(&back, path.c_str());
  EXPECT_EQ(back.tables[0].data, before);
  MixAreaInfo_Release(&back);
  MixAreaInfo_Release(&info);
}

// Hand-written files: header, tables of the given sizes, then `tail` words.
std::string MixFile(int32_t fc, int32_t fr, int32_t rc, int32_t rr, const std::vector<int32_t>& tail,
                    size_t tableWords = SIZE_MAX) {
  std::vector<int32_t> w = {static_cast<int32_t>(kMixAreaInfoMagic), 200, 60, fc, fr, rc, rr};
  const size_t n = tableWords != SIZE_MAX ? tableWords : 8u * (fc * fr + rc * rr);
  for (size_t i = 0; i < n; ++i) w.push_back(static_cast<int32_t>(i));
  w.insert(w.end(), tail.begin(), tail.end());
  return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 4);
}

TEST_F(MixAreaFixture, LoadDefaultsOfMissingTrailingFields) {
  const std::string path = state_.Path("m.krv");
  state_.WriteFile("m.krv", MixFile(24, 3, 24, 2, {}));
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Load(&info, path.c_str());
  ASSERT_EQ(info.valid, 1u);
  EXPECT_EQ(info.frontSeamAngle, 75.0f);
  EXPECT_EQ(info.rearSeamAngle, 75.0f);
  EXPECT_EQ(info.bandColumns, 200);
  EXPECT_EQ(info.frontRows, 200);
  EXPECT_EQ(info.rearRows, 200);  // the default 20 becomes FR
  EXPECT_EQ(info.coverageMode, 0);
  EXPECT_EQ(info.tables[4].height, 2);
  MixAreaInfo_Release(&info);

  float a = 60.0f;
  int32_t aw;
  memcpy(&aw, &a, 4);
  state_.WriteFile("m.krv", MixFile(24, 3, 24, 2, {aw, aw, 18, 30, 20, 2}));
  MixAreaInfo_Load(&info, path.c_str());
  ASSERT_EQ(info.valid, 1u);
  EXPECT_EQ(info.rearRows, 30);  // a stored RR of 20 reads as FR
  EXPECT_EQ(info.coverageMode, 2);
  MixAreaInfo_Release(&info);
}

TEST_F(MixAreaFixture, CorruptFilesLeaveTheRecordInvalid) {
  const std::string path = state_.Path("m.krv");
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"negative rows", MixFile(24, -1, 24, 2, {}, 0)},
      {"huge columns", MixFile(1 << 28, 3, 24, 2, {}, 0)},
      {"huge product", MixFile(4096, 16384, 4096, 16384, {}, 0)},
      {"tables cut short", MixFile(24, 3, 24, 2, {}, 8 * 24 * 5 - 1)},
      {"wrong magic", std::string("\x09\x08\x06\x08", 4) + MixFile(24, 1, 24, 1, {}).substr(4)},
      {"header only", MixFile(24, 3, 24, 2, {}).substr(0, 20)},
      // Values the merge and the camera-coordinate step compute with: a
      // negative or huge quad size (its half), entries near -2^31.
      {"negative quad height", [] {
         std::string b = MixFile(24, 1, 24, 1, {});
         const int32_t v = -2;
         b.replace(8, 4, reinterpret_cast<const char*>(&v), 4);
         return b;
       }()},
      {"huge quad width", [] {
         std::string b = MixFile(24, 1, 24, 1, {});
         const int32_t v = 0x7FFFFFFF;
         b.replace(4, 4, reinterpret_cast<const char*>(&v), 4);
         return b;
       }()},
      {"entry near -2^31", [] {
         std::string b = MixFile(24, 1, 24, 1, {});
         const int32_t v = INT32_MIN;
         b.replace(28 + 4 * (24 * 11 + 3), 4, reinterpret_cast<const char*>(&v), 4);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    state_.WriteFile("m.krv", c.bytes);
    MixAreaInfo info = MixAreaInfo_Empty();
    MixAreaInfo_Load(&info, path.c_str());
    EXPECT_EQ(info.valid, 0u) << c.what;
    for (const ImageI32& t : info.tables) EXPECT_EQ(t.data, nullptr) << c.what;
  }
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Load(&info, state_.Path("missing.krv").c_str());
  EXPECT_EQ(info.valid, 0u);
}

// Records not read from a file (built, or set by hand) may hold any value:
// the merge and the camera-coordinate step hold their results to the int32
// range instead of overflowing.
TEST_F(MixAreaFixture, MergeAndCameraCoordinatesOfExtremeRecords) {
  std::vector<int32_t> store[16];
  MixAreaInfo a = MixAreaInfo_Empty();
  a.valid = 1;
  a.quadWidth = INT32_MIN;
  a.quadHeight = -2000;  // a negative half
  for (int k = 0; k < 16; ++k) {
    store[k].assign(2, k % 2 == 0 ? INT32_MIN : INT32_MAX);
    a.tables[k] = ImageI32{1, 2, store[k].data()};
  }
  MixAreaInfo merged = MixAreaInfo_Empty();
  MixAreaInfo_Merge(&merged, &a, &a);
  ASSERT_EQ(merged.valid, 1u);
  EXPECT_EQ(merged.tables[11].data[0], INT32_MAX);  // INT32_MAX + 1000, held
  MixAreaInfo_ToCameraCoords(&merged);
  EXPECT_EQ(merged.tables[4].data[0], INT32_MIN);  // below the (negative) half: unchanged
  MixAreaInfo_Release(&merged);
}

TEST_F(MixAreaFixture, MergeTakesFrontFromFirstAndRearFromSecond) {
  MixAreaInfo a = MixAreaInfo_Empty(), b = MixAreaInfo_Empty();
  MixAreaInfo_Build(&a, &cfg_, kQuadW, kQuadH, 35, 35);
  cfg_.carRect[4] = 62;  // other rear rows in the second group
  MixAreaInfo_Build(&b, &cfg_, kQuadW, kQuadH, 0, 35);
  ASSERT_TRUE(a.valid && b.valid);
  a.quadHeight = 60;
  b.quadHeight = 999;
  b.bandColumns = 77;

  MixAreaInfo out = MixAreaInfo_Empty();
  MixAreaInfo_Merge(&out, &a, &b);
  ASSERT_EQ(out.valid, 1u);
  EXPECT_EQ(out.coverageMode, 2);  // from the second
  EXPECT_EQ(out.bandColumns, a.bandColumns);
  EXPECT_EQ(out.quadHeight, 60);
  EXPECT_EQ(out.rearRows, a.rearRows);
  for (int k = 0; k < 16; ++k) {
    const MixAreaInfo& src = MixAreaInfo_IsFrontTable(k) ? a : b;
    ASSERT_NE(out.tables[k].data, src.tables[k].data) << "copied, not shared";
    ASSERT_EQ(out.tables[k].height, src.tables[k].height);
    for (int i = 0; i < src.tables[k].width * src.tables[k].height; ++i) {
      const int32_t want = src.tables[k].data[i] - ((k == 11 || k == 15) ? 30 : 0);
      ASSERT_EQ(out.tables[k].data[i], want) << k << " " << i;
    }
  }
  // The inputs are unchanged.
  EXPECT_EQ(b.tables[11].data[0], 62);

  // A table missing from its source stays empty in the result (no stale
  // header for the release to free), also when merging into a used record.
  MixAreaInfo_Release(&b);
  MixAreaInfo_Merge(&out, &a, &b);
  EXPECT_EQ(out.valid, 1u);
  for (int k = 0; k < 16; ++k) {
    if (MixAreaInfo_IsFrontTable(k)) {
      EXPECT_NE(out.tables[k].data, nullptr);
    } else {
      EXPECT_EQ(out.tables[k].data, nullptr);
      EXPECT_EQ(out.tables[k].height, 0);
    }
  }
  const std::string path = state_.Path("merged.krv");
  ASSERT_EQ(MixAreaInfo_Save(&out, path.c_str()), 1);
  MixAreaInfo back = MixAreaInfo_Empty();
  MixAreaInfo_Load(&back, path.c_str());
  EXPECT_EQ(back.valid, 1u);
  MixAreaInfo_Release(&back);
  MixAreaInfo_Release(&out);
  MixAreaInfo_Release(&a);
}

TEST_F(MixAreaFixture, CameraCoordinates) {
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &cfg_, kQuadW, kQuadH, 35, 35);
  const int32_t x4 = T(info, 4, 0, 0), y9 = T(info, 9, 1, 0), y11 = T(info, 11, 0, 0);
  MixAreaInfo_ToCameraCoords(&info);
  EXPECT_EQ(info.quadCoords, 0u);
  EXPECT_EQ(T(info, 4, 0, 0), x4 >= 100 ? x4 - 100 : x4);
  EXPECT_EQ(T(info, 9, 1, 0), y9 >= 30 ? y9 - 30 : y9);
  EXPECT_EQ(T(info, 11, 0, 0), y11 - 30);  // 60 >= 30
  MixAreaInfo_ToCameraCoords(&info);       // flag cleared: no second reduction
  EXPECT_EQ(T(info, 11, 0, 0), y11 - 30);
  MixAreaInfo_Release(&info);
}

}  // namespace
