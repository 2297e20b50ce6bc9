#include "platform/h264_encoder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "pipeline/avi_writer.h"
#include "testsupport/media_probe.h"

namespace {

uint32_t FixedClock() { return 5000; }

// A moving gradient with a bright square: something for the encoder to do.
std::vector<uint8_t> TestFrame(int32_t w, int32_t h, int32_t t) {
  std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3 / 2);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t v = static_cast<uint8_t>(40 + (x + 2 * t) % 128 + y % 64);
      if (x > w / 4 + t && x < w / 2 + t && y > h / 4 && y < h / 2) v = 230;
      f[static_cast<size_t>(y) * w + x] = v;
    }
  uint8_t* uv = f.data() + static_cast<size_t>(w) * h;
  for (int32_t y = 0; y < h / 2; ++y)
    for (int32_t x = 0; x < w / 2; ++x) {
      uv[static_cast<size_t>(y) * w + 2 * x] = static_cast<uint8_t>(100 + x % 40);
      uv[static_cast<size_t>(y) * w + 2 * x + 1] = static_cast<uint8_t>(150 - y % 30);
    }
  return f;
}

class H264EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe/ffmpeg not installed (scripts/setup.sh)";
    AviWriter_SetClock(FixedClock);
    char tmpl[] = "/tmp/avmencXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    T7H264EncFactory_uninit();
    AviWriter_SetClock(nullptr);
    if (!dir_.empty()) system(("rm -rf " + dir_).c_str());
  }
  std::string dir_;
};

TEST_F(H264EncoderTest, RecordingIsAnH264AviThatFfprobeReads) {
  const int32_t w = 320, h = 240;
  ASSERT_EQ(T7H264EncFactory_init(w, h, w, h, 16, 16.0), 0);
  EXPECT_EQ(T7H264EncFactory_isRecording(), 0);
  const std::string path = dir_ + "/rec.avi";
  ASSERT_EQ(T7H264EncFactory_startRecord(path.c_str()), 0);
  EXPECT_NE(T7H264EncFactory_isRecording(), 0);
  std::vector<uint8_t> first;
  for (int t = 0; t < 12; ++t) {
    std::vector<uint8_t> f = TestFrame(w, h, t);
    if (t == 0) first = f;
    const uint64_t y = reinterpret_cast<uintptr_t>(f.data());
    ASSERT_EQ(T7H264EncFactory_updateAddrAndEncodeFrame(0, 0, y, y + static_cast<uint64_t>(w) * h), 0);
  }
  EXPECT_EQ(T7H264EncFactory_framesEncoded(), 12);
  ASSERT_EQ(T7H264EncFactory_stopRecord(), 0);
  EXPECT_EQ(T7H264EncFactory_isRecording(), 0);
  EXPECT_EQ(T7H264EncFactory_stopRecord(), -1);

  const std::vector<ProbedStream> s = Media_Probe(path, true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].codecName, "h264");
  EXPECT_EQ(s[0].width, w);
  EXPECT_EQ(s[0].height, h);
  EXPECT_EQ(s[0].frameRate, "16/1");
  EXPECT_EQ(s[0].frames, 12);
  const std::vector<uint8_t> decoded = Media_DecodeFrameNV12(path, 0);
  ASSERT_EQ(decoded.size(), first.size());
  EXPECT_GT(Media_Psnr(decoded.data(), first.data(), static_cast<size_t>(w) * h), 35.0);
}

TEST_F(H264EncoderTest, FramesAreScaledToTheEncodeSize) {
  ASSERT_EQ(T7H264EncFactory_init(640, 480, 320, 240, 8, 8.0), 0);
  const std::string path = dir_ + "/small.avi";
  ASSERT_EQ(T7H264EncFactory_startRecord(path.c_str()), 0);
  std::vector<uint8_t> f = TestFrame(640, 480, 0);
  const uint64_t y = reinterpret_cast<uintptr_t>(f.data());
  ASSERT_EQ(T7H264EncFactory_updateAddrAndEncodeFrame(0, 0, y, y + 640 * 480), 0);
  ASSERT_EQ(T7H264EncFactory_stopRecord(), 0);
  const std::vector<ProbedStream> s = Media_Probe(path, true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].width, 320);
  EXPECT_EQ(s[0].height, 240);
  EXPECT_EQ(s[0].frames, 1);
}

TEST_F(H264EncoderTest, RefusesBadSizesAndFramesWithoutARecording) {
  EXPECT_EQ(T7H264EncFactory_init(0, 240, 320, 240, 16, 16.0), -1);
  EXPECT_EQ(T7H264EncFactory_init(321, 240, 320, 240, 16, 16.0), -1);
  EXPECT_EQ(T7H264EncFactory_startRecord((dir_ + "/x.avi").c_str()), -1);  // not initialised
  ASSERT_EQ(T7H264EncFactory_init(320, 240, 320, 240, 16, 16.0), 0);
  std::vector<uint8_t> f = TestFrame(320, 240, 0);
  const uint64_t y = reinterpret_cast<uintptr_t>(f.data());
  EXPECT_EQ(T7H264EncFactory_updateAddrAndEncodeFrame(0, 0, y, y + 320 * 240), -1);
  EXPECT_EQ(T7H264EncFactory_startRecord((dir_ + "/no/such/dir.avi").c_str()), -1);
  EXPECT_EQ(T7H264EncFactory_isRecording(), 0);
}

}  // namespace
