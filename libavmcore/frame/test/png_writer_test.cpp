#include "frame/png_writer.h"
#include "testsupport/file_bytes.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Planes {
  int w, h;
  std::vector<uint8_t> r, g, b, a;
  ImageU8 R, G, B, A;
  Planes(int width, int height) : w(width), h(height) {
    size_t n = static_cast<size_t>(w) * h;
    r.resize(n);
    g.resize(n);
    b.resize(n);
    a.resize(n);
    for (size_t i = 0; i < n; ++i) {
      r[i] = static_cast<uint8_t>(i * 7 + 1);
      g[i] = static_cast<uint8_t>(i * 13 + 50);
      b[i] = static_cast<uint8_t>((i / w) * 3 + i % 251);
      a[i] = static_cast<uint8_t>(255 - i % 256);
    }
    R = {w, h, r.data()};
    G = {w, h, g.data()};
    B = {w, h, b.data()};
    A = {w, h, a.data()};
  }
};

std::string TempPath(const char* name) {
  return std::string(::testing::TempDir()) + "/" + name + "_" + std::to_string(getpid()) + ".png";
}

uint32_t BE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Decodes with libpng (CRC and Adler checks on) and compares every pixel.
void ExpectDecodesTo(const std::string& path, const Planes& p) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&img, path.c_str())) << img.message;
  EXPECT_EQ(img.width, static_cast<png_uint_32>(p.w));
  EXPECT_EQ(img.height, static_cast<png_uint_32>(p.h));
  img.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(img));
  ASSERT_TRUE(png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) << img.message;
  size_t mismatches = 0;
  for (size_t i = 0; i < p.r.size(); ++i) {
    if (out[4 * i] != p.r[i] || out[4 * i + 1] != p.g[i] || out[4 * i + 2] != p.b[i] ||
        out[4 * i + 3] != p.a[i])
      ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(PngWriter, OnePixelImageLayout) {
  Planes p(1, 1);
  std::string path = TempPath("one");
  ASSERT_EQ(SavePngRGBA(&p.R, &p.G, &p.B, &p.A, path.c_str()), 1);
  std::vector<uint8_t> f = testsupport::ReadFileBytes(path);
  // signature 8 + IHDR 25 + IDAT (12 + 16) + IEND 12
  ASSERT_EQ(f.size(), 8u + 25u + 28u + 12u);
  EXPECT_EQ(BE32(&f[33]), 16u);  // IDAT length
  EXPECT_EQ(f[41], 0x78);
  EXPECT_EQ(f[42], 0xDA);
  EXPECT_EQ(f[43], 1);  // the only block is final
  EXPECT_EQ(f[44] | (f[45] << 8), 5);
  EXPECT_EQ(f[46] | (f[47] << 8), 0xFFFF ^ 5);
  ExpectDecodesTo(path, p);
  remove(path.c_str());
}

// (width, height, expected stored blocks)
struct WideCase {
  int w, h;
  uint32_t blocks;
};

class PngWriterSizes : public ::testing::TestWithParam<WideCase> {};

TEST_P(PngWriterSizes, LibpngDecodesExactlyThePixelsWritten) {
  const WideCase c = GetParam();
  Planes p(c.w, c.h);
  std::string path = TempPath("wide");
  ASSERT_EQ(SavePngRGBA(&p.R, &p.G, &p.B, &p.A, path.c_str()), 1);
  std::vector<uint8_t> f = testsupport::ReadFileBytes(path);
  const uint64_t total = (uint64_t(c.w) * 4 + 1) * c.h;
  ASSERT_GT(f.size(), 41u);
  EXPECT_EQ(BE32(&f[33]), total + 5 * c.blocks + 6);
  ExpectDecodesTo(path, p);
  remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Widths, PngWriterSizes,
    ::testing::Values(WideCase{4096, 7, 3},      // 3 rows per 49155-byte block
                      WideCase{4096, 6, 2},      // rows a multiple of the block
                      WideCase{1280, 40, 4},     // 12 rows per block
                      WideCase{20000, 3, 4},     // a row longer than one block
                      WideCase{16383, 2, 2}));   // exactly one row per block

TEST(PngWriter, RefusesBadInputAndUnwritablePaths) {
  Planes p(4, 4);
  Planes other(4, 3);
  std::string path = TempPath("bad");
  EXPECT_EQ(SavePngRGBA(&p.R, &other.G, &p.B, &p.A, path.c_str()), 0);
  EXPECT_EQ(SavePngRGBA(&p.R, &p.G, nullptr, &p.A, path.c_str()), 0);
  ImageU8 empty{0, 4, p.r.data()};
  EXPECT_EQ(SavePngRGBA(&empty, &empty, &empty, &empty, path.c_str()), 0);
  EXPECT_NE(access(path.c_str(), F_OK), 0);  // nothing written
  EXPECT_EQ(SavePngRGBA(&p.R, &p.G, &p.B, &p.A, "/nonexistent-dir/x.png"), 0);
}

TEST(PngWriter, ChecksumsMatchKnownValues) {
  const uint8_t text[] = "123456789";
  uint32_t crc;
  Crc32_Begin(&crc);
  Crc32_Update(&crc, text, 9);
  EXPECT_EQ(Crc32_End(&crc), 0xCBF43926u);
  EXPECT_EQ(crc, 0xCBF43926u);
  const uint8_t iend[] = {'I', 'E', 'N', 'D'};
  Crc32_Begin(&crc);
  Crc32_Update(&crc, iend, 4);
  EXPECT_EQ(Crc32_End(&crc), 0xAE426082u);
  Adler32State s;
  Adler32_Begin(&s);
  const uint8_t wiki[] = "Wikipedia";
  Adler32_Update(&s, wiki, 9);
  EXPECT_EQ(Adler32_End(&s), 0x11E60398u);
}

}  // namespace
