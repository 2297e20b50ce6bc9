// Per-frame work of the decoder: numbered parameters, captures, colour
// correction on the live road, and recording with the overlay.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>

#include "../decoder_test_support.h"
#include "pipeline/avi_writer.h"
#include "platform/ion_device_model.h"
#include "testsupport/colour_overlap_scene.h"
#include "testsupport/media_probe.h"
#include "testsupport/osd_icons.h"
#include "testsupport/six_colour_scene.h"
#include "camera/lut_config_file.h"
#include "frame/global_variables.h"
#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

class DecoderWorkTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEncoder::Get().Reset(); }
  ScopedConfigState state_;
  OutputLog out_;
};

TEST(DecoderRulesTest, RecordRatesAndEncodedFrames) {
  const int32_t in[] = {0, 1, 2, 3, 4, 5, 9, 13, 17, 21, 100};
  const int32_t want[] = {1, 1, 2, 4, 4, 8, 12, 16, 20, 25, 25};
  for (size_t i = 0; i < sizeof in / sizeof in[0]; ++i) EXPECT_EQ(Decoder_RecordRate(in[i]), want[i]) << in[i];
  // Rate 16: n = 2, 5, 8 ... are skipped.
  for (int n = 0; n < 12; ++n) EXPECT_EQ(Decoder_ShouldEncodeFrame(16, n), n % 3 != 2) << n;
  const struct {
    int32_t rate, n;
    bool encoded;
  } cases[] = {{25, 7, true}, {20, 4, false}, {20, 5, true}, {8, 3, true}, {8, 4, false}, {4, 6, true},
               {4, 3, false}, {2, 12, true}, {2, 6, false}, {1, 25, true}, {1, 24, false}, {12, 3, false}};
  for (const auto& c : cases) EXPECT_EQ(Decoder_ShouldEncodeFrame(c.rate, c.n), c.encoded) << c.rate << " " << c.n;
}

TEST(DecoderRulesTest, SecondCaptureName) {
  EXPECT_EQ(Decoder_SecondCaptureName("/a/b.bmp"), "/a/b_2.bmp");
  EXPECT_EQ(Decoder_SecondCaptureName("/a.d/b"), "/a.d/b_2.bmp");
  EXPECT_EQ(Decoder_SecondCaptureName("pic"), "pic_2.bmp");
  EXPECT_EQ(Decoder_SecondCaptureName(std::string(255, 'x') + ".bmp"), std::string(255, 'x') + "_2.bmp");
}

TEST_F(DecoderWorkTest, NumberedParameters) {
  auto d = StartDecoder(64, 32, nullptr);
  EXPECT_EQ(d->GetEXResult(4), 0);  // no recording for 3 s at construction
  EXPECT_EQ(d->SetEXParam(2, 9), 0);
  EXPECT_EQ(d->recordFrameRate.load(), 12);
  d->SetEXParam(212, -150);
  EXPECT_EQ(d->vehicleSpeed.load(), -1);
  EXPECT_FLOAT_EQ(d->adas.speed.load(), -1.5f);
  d->SetEXParam(12, 40);
  EXPECT_EQ(d->vehicleSpeed.load(), 40);
  d->SetEXParam(45, 5);
  EXPECT_EQ(d->colorCorrectMode.load(), 1);
  d->SetEXParam(45, 0);
  EXPECT_EQ(d->colorCorrectMode.load(), 0);
  d->SetEXParam(21, 10);
  d->SetEXParam(41, 1200);
  EXPECT_EQ(d->osdMode.load(), 10);
  EXPECT_EQ(d->distanceKm.load(), 1200);
  d->SetEXParam(6, 1);  // a driver-assistance switch reaches the manager
  EXPECT_EQ(ADAS_IsAnyActive(&d->adas), 1);
  EXPECT_EQ(d->SetEXParam(999, 5), 0);
  for (int id : {0, 1, 2, 3, 5, 8}) EXPECT_EQ(d->GetEXResult(id), 0) << id;
}

TEST_F(DecoderWorkTest, CaptureWritesTheFrameAndTheSecondFrame) {
  const int32_t w = 64, h = 32;
  auto d = StartDecoder(w, h, nullptr);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  FramePool pool(w, h, 2);
  // A gradient so the picture is not flat; the second frame is half as high.
  for (size_t i = 0; i < pool.frames[0].size(); ++i) pool.frames[0][i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < pool.frames[1].size() / 2; ++i) pool.frames[1][i] = static_cast<uint8_t>(255 - i);
  const std::string path = state_.Path("cap.bmp");
  d->CaptureFileEx(path.c_str(), 3, 0, 0);
  const uint64_t v[6] = {1, pool.Addr(0), 0, 2, pool.Addr(1), 0};
  ASSERT_EQ(d->Input(v), 0);
  // The capture was saved before the input returned; expected pictures from
  // the frames as they are now (with their corner marks).
  auto expectBmp = [](const std::string& file, std::vector<uint8_t>& frame, int32_t fw, int32_t fh) {
    std::vector<uint8_t> rgb(static_cast<size_t>(fw) * fh * 3);
    const YuvSemiPlanarFrame f{fw, fh, frame.data(), frame.data() + static_cast<size_t>(fw) * fh, fw};
    const Rgb24Image want{fw, fh, 0, rgb.data(), 3 * fw};
    Yuv_NV12ToRGB24(&f, &want);
    const Rgb24ImagePtr got(Bmp_LoadRGB24(file.c_str()));
    ASSERT_NE(got, nullptr) << file;
    EXPECT_EQ(got->width, fw);
    EXPECT_EQ(got->height, fh);
    for (int32_t y = 0; y < fh; ++y)
      ASSERT_EQ(memcmp(got->data + static_cast<size_t>(y) * got->stride, rgb.data() + static_cast<size_t>(y) * 3 * fw,
                       static_cast<size_t>(3 * fw)),
                0)
          << file << " row " << y;
  };
  expectBmp(path, pool.frames[0], w, h);
  expectBmp(state_.Path("cap_2.bmp"), pool.frames[1], w, h / 2);
}

TEST_F(DecoderWorkTest, CaptureRequestsThatAreCancelledOrRefused) {
  DecoderTiming t;
  t.capturePolls = 5;
  auto d = StartDecoder(64, 32, nullptr, t);
  FramePool pool(64, 32, 1);
  // Type 200: the main thread cancels it on the next frame; no file.
  std::thread feeder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    InputFrame(d.get(), pool.Addr(0));
  });
  d->CaptureFileEx(state_.Path("c200.bmp").c_str(), 0, 200, 1);
  feeder.join();
  EXPECT_FALSE(state_.Exists("c200.bmp"));
  // A path longer than 255 characters is refused.
  d->CaptureFileEx(("/tmp/" + std::string(300, 'p')).c_str(), 0, 0, 0);
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0);
  // Type 0 left waiting without a main thread: an existing picture under
  // the name is blacked out, a missing one is not created.
  d->Shutdown();
  std::vector<uint8_t> grey(16 * 8, 200);
  ASSERT_EQ(Bmp_SaveGrayU8(16, 8, 16, grey.data(), state_.Path("old.bmp").c_str()), 1);
  d->CaptureFileEx(state_.Path("old.bmp").c_str(), 0, 0, 1);
  const Rgb24ImagePtr old(Bmp_LoadRGB24(state_.Path("old.bmp").c_str()));
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->width, 16);
  EXPECT_EQ(old->data[0] + old->data[3 * 15 * 8 + 2], 0);
  d->CaptureFileEx(state_.Path("none.bmp").c_str(), 0, 0, 1);
  EXPECT_FALSE(state_.Exists("none.bmp"));
}

TEST_F(DecoderWorkTest, ColourCorrectionOnTheLiveRoadConvergesWhileTheRecordIsRead) {
  const int32_t camW = 160, camH = 120;
  MixAreaInfo mix = ColourScene_MixArea(camW, camH, 60);
  ASSERT_EQ(MixAreaInfo_Save(&mix, state_.Path("lut_mixareainfo.krv").c_str()), 1);
  MixAreaInfo_Release(&mix);
  auto d = StartDecoder(2 * camW, 2 * camH, nullptr);
  ASSERT_EQ(d->mixAreaInfo.valid, 1u);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  const float tint[3] = {0.62f, 0.74f, 0.9f};
  const float gains[4][3] = {{1, 1, 1}, {1, 1, 1}, {tint[0], tint[1], tint[2]}, {1, 1, 1}};
  std::vector<uint8_t> frame = ColourScene_RenderNV12(camW, camH, gains);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    float v[132];
    while (!stop.load()) {
      d->GetColorCorrectValue(v);
      for (int i = 0; i < 132; i += 3) ASSERT_GT(v[i], 0.0f);
      d->GetEXResult(7);
    }
  });
  for (int f = 0; f < 60; ++f) ASSERT_EQ(InputFrame(d.get(), reinterpret_cast<uintptr_t>(frame.data())), 0);
  // SetEXParam 47 reloads the tables between frames.
  d->SetEXParam(47, 0);
  ASSERT_EQ(InputFrame(d.get(), reinterpret_cast<uintptr_t>(frame.data())), 0);
  stop = true;
  reader.join();
  float v[132];
  d->GetColorCorrectValue(v);
  // Region 1: camera 1 (first end, float 3) against camera 3 (second end, float 15).
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(v[3 + c] / v[15 + c] / tint[c], 1.0f, 0.04f) << c;
}

// Six cameras: frames with a second frame run the six-camera statistics and
// the brightness balance; the balance starts with the first fetch and
// converges as the four-camera correction does, while the caller fetches.
TEST_F(DecoderWorkTest, SixCameraColourWorkConvergesOnTheLiveRoad) {
  const int32_t camW = 160, camH = 120;
  MixAreaInfo mix = SixColourScene_MixArea(camW, camH, 60);
  ASSERT_EQ(MixAreaInfo_Save(&mix, state_.Path("lut_mixareainfo.krv").c_str()), 1);
  MixAreaInfo_Release(&mix);
  MixAreaSixEx six = SixColourScene_SixEx(camW, camH, 20);
  ASSERT_EQ(MixAreaSixEx_Save(&six, state_.Path("lut_mixareainfo_sixex.krv").c_str()), 1);
  MixAreaSixEx_Free(&six);
  auto d = StartDecoder(2 * camW, 2 * camH, nullptr);
  ASSERT_EQ(d->mixAreaSixEx.valid, 1u);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  const float tint[3] = {0.62f, 0.74f, 0.9f};
  const float gains[6][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {tint[0], tint[1], tint[2]}, {1, 1, 1}};
  std::vector<uint8_t> f1, f2;
  SixColourScene_RenderNV12(camW, camH, gains, &f1, &f2);
  const uint64_t a1 = reinterpret_cast<uintptr_t>(f1.data()), a2 = reinterpret_cast<uintptr_t>(f2.data());
  const uint64_t v[6] = {a1, a1, 0, a2, a2, 0};
  // Without a fetch the balance stays off.
  for (int f = 0; f < 5; ++f) ASSERT_EQ(d->Input(v), 0);
  float g[12];
  d->GetSixExColorCorrectValue(g);
  for (float x : g) EXPECT_EQ(x, 1.0f);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    float r[12], c[132];
    while (!stop.load()) {
      d->GetSixExColorCorrectValue(r);
      d->GetColorCorrectValue(c);
      for (float x : r) ASSERT_GT(x, 0.0f);
    }
  });
  for (int f = 0; f < 60; ++f) ASSERT_EQ(d->Input(v), 0);
  d->SetEXParam(47, 0);  // reloads both records between frames
  ASSERT_EQ(d->mixAreaSixEx.valid, 1u);
  ASSERT_EQ(d->Input(v), 0);
  stop = true;
  reader.join();
  d->GetSixExColorCorrectValue(g);
  float c[132];
  d->GetColorCorrectValue(c);
  for (int k = 0; k < 3; ++k) {
    // Left-front against left-rear, half-way each; the right side even.
    EXPECT_NEAR(g[k] / g[3 + k] / tint[k], 1.0f, 0.03f) << k;
    EXPECT_NEAR(g[6 + k], 1.0f, 0.01f) << k;
    // Region 3: the back camera (first end, float 6) against the left-rear
    // camera in the second frame (second end, float 12).
    EXPECT_NEAR(c[6 + k] / c[12 + k] / tint[k], 1.0f, 0.04f) << k;
  }
  EXPECT_EQ(d->GetEXResult(7), 0);  // no score with a second frame
}

TEST_F(DecoderWorkTest, BrightnessScoreGridIsBuiltOnTheCallersThreadWhileFramesRun) {
  const int32_t camW = 160, camH = 120;
  MixAreaInfo mix = ColourScene_MixArea(camW, camH, 60);
  ASSERT_EQ(MixAreaInfo_Save(&mix, state_.Path("lut_mixareainfo.krv").c_str()), 1);
  MixAreaInfo_Release(&mix);
  auto d = StartDecoder(2 * camW, 2 * camH, nullptr);
  LutConfigFileData cfg{};
  cfg.carWidth = 1800;
  cfg.carLength = 4600;
  cfg.model = 2;
  cfg.quadWidth = 2 * camW;
  cfg.quadHeight = 2 * camH;
  ASSERT_TRUE(LutConfigFile_Write(state_.Path("lut_config.krv").c_str(), cfg, gv().pointsPerCamera, gv().maxPoints));
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  const float gains[4][3] = {{1, 1, 1}, {1, 1, 1}, {0.6f, 0.6f, 0.6f}, {1, 1, 1}};
  std::vector<uint8_t> frame = ColourScene_RenderNV12(camW, camH, gains);
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    while (!stop.load()) InputFrame(d.get(), reinterpret_cast<uintptr_t>(frame.data()));
  });
  int32_t score = -1;
  for (int i = 0; i < 50; ++i) {
    score = d->GetEXResult(7);
    EXPECT_GE(score, 0);
    EXPECT_LE(score, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  feeder.join();
  EXPECT_NE(d->scoreGridReady.load(), nullptr);
}

TEST_F(DecoderWorkTest, EncoderThatFailsToStartGivesADistinctCodeAndIsRetried) {
  auto d = StartDecoder(64, 32, nullptr);
  FakeEncoder::Get().initResult = -1;
  EXPECT_EQ(d->StartRecordEx(state_.Path("a.avi").c_str(), 0), KRV_TVDECODER_RECORD_ENCODER_FAILED);
  EXPECT_EQ(d->encoderReady.load(), 0);
  FakeEncoder::Get().initResult = 0;
  EXPECT_EQ(d->StartRecordEx(state_.Path("a.avi").c_str(), 0), 0);
  EXPECT_EQ(FakeEncoder::Get().inits.load(), 2);
  EXPECT_EQ(d->encoderReady.load(), 1);
  TVDecoderMain notStarted;
  EXPECT_EQ(notStarted.StartRecordEx(state_.Path("b.avi").c_str(), 0), -1);
}

uint32_t FixedClock() { return 1000; }

// Frames through the real encoder stand-in; each input waits until the
// encoder thread has taken the previous frame, so every frame is encoded.
struct Recording {
  std::unique_ptr<TVDecoderMain> d;
  std::vector<std::vector<uint8_t>> frames;
  Recording(int32_t w, int32_t h, int32_t osdMode, int n, const std::string& path) {
    d.reset(new TVDecoderMain);
    d->platform.syncFiles = [] {};
    d->Init(1, w, h);
    d->SetEXParam(2, 25);
    d->SetEXParam(21, osdMode);
    d->SetEXParam(12, 35);
    EXPECT_EQ(d->StartRecordEx(path.c_str(), 0), 0);
    for (int i = 0; i < n; ++i) {
      frames.emplace_back(static_cast<size_t>(w) * h * 3 / 2);
      std::vector<uint8_t>& f = frames.back();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) f[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(60 + (x + y + 3 * i) % 120);
      for (size_t k = static_cast<size_t>(w) * h; k < f.size(); ++k) f[k] = static_cast<uint8_t>(110 + k % 30);
    }
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(InputFrame(d.get(), reinterpret_cast<uintptr_t>(frames[static_cast<size_t>(i)].data()), 100 + i), 0);
      for (int k = 0; k < 500 && d->Counters().framesEncoded < i + 1; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    d->StopRecordEx(0);
  }
};

TEST_F(DecoderWorkTest, RecordingWithOverlayIsReadBackByFfmpeg) {
  if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe/ffmpeg not installed (scripts/setup.sh)";
  ASSERT_TRUE(OsdIcons_Write(state_.dir(), 8, 12, 16, 8));
  AviWriter_SetClock(FixedClock);
  // The recording size (1280 x 720) is the frame size: no scaling.
  const int32_t w = 1280, h = 720;
  const std::string path = state_.Path("rec.avi");
  const int64_t commandsBefore = IonDeviceModel_Stats().frameCommands;
  Recording rec(w, h, 2, 6, path);
  EXPECT_EQ(rec.d->Counters().framesEncoded, 6);
  EXPECT_EQ(IonDeviceModel_Stats().frameCommands - commandsBefore, 6);
  EXPECT_EQ(IonDeviceModel_Stats().lastFrameCommand, 105u);
  rec.d.reset();
  AviWriter_SetClock(nullptr);
  const std::vector<ProbedStream> s = Media_Probe(path, true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].codecName, "h264");
  EXPECT_EQ(s[0].width, w);
  EXPECT_EQ(s[0].height, h);
  EXPECT_EQ(s[0].frameRate, "25/1");
  EXPECT_EQ(s[0].frames, 6);
  // The overlay is drawn into the frame itself: date at (16, 16), the speed after it.
  const std::vector<uint8_t>& first = rec.frames[0];
  uint8_t c[3];
  OsdIcon_Colour(OSD_GlyphIndex('2'), c);  // the year's first digit
  EXPECT_EQ(first[16 * w + 17], Rgb_ToY(c[0], c[1], c[2]));
  OsdIcon_Colour(OSD_GlyphIndex('3'), c);  // "35KM/h"
  EXPECT_EQ(first[16 * w + 16 + 20 * 8 + 1], Rgb_ToY(c[0], c[1], c[2]));
  const std::vector<uint8_t> decoded = Media_DecodeFrameNV12(path, 0);
  ASSERT_EQ(decoded.size(), first.size());
  const double psnr = Media_Psnr(decoded.data(), first.data(), static_cast<size_t>(w) * h);
  RecordProperty("first_frame_psnr_db", std::to_string(psnr));
  printf("recording: first frame PSNR %.2f dB\n", psnr);
  EXPECT_GT(psnr, 35.0);
}

std::atomic<uint32_t> g_recordNow{1000};
uint32_t RecordClock() { return g_recordNow.load(); }

// Frames fed at 16.7 per second through the decoder and the encoder
// stand-in, and a Stop 1.2 s after the last one: the file plays at the rate
// the frames were fed at, not at frames over the start-to-stop time.
TEST_F(DecoderWorkTest, RecordingRateFollowsTheFramesNotALateStop) {
  if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe/ffmpeg not installed (scripts/setup.sh)";
  g_recordNow = 1000;
  AviWriter_SetClock(RecordClock);
  const int32_t w = 128, h = 64, n = 30;
  const std::string path = state_.Path("late.avi");
  auto d = std::unique_ptr<TVDecoderMain>(new TVDecoderMain);
  d->platform.syncFiles = [] {};
  d->Init(1, w, h);
  d->SetEXParam(2, 25);      // every frame encoded
  d->SetEXParam(21, 65535);  // no overlay
  ASSERT_EQ(d->StartRecordEx(path.c_str(), 0), 0);
  FramePool pool(w, h, n);
  for (int i = 0; i < n; ++i) {
    if (i > 0) g_recordNow += 60;
    ASSERT_EQ(InputFrame(d.get(), pool.Addr(i)), 0);
    // The frame is written before the clock moves on.
    for (int k = 0; k < 2000 && d->Counters().framesEncoded < i + 1; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(d->Counters().framesEncoded, i + 1);
  }
  g_recordNow += 1200;
  d->StopRecordEx(0);
  d.reset();
  AviWriter_SetClock(nullptr);
  const std::vector<ProbedStream> s = Media_Probe(path, true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].frames, n);
  double num = 0, den = 0;
  ASSERT_EQ(sscanf(s[0].frameRate.c_str(), "%lf/%lf", &num, &den), 2) << s[0].frameRate;
  ASSERT_GT(den, 0.0);
  EXPECT_NEAR(num / den, 1000.0 / 60.0, 0.05 * 1000.0 / 60.0) << s[0].frameRate;
}

TEST_F(DecoderWorkTest, NoOverlayModeLeavesFramesUntouched) {
  if (!Media_ToolsAvailable()) GTEST_SKIP() << "ffprobe/ffmpeg not installed (scripts/setup.sh)";
  ASSERT_TRUE(OsdIcons_Write(state_.dir(), 8, 12, 16, 8));
  const int32_t w = 128, h = 64;
  Recording rec(w, h, 65535, 2, state_.Path("plain.avi"));
  EXPECT_EQ(rec.frames[0][16 * w + 17], static_cast<uint8_t>(60 + (17 + 16) % 120));
}

}  // namespace
