#include "toolkit/matrix_alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

struct SizeCase {
  int32_t cols, rows;
  size_t elements;  // the zeroed block's length the caller may touch
};

const SizeCase kSizes[] = {{640, 480, 640 * 480}, {1, 1, 1}, {0, 0, 1}, {-3, 2, 1}, {5, 0, 1}};

// Every size gives a header with the sizes as given and a zeroed block the
// caller may write in full; LeakSanitizer checks that the owners free both.
TEST(MatrixAlloc, MatrixSizesAndZeroedBlock) {
  for (const SizeCase& s : kSizes) {
    MatrixPtr m(Matrix_New(s.cols, s.rows));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->cols, s.cols);
    EXPECT_EQ(m->rows, s.rows);
    ASSERT_NE(m->data, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < s.elements; ++i) nonZero += m->data[i] != 0.0f;
    EXPECT_EQ(nonZero, 0u) << s.cols << " x " << s.rows;
    m->data[s.elements - 1] = 1.0f;
  }
}

TEST(MatrixAlloc, ImageU8SizesAndZeroedBlock) {
  for (const SizeCase& s : kSizes) {
    ImageU8Ptr img(ImageU8_New(s.cols, s.rows));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, s.cols);
    EXPECT_EQ(img->height, s.rows);
    ASSERT_NE(img->data, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < s.elements; ++i) nonZero += img->data[i] != 0;
    EXPECT_EQ(nonZero, 0u) << s.cols << " x " << s.rows;
    img->data[s.elements - 1] = 255;
  }
}

// Results handed over the boundary of the BMP readers are freed by their
// callers with free() on block and header; AddressSanitizer reports any
// mismatch with the allocator.
TEST(MatrixAlloc, FreedWithFreeByCallers) {
  Matrix* m = Matrix_New(4, 3);
  ImageU8* img = ImageU8_New(4, 3);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(img, nullptr);
  free(m->data);
  free(m);
  free(img->data);
  free(img);
  Matrix_Delete(nullptr);
  ImageU8_Delete(nullptr);
}

// The packed pictures of the BMP readers: three channels a pixel, the
// readers' layout (B, G, R order, stride 3 * width).
TEST(MatrixAlloc, PackedPictureSizesAndZeroedBlock) {
  for (const SizeCase& s : kSizes) {
    Rgb24ImagePtr rgb(Rgb24Image_New(s.cols, s.rows));
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->width, s.cols);
    EXPECT_EQ(rgb->height, s.rows);
    EXPECT_EQ(rgb->rgbOrder, 0);
    EXPECT_EQ(rgb->stride, 3 * s.cols);
    FloatPixelImagePtr fp(FloatPixelImage_New(s.cols, s.rows));
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->width, s.cols);
    EXPECT_EQ(fp->height, s.rows);
    ASSERT_TRUE(rgb->data != nullptr && fp->data != nullptr);
    const size_t n = s.cols > 0 && s.rows > 0 ? 3 * s.elements : 1;
    size_t nonZero = 0;
    for (size_t i = 0; i < n; ++i) nonZero += (rgb->data[i] != 0) + (fp->data[i] != 0.0f);
    EXPECT_EQ(nonZero, 0u) << s.cols << " x " << s.rows;
    rgb->data[n - 1] = 255;
    fp->data[n - 1] = 1.0f;
  }
}

TEST(MatrixAlloc, PackedPicturesFreedWithFreeByCallers) {
  Rgb24Image* rgb = Rgb24Image_New(4, 3);
  FloatPixelImage* fp = FloatPixelImage_New(4, 3);
  ASSERT_TRUE(rgb != nullptr && fp != nullptr);
  free(rgb->data);
  free(rgb);
  free(fp->data);
  free(fp);
  Rgb24Image_Delete(nullptr);
  FloatPixelImage_Delete(nullptr);
}

TEST(MatrixAlloc, MemberBlockNewAndFree) {
  Matrix member{7, 7, nullptr};
  ASSERT_TRUE(Matrix_NewData(&member, 3, 2));
  EXPECT_EQ(member.cols, 3);
  EXPECT_EQ(member.rows, 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(member.data[i], 0.0f);
  Matrix_FreeData(&member);
  EXPECT_EQ(member.data, nullptr);
  Matrix_FreeData(&member);  // a second release is harmless
}

// Integer tables held inside records: sizes as given, zeroed block of at
// least one element, freed with free() like the rest of the family.
TEST(MatrixAlloc, ImageI32MemberBlock) {
  for (const SizeCase& s : kSizes) {
    ImageI32 t{7, 7, nullptr};
    ASSERT_TRUE(ImageI32_NewData(&t, s.cols, s.rows));
    EXPECT_EQ(t.width, s.cols);
    EXPECT_EQ(t.height, s.rows);
    ASSERT_NE(t.data, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < s.elements; ++i) nonZero += t.data[i] != 0;
    EXPECT_EQ(nonZero, 0u) << s.cols << " x " << s.rows;
    t.data[s.elements - 1] = -1;
    ImageI32_FreeData(&t);
    EXPECT_EQ(t.data, nullptr);
    ImageI32_FreeData(&t);
  }
}

}  // namespace
