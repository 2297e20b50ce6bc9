#include "testsupport/test_lutob.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Lent buffers live on the test's side: destroying the holder must neither
// free them (AddressSanitizer: bad free) nor lose what the library put into
// the object itself (LeakSanitizer).
TEST(TestLutob, LentBuffersStayWithTheTest) {
  std::vector<float> pixels(16, 0.5f), points(2 * 59, -1.0f), world(3 * 59, 0.0f);
  Matrix image{4, 4, pixels.data()};
  {
    TestLutob lut(4, 4);
    EXPECT_EQ(lut->camW, 4);
    EXPECT_EQ(lut->camH, 4);
    EXPECT_EQ(lut->cfg.extraValue, 50);
    for (uint32_t camera = 1; camera <= 4; ++camera) lut.Lend(camera, &image, points.data(), world.data());
    lut.Lend(5, &image, nullptr, nullptr);  // no such camera: ignored
    EXPECT_EQ(lut->cameraImages[3], &image);
    EXPECT_EQ(lut->worldPoints[0], world.data());
    lut->imagePoints[2] = points.data();  // lent by direct assignment
  }
  EXPECT_EQ(pixels[15], 0.5f);
  EXPECT_EQ(points[0], -1.0f);
}

}  // namespace
