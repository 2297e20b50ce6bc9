#include "pipeline/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport/config_state.h"
#include "testsupport/file_bytes.h"
#include "testsupport/media_probe.h"

namespace {

std::atomic<uint32_t> g_now{1000};
uint32_t FakeClock() { return g_now.load(); }

uint32_t U32(const std::string& b, size_t at) {
  uint32_t v;
  memcpy(&v, b.data() + at, 4);
  return v;
}
std::string Tag(const std::string& b, size_t at) { return b.substr(at, 4); }

class AviWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    AviWriter_SetClock(FakeClock);
  }
  void TearDown() override { AviWriter_SetClock(nullptr); }
  std::string Bytes(const std::string& name) {
    std::ifstream in(state_.Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ScopedConfigState state_;
};

TEST_F(AviWriterTest, ByteLayoutOfAVideoFile) {
  AviWriter* w = AviWriter_Open(state_.Path("v.avi").c_str(), 16, 8, "H264", 25.0f);
  ASSERT_NE(w, nullptr);
  const std::string a(10, 'a'), b(7, 'b'), c(20, 'c');
  ASSERT_EQ(AviWriter_WriteVideo(w, a.data(), 10, nullptr, 0, 1), 0);
  ASSERT_EQ(AviWriter_WriteVideo(w, b.data(), 7, nullptr, 0, 0), 0);  // odd: padded
  ASSERT_EQ(AviWriter_WriteVideo(w, c.data(), 10, c.data() + 10, 10, 0), 0);  // with extra bytes
  ASSERT_EQ(AviWriter_Close(w), 0);  // no time passed: the stored rate stays
  EXPECT_EQ(AviWriter_LastFrameCount(), 3);
  const std::string f = Bytes("v.avi");
  const size_t chunks = (8 + 10) + (8 + 8) + (8 + 20);
  ASSERT_EQ(f.size(), 2048 + chunks + 8 + 3 * 16);
  EXPECT_EQ(Tag(f, 0), "RIFF");
  EXPECT_EQ(U32(f, 4), f.size() - 8);
  EXPECT_EQ(Tag(f, 8), "AVI ");
  EXPECT_EQ(Tag(f, 12), "LIST");
  EXPECT_EQ(U32(f, 16), 192u);
  EXPECT_EQ(Tag(f, 20), "hdrl");
  EXPECT_EQ(Tag(f, 24), "avih");
  EXPECT_EQ(U32(f, 28), 56u);
  EXPECT_EQ(U32(f, 32), 40000u);  // microseconds per frame
  EXPECT_EQ(U32(f, 36), 10000000u);
  EXPECT_EQ(U32(f, 44), 0x10010u);  // capture file, has index
  EXPECT_EQ(U32(f, 48), 3u);
  EXPECT_EQ(U32(f, 56), 1u);  // streams
  EXPECT_EQ(U32(f, 64), 16u);
  EXPECT_EQ(U32(f, 68), 8u);
  EXPECT_EQ(Tag(f, 88), "LIST");
  EXPECT_EQ(U32(f, 92), 116u);
  EXPECT_EQ(Tag(f, 96), "strl");
  EXPECT_EQ(Tag(f, 100), "strh");
  EXPECT_EQ(Tag(f, 108), "vids");
  EXPECT_EQ(Tag(f, 112), "H264");
  EXPECT_EQ(U32(f, 128), 40000u);    // scale
  EXPECT_EQ(U32(f, 132), 1000000u);  // rate
  EXPECT_EQ(U32(f, 140), 3u);        // length
  EXPECT_EQ(U32(f, 148), 0xFFFFFFFFu);
  EXPECT_EQ(Tag(f, 164), "strf");
  EXPECT_EQ(U32(f, 168), 40u);
  EXPECT_EQ(U32(f, 172), 40u);
  EXPECT_EQ(Tag(f, 188), "H264");
  EXPECT_EQ(U32(f, 192), 16u * 8u);
  EXPECT_EQ(Tag(f, 212), "JUNK");
  EXPECT_EQ(U32(f, 216), 1816u);
  EXPECT_EQ(Tag(f, 2036), "LIST");
  EXPECT_EQ(U32(f, 2040), 2048 + chunks - 2044);
  EXPECT_EQ(Tag(f, 2044), "movi");
  EXPECT_EQ(Tag(f, 2048), "00db");
  EXPECT_EQ(U32(f, 2052), 10u);
  EXPECT_EQ(U32(f, 2048 + 18 + 4), 8u);  // 7 rounded up to even
  EXPECT_EQ(f[2048 + 18 + 8 + 7], '\0');
  const size_t idx = 2048 + chunks;
  EXPECT_EQ(Tag(f, idx), "idx1");
  EXPECT_EQ(U32(f, idx + 4), 48u);
  const uint32_t want[3][4] = {{0, 16, 2048, 10}, {0, 16, 2048 + 18, 7}, {0, 16, 2048 + 34, 20}};
  for (int e = 0; e < 3; ++e) {
    EXPECT_EQ(Tag(f, idx + 8 + 16 * e), "00db");
    for (int k = 1; k < 4; ++k) EXPECT_EQ(U32(f, idx + 8 + 16 * e + 4 * k), want[e][k]) << e << " " << k;
  }
}

// The header rate is the rate the frames were written at, first frame to
// last: neither the wait before the first frame nor a late close counts.
TEST_F(AviWriterTest, MeasuredRateComesFromTheFramesWritten) {
  const struct {
    const char* what;
    float nominal;
    uint32_t lead, gap, tail;  // ms before the first frame, between frames, after the last
    int frames;
    uint32_t usPerFrame;
  } cases[] = {
      {"fed faster than nominal, closed late", 10.0f, 300, 20, 1200, 25, 20000},
      {"fed slower than nominal, closed late", 25.0f, 0, 60, 1200, 10, 60000},
      {"fed at nominal, closed at once", 25.0f, 0, 40, 0, 5, 40000},
      {"one frame: nothing to measure", 16.0f, 0, 60, 1200, 1, 62500},
      {"no time between frames: nominal kept", 25.0f, 0, 0, 500, 3, 40000},
  };
  for (const auto& c : cases) {
    g_now = 1000;
    AviWriter* w = AviWriter_Open(state_.Path("r.avi").c_str(), 16, 8, "H264", c.nominal);
    ASSERT_NE(w, nullptr) << c.what;
    g_now += c.lead;
    for (int i = 0; i < c.frames; ++i) {
      if (i > 0) g_now += c.gap;
      ASSERT_EQ(AviWriter_WriteVideo(w, "xx", 2, nullptr, 0, 1), 0) << c.what;
    }
    g_now += c.tail;
    ASSERT_EQ(AviWriter_Close(w), 0) << c.what;
    const std::string f = Bytes("r.avi");
    EXPECT_EQ(U32(f, 32), c.usPerFrame) << c.what;   // main header
    EXPECT_EQ(U32(f, 128), c.usPerFrame) << c.what;  // stream scale
  }
}

// Frames fed at 16.7 per second and a Stop 1.2 s after the last one: a
// player reads the rate they were fed at.
TEST_F(AviWriterTest, LateCloseKeepsTheFedRateForFfprobe) {
  if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe not installed (scripts/setup.sh)";
  const int32_t w = 16, h = 8;
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h, 90);  // raw grey ("Y800")
  AviWriter* avi = AviWriter_Open(state_.Path("late.avi").c_str(), w, h, "Y800", 16.0f);
  ASSERT_NE(avi, nullptr);
  for (int i = 0; i < 40; ++i) {
    if (i > 0) g_now += 60;
    ASSERT_EQ(AviWriter_WriteVideo(avi, frame.data(), static_cast<int32_t>(frame.size()), nullptr, 0, 1), 0);
  }
  g_now += 1200;
  ASSERT_EQ(AviWriter_Close(avi), 0);
  const std::vector<ProbedStream> s = Media_Probe(state_.Path("late.avi"), true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].frames, 40);
  double num = 0, den = 0;
  ASSERT_EQ(sscanf(s[0].frameRate.c_str(), "%lf/%lf", &num, &den), 2) << s[0].frameRate;
  ASSERT_GT(den, 0.0);
  EXPECT_NEAR(num / den, 1000.0 / 60.0, 0.05 * 1000.0 / 60.0) << s[0].frameRate;
}

TEST_F(AviWriterTest, VideoWithAndWithoutAudioReadByFfprobe) {
  if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe not installed (scripts/setup.sh)";
  const int32_t w = 16, h = 8;
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h);  // raw grey ("Y800")
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> block(256, 0);  // silent IMA ADPCM blocks
  for (bool audio : {false, true}) {
    const std::string name = audio ? "av.avi" : "v.avi";
    AviWriter* avi = AviWriter_Open(state_.Path(name).c_str(), w, h, "Y800", 10.0f);
    ASSERT_NE(avi, nullptr);
    if (audio) AviWriter_SetAudio(avi, 17, 1, 16000, 4);
    for (int i = 0; i < 5; ++i)
      ASSERT_EQ(AviWriter_WriteFrameAudio(avi, frame.data(), static_cast<int32_t>(frame.size()), block.data(), 256,
                                          audio ? 3 : 1),
                0);
    ASSERT_EQ(AviWriter_Close(avi), 0);
    const std::vector<ProbedStream> s = Media_Probe(state_.Path(name), true);
    ASSERT_EQ(s.size(), audio ? 2u : 1u) << name;
    EXPECT_EQ(s[0].codecType, "video");
    EXPECT_EQ(s[0].width, w);
    EXPECT_EQ(s[0].height, h);
    EXPECT_EQ(s[0].frameRate, "10/1");
    EXPECT_EQ(s[0].frames, 5);
    if (audio) {
      EXPECT_EQ(s[1].codecType, "audio");
      EXPECT_EQ(s[1].codecName, "adpcm_ima_wav");
      EXPECT_EQ(U32(Bytes(name), 16), 296u);
      EXPECT_EQ(U32(Bytes(name), 56), 2u);
      EXPECT_EQ(Tag(Bytes(name), 316), "JUNK");
    }
  }
}

TEST_F(AviWriterTest, SizeLimitAndWriteFailuresSetTheErrorWord) {
  AviWriter* w = AviWriter_Open(state_.Path("s.avi").c_str(), 16, 8, "H264", 25.0f);
  ASSERT_NE(w, nullptr);
  w->sizeLimit = 2048 + 16 + 50 + 16 + 16;
  ASSERT_EQ(AviWriter_WriteVideo(w, std::string(50, 'x').data(), 50, nullptr, 0, 1), 0);
  const int64_t at = w->position;
  EXPECT_EQ(AviWriter_WriteVideo(w, "y", 1, nullptr, 0, 1), -1);
  EXPECT_EQ(AviWriter_LastError(), kAviErrorSizeLimit);
  EXPECT_EQ(w->position, at);
  EXPECT_EQ(w->frames, 1);
  ASSERT_EQ(AviWriter_Close(w), 0);
  EXPECT_EQ(AviWriter_LastFrameCount(), 1);

  EXPECT_EQ(AviWriter_Open(state_.Path("no/dir.avi").c_str(), 16, 8, "H264", 25.0f), nullptr);
  EXPECT_EQ(AviWriter_LastError(), kAviErrorOpen);
  EXPECT_EQ(AviWriter_Open("/dev/full", 16, 8, "H264", 25.0f), nullptr);  // the header cannot be written
  EXPECT_EQ(AviWriter_LastError(), kAviErrorWrite);

  // A device that fills up mid-recording: the chunk write fails and the
  // position stays at the end of the last good chunk.
  w = AviWriter_Open(state_.Path("f.avi").c_str(), 16, 8, "H264", 25.0f);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(AviWriter_WriteVideo(w, "abcd", 4, nullptr, 0, 1), 0);
  ASSERT_NE(freopen("/dev/full", "wb", w->file), nullptr);
  setvbuf(w->file, nullptr, _IONBF, 0);
  const int64_t good = w->position;
  EXPECT_EQ(AviWriter_WriteVideo(w, "efgh", 4, nullptr, 0, 1), -1);
  EXPECT_EQ(AviWriter_LastError(), kAviErrorWrite);
  EXPECT_EQ(w->position, good);
  EXPECT_EQ(AviWriter_Close(w), -1);
}

}  // namespace
