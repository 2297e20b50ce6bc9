#include "camera/grid_lut_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string TempPath(const char* name) {
  return std::string("/tmp/gridlut_") + std::to_string(getpid()) + "_" + name;
}

long FileSize(const std::string& p) {
  FILE* f = fopen(p.c_str(), "rb");
  if (!f) return -1;
  fseek(f, 0, SEEK_END);
  long s = ftell(f);
  fclose(f);
  return s;
}

std::vector<uint32_t> ReadWords(const std::string& p) {
  std::vector<uint32_t> v(FileSize(p) / 4);
  FILE* f = fopen(p.c_str(), "rb");
  EXPECT_EQ(fread(v.data(), 4, v.size(), f), v.size());
  fclose(f);
  return v;
}

void WriteWords(const std::string& p, const std::vector<uint32_t>& v) {
  FILE* f = fopen(p.c_str(), "wb");
  fwrite(v.data(), 4, v.size(), f);
  fclose(f);
}

struct Maps {
  int w, h;
  std::vector<float> x, y;
  Matrix mx, my;
  Maps(int w_, int h_) : w(w_), h(h_), x(w_ * h_), y(w_ * h_) {
    mx = Matrix{w, h, x.data()};
    my = Matrix{w, h, y.data()};
  }
};

// A smooth source map, coordinates well above 1.
Maps Smooth(int w, int h) {
  Maps m(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      m.x[r * w + c] = 5.0f + 0.9f * c + 0.05f * r;
      m.y[r * w + c] = 7.0f + 0.8f * r + 0.02f * c;
    }
  return m;
}

class GridLutFile : public ::testing::Test {
 protected:
  std::string path = TempPath("a.krv");
  void TearDown() override { unlink(path.c_str()); }
};

TEST_F(GridLutFile, Example600x400RoundTrip) {
  Maps m = Smooth(600, 400);
  ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, -1, path.c_str()), 1);
  EXPECT_EQ(FileSize(path), 100 + 51 * 608);
  std::vector<uint32_t> w = ReadWords(path);
  EXPECT_EQ(w[0], 76u);
  EXPECT_EQ(w[1], 51u);
  EXPECT_EQ(w[2], 0xFFFFFFFFu);
  EXPECT_EQ(w[3], 0xFFFFFFFFu);
  EXPECT_EQ(w[4], 600u);
  EXPECT_EQ(w[5], 400u);
  // Last stored column of row 0 is 599, pair 75.
  float x599 = m.x[599];
  uint32_t e = w[25 + 2 * 75];
  EXPECT_NEAR((e >> 4) + (e & 0xF) / 15.0f, x599, 1.0f / 15.0f);

  Matrix rx{0, 0, nullptr}, ry{0, 0, nullptr};
  ASSERT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 1);
  ASSERT_EQ(rx.cols, 600);
  ASSERT_EQ(rx.rows, 400);
  float worst = 0.0f;
  for (int i = 0; i < 600 * 400; ++i) {
    worst = std::fmax(worst, std::fabs(rx.data[i] - m.x[i]));
    worst = std::fmax(worst, std::fabs(ry.data[i] - m.y[i]));
  }
  EXPECT_LT(worst, 1.0f / 15.0f + 1e-3f);  // only the fifteenths are lost
  delete[] rx.data;
  delete[] ry.data;
}

TEST_F(GridLutFile, HeaderGeometryOfSteps) {
  struct Case {
    int w, h, shift;
    uint32_t gridW, gridH;
    long size;
  } cases[] = {
      {600, 400, -1, 76, 51, 100 + 51 * 608},
      {600, 400, 0, 39, 26, 100 + 26 * 320},  // step 16: 39 pairs, one pad pair
      {33, 17, 1, 2 + 32 / 32, 2 + 16 / 32, 100 + 2 * 32},
  };
  for (const Case& c : cases) {
    Maps m = Smooth(c.w, c.h);
    ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, c.shift, path.c_str()), 1);
    std::vector<uint32_t> w = ReadWords(path);
    EXPECT_EQ(w[0], c.gridW) << c.w;
    EXPECT_EQ(w[1], c.gridH) << c.h;
    EXPECT_EQ(FileSize(path), c.size) << c.w;
    Matrix rx{}, ry{};
    EXPECT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 1) << c.w;
    delete[] rx.data;
    delete[] ry.data;
  }
}

TEST_F(GridLutFile, HeightOneStepAboveAGridRowReadsBack) {
  // H - 1 = 16 is a multiple of the step: the header declares one row more
  // than the stored-row rule gives, and the library must read its own file.
  for (int h : {17, 9, 1}) {
    Maps m = Smooth(24, h);
    ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, -1, path.c_str()), 1);
    std::vector<uint32_t> w = ReadWords(path);
    EXPECT_EQ(FileSize(path), 100 + static_cast<long>(w[1]) * w[0] * 8) << h;
    Matrix rx{}, ry{};
    ASSERT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 1) << h;
    EXPECT_NEAR(rx.data[(h - 1) * 24 + 23], m.x[(h - 1) * 24 + 23], 0.07f);
    delete[] rx.data;
    delete[] ry.data;
  }
}

TEST_F(GridLutFile, EntryEncoding) {
  Maps m(9, 9);
  for (int i = 0; i < 81; ++i) {
    m.x[i] = 37.5f;
    m.y[i] = 2.0f;
  }
  m.x[8] = 1.0f;  // X = 1.0 exactly: stored as (0, 0)
  ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, -1, path.c_str()), 1);
  std::vector<uint32_t> w = ReadWords(path);
  EXPECT_EQ(w[25], (37u << 4) | 7u);
  EXPECT_EQ(w[26], 2u << 4);
  EXPECT_EQ(w[27], 0u);  // pair 1 = column 8
  EXPECT_EQ(w[28], 0u);
  Matrix rx{}, ry{};
  ASSERT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 1);
  EXPECT_FLOAT_EQ(rx.data[0], 37.0f + 7.0f / 15.0f);
  delete[] rx.data;
  delete[] ry.data;
}

TEST_F(GridLutFile, BadHeadersAreRefusedAndMapsUntouched) {
  Maps m = Smooth(40, 20);
  ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, -1, path.c_str()), 1);
  const std::vector<uint32_t> good = ReadWords(path);
  struct Case {
    const char* what;
    int word;
    uint32_t value;
    bool truncate;
  } cases[] = {
      {"unequal shift words", 3, 0, false},
      {"gridW disagrees", 0, 99, false},
      {"gridH disagrees", 1, 2, false},
      {"zero width", 4, 0, false},
      {"negative height", 5, 0xFFFFFFF0u, false},
      {"huge width", 4, 0x40000000u, false},
      {"huge shift", 2, 40, false},
      {"short grid data", -1, 0, true},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> v = good;
    if (c.word == 2) { v[3] = c.value; }
    if (c.word >= 0) v[c.word] = c.value;
    if (c.truncate) v.resize(v.size() - 3);
    WriteWords(path, v);
    float sentinel = 0.0f;
    Matrix rx{-5, -6, &sentinel}, ry{-7, -8, &sentinel};
    EXPECT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 0) << c.what;
    EXPECT_EQ(rx.cols, -5) << c.what;
    EXPECT_EQ(ry.rows, -8) << c.what;
    EXPECT_EQ(rx.data, &sentinel) << c.what;
  }
  Matrix rx{}, ry{};
  EXPECT_EQ(GridLUT_ReadFile("/nonexistent/dir/x.krv", &rx, &ry), 0);
}

// A consistent header of shift 8 (step 4096) declares two 16384 x 16384
// maps with a 5 x 5 grid: 340 bytes once expanded to 2 GiB. Maps beyond
// 4 Mi pixels are refused; a large map whose grid the file does not hold
// is refused before the grid is allocated.
TEST_F(GridLutFile, SmallFilesDeclaringHugeMapsAreRefused) {
  struct Case {
    const char* what;
    int32_t w, h, shift;
    bool whole;  // the file holds every grid row it declares
  } cases[] = {
      {"step 4096, 16384 x 16384, 340 bytes", 16384, 16384, 8, true},
      {"step 8, 4096 x 1025, grid missing", 4096, 1025, -1, false},
      {"step 16, 2049 x 2049 (just beyond 4 Mi pixels)", 2049, 2049, 0, true},
  };
  for (const Case& c : cases) {
    const int32_t step = GridLUT_StepOfShift(c.shift);
    const int32_t gw = (c.w - 1) / step + 2, gh = (c.h - 1) / step + 2;
    const int32_t rowBytes = c.shift < 0 ? gw * 8 : (((c.w + step - 1) / step + 1) * 8 + 15) / 16 * 16;
    std::vector<uint32_t> v(25, 0);
    const int32_t head[6] = {gw, gh, c.shift, c.shift, c.w, c.h};
    memcpy(v.data(), head, sizeof head);
    if (c.whole) v.resize(25 + static_cast<size_t>(gh) * rowBytes / 4, 0x100u);
    WriteWords(path, v);
    float sentinel = 0.0f;
    Matrix rx{-5, -6, &sentinel}, ry{-7, -8, &sentinel};
    EXPECT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 0) << c.what;
    EXPECT_EQ(rx.data, &sentinel) << c.what;
    EXPECT_EQ(ry.cols, -7) << c.what;
  }
  // The largest accepted map still reads.
  Maps m = Smooth(2048, 2048);
  ASSERT_EQ(GridLUT_WriteFile(&m.mx, &m.my, 0, path.c_str()), 1);
  Matrix rx{}, ry{};
  ASSERT_EQ(GridLUT_ReadFile(path.c_str(), &rx, &ry), 1);
  EXPECT_EQ(rx.cols, 2048);
  delete[] rx.data;
  delete[] ry.data;
}

TEST_F(GridLutFile, WriteFailureIsReported) {
  Maps m = Smooth(16, 16);
  EXPECT_EQ(GridLUT_WriteFile(&m.mx, &m.my, -1, "/nonexistent/dir/x.krv"), 0);
  Maps empty(16, 0);
  EXPECT_EQ(GridLUT_WriteFile(&empty.mx, &empty.my, -1, path.c_str()), 0);
  EXPECT_EQ(FileSize(path), -1);
}

TEST(GridLutStrips, BuildAndWriteCutsCoveredBands) {
  // Merged view 20 x 16 over a 2 x 2 frame of 30 x 30 cameras: rows 0..5 see
  // camera 1, rows 11..15 camera 2; columns 0..3 camera 3, 17..19 camera 4.
  const int w = 20, h = 16, wc = 30, hc = 30;
  Maps c1(w, h), c2(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      float* x1 = &c1.x[r * w + c];
      float* y1 = &c1.y[r * w + c];
      float* x2 = &c2.x[r * w + c];
      float* y2 = &c2.y[r * w + c];
      *x1 = *y1 = *x2 = *y2 = -2.0f;
      if (r <= 5) { *x1 = 5.0f + c * 0.5f; *y1 = 3.0f + r; }
      if (r >= 11) { *x1 = wc + 4.0f; *y1 = 2.0f + r; }
      if (c <= 3) { *x2 = 2.0f + c; *y2 = hc + 3.0f; }
      if (c >= 17) { *x2 = wc + 2.0f + (c - 17); *y2 = hc + 5.0f; }
    }
  std::string top = TempPath("top"), bottom = TempPath("bottom"), left = TempPath("left"),
              right = TempPath("right");
  uint32_t sizes[4] = {9, 9, 9, 9};
  GridLUT_BuildAndWrite(wc, hc, &c1.mx, &c1.my, &c2.mx, &c2.my, -1, top.c_str(), bottom.c_str(),
                        left.c_str(), right.c_str(), sizes, 0);
  EXPECT_EQ(sizes[0], 6u);   // first uncovered row 6
  EXPECT_EQ(sizes[1], 4u);   // first uncovered from the bottom 10 -> start 12
  EXPECT_EQ(sizes[2], 4u);   // first uncovered column 4
  EXPECT_EQ(sizes[3], 2u);   // first uncovered from the right 16 -> start 18
  Matrix rx{}, ry{};
  ASSERT_EQ(GridLUT_ReadFile(top.c_str(), &rx, &ry), 1);
  EXPECT_EQ(rx.cols, w);
  EXPECT_EQ(rx.rows, 6);
  EXPECT_NEAR(rx.data[0], 5.0f, 0.07f);
  delete[] rx.data;
  delete[] ry.data;
  ASSERT_EQ(GridLUT_ReadFile(right.c_str(), &rx, &ry), 1);
  EXPECT_EQ(rx.cols, 2);
  EXPECT_NEAR(rx.data[0], 3.0f, 0.07f);  // column 18: wc + 3 - wc
  EXPECT_NEAR(ry.data[0], 5.0f, 0.07f);
  delete[] rx.data;
  delete[] ry.data;
  for (auto& p : {top, bottom, left, right}) unlink(p.c_str());
}

}  // namespace
