#pragma once
// Helpers shared by the pixel, BMP and filter tests: owned images, float
// images and temporary files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frame/matrix_types.h"
#include "testsupport/file_bytes.h"

namespace pixel_test {

// A float image (Matrix with cols = width) with its own storage.
struct FloatImage {
  std::vector<float> v;
  Matrix m{};
  FloatImage(int32_t w, int32_t h, float fill = 0.0f) : v(static_cast<size_t>(w) * h, fill) {
    m = {w, h, v.data()};
  }
  FloatImage(const FloatImage& o) : v(o.v) { m = {o.m.cols, o.m.rows, v.data()}; }
  FloatImage& operator=(const FloatImage&) = delete;
  float& at(int x, int y) { return v[static_cast<size_t>(y) * m.cols + x]; }
  float at(int x, int y) const { return v[static_cast<size_t>(y) * m.cols + x]; }
};

inline FloatImage RandomImage(int w, int h, uint32_t seed, float lo = 0.0f, float hi = 1.0f) {
  FloatImage img(w, h);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(lo, hi);
  for (float& x : img.v) x = d(rng);
  return img;
}

// A 0/1 image from rows of '#' (1) and '.' (0).
inline FloatImage FromArt(const std::vector<std::string>& rows) {
  FloatImage img(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) img.at(static_cast<int>(x), static_cast<int>(y)) = rows[y][x] == '#';
  return img;
}

inline std::vector<std::string> ToArt(const float* data, int w, int h) {
  std::vector<std::string> rows;
  for (int y = 0; y < h; ++y) {
    std::string r;
    for (int x = 0; x < w; ++x) r += data[y * w + x] != 0.0f ? '#' : '.';
    rows.push_back(r);
  }
  return rows;
}

// A fresh directory under /tmp, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/avm_pixel_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline uint32_t Le32(const std::vector<uint8_t>& b, size_t off) {
  return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (static_cast<uint32_t>(b[off + 3]) << 24);
}

}  // namespace pixel_test
