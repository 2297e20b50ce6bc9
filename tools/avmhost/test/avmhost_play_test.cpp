// Runs `avmhost play` on the play sample: frames through the exports,
// capture, recording and the colour gains of the tinted camera.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "testsupport/config_state.h"
#include "testsupport/media_probe.h"
#include "tools/avmhost/test/host_runner.h"
#include "tools/avmsample/sample_play.h"

namespace {

// The three gains after "colour gains right:".
bool RightGains(const std::string& out, float g[6]) {
  const size_t at = out.find("colour gains right:");
  return at != std::string::npos &&
         sscanf(out.c_str() + at, "colour gains right: R %f G %f B %f | R %f G %f B %f", &g[0], &g[1], &g[2], &g[3],
                &g[4], &g[5]) == 6;
}

TEST(AvmhostPlayTest, FramesInAndOutCaptureRecordingAndColourGains) {
  ScopedConfigState state;
  const std::string dir = state.Path("play");
  ASSERT_TRUE(WriteSamplePlay(dir));
  std::filesystem::create_directories(state.Path("cap"));
  std::string out;
  ASSERT_EQ(RunHost("play --data " + dir + " --frames 40 --record " + state.Path("rec.avi") + " --capture " +
                        state.Path("cap"),
                    &out),
            0)
      << out;
  EXPECT_NE(out.find("frames in: 40\n"), std::string::npos) << out;
  // An encode that takes longer than the slot wait (a loaded machine) may
  // cost a frame; every frame is either delivered or counted as dropped.
  // A machine too slow for the cameras' 25 frames a second (an emulated
  // target) also has its input calls time out, once for each frame the
  // decoder could not take: those frames are allowed for on top.
  long long outFrames = -1, dropped = -1, timeouts = -1;
  ASSERT_EQ(sscanf(out.c_str() + out.find("frames out:"), "frames out: %lld\ndropped frames: %lld\ninput time-outs: %lld",
                   &outFrames, &dropped, &timeouts),
            3);
  EXPECT_EQ(outFrames + dropped, 40);
  EXPECT_GE(outFrames + timeouts, 36) << out;
  EXPECT_NE(out.find("time per frame: mean"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(state.Path("cap/capture.bmp")));
  for (const char* p : {"first_before", "first_after", "last_before", "last_after"})
    EXPECT_TRUE(std::filesystem::exists(dir + "/birdseye_" + std::string(p) + ".bmp")) << p;
  // The right camera is darker and redder-less: its gains lift red most, blue least.
  float g[6];
  ASSERT_TRUE(RightGains(out, g)) << out;
  EXPECT_GT(g[0], g[1]);
  EXPECT_GT(g[1], g[2]);
  EXPECT_GT(g[0], 1.05f);
  if (!Media_ToolsAvailable()) return;
  const std::vector<ProbedStream> s = Media_Probe(state.Path("rec.avi"), true);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].codecName, "h264");
  EXPECT_EQ(s[0].width, 1280);
  // The recording thread encodes what it keeps up with: a machine whose
  // input calls timed out (too slow for real time) records fewer of the 20
  // frames, yet still more than one.
  EXPECT_GT(s[0].frames, timeouts > 0 ? 1 : 5) << out;
}

TEST(AvmhostPlayTest, DirectoryWithoutFramesIsAClearError) {
  ScopedConfigState state;
  std::string out;
  EXPECT_EQ(RunHost("play --data " + state.dir(), &out), 1);
  EXPECT_NE(out.find("avmsample play"), std::string::npos) << out;
}

}  // namespace
