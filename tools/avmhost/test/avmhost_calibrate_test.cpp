// Runs `avmhost calibrate --json` on the embedded sample (written by
// avmsample, a layout-1 site at known poses) and checks the JSON object it
// prints: four cameras, each solved near its true pose, result 0.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "frame/data_directory.h"
#include "testsupport/config_state.h"
#include "tools/avmsample/sample_calibrate.h"
#include "tools/avmhost/test/host_runner.h"

namespace {

// The three numbers of "key": [x, y, z] after position `from` of the text.
bool Triple(const std::string& text, const std::string& key, size_t from, double v[3]) {
  const size_t at = text.find("\"" + key + "\": [", from);
  if (at == std::string::npos) return false;
  return sscanf(text.c_str() + at + key.size() + 5, "%lf, %lf, %lf", &v[0], &v[1], &v[2]) == 3;
}

double RotationErrorDeg(const double* a, const double* b) {
  auto m = [](const double* r, double R[9]) {
    const double th = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double k[3] = {th > 0 ? r[0] / th : 0, th > 0 ? r[1] / th : 0, th > 0 ? r[2] / th : 0};
    const double c = std::cos(th), s = std::sin(th), v = 1 - c;
    const double M[9] = {c + k[0] * k[0] * v,        k[0] * k[1] * v - k[2] * s, k[0] * k[2] * v + k[1] * s,
                         k[1] * k[0] * v + k[2] * s, c + k[1] * k[1] * v,        k[1] * k[2] * v - k[0] * s,
                         k[2] * k[0] * v - k[1] * s, k[2] * k[1] * v + k[0] * s, c + k[2] * k[2] * v};
    for (int i = 0; i < 9; ++i) R[i] = M[i];
  };
  double A[9], B[9], t = 0;
  m(a, A);
  m(b, B);
  for (int i = 0; i < 9; ++i) t += A[i] * B[i];
  return std::acos(std::fmax(-1.0, std::fmin(1.0, (t - 1) / 2))) * 180.0 / 3.14159265358979;
}

TEST(AvmhostCalibrateTest, EmbeddedSampleSolvesEveryCameraNearItsTruePose) {
  ScopedConfigState state;
  const std::string out = state.Path("out");
  std::string json;
  ASSERT_EQ(RunHost("calibrate --json --out " + out, &json, HostStderr::kDropped), 0) << json;
  EXPECT_NE(json.find("\"result\": 0}"), std::string::npos) << json;
  size_t from = 0;
  for (int c = 1; c <= 4; ++c) {
    SCOPED_TRACE(c);
    from = json.find("{\"camera\": " + std::to_string(c), from);
    ASSERT_NE(from, std::string::npos) << json;
    int corners = 0;
    ASSERT_EQ(sscanf(json.c_str() + json.find("\"corners\": ", from) + 11, "%d", &corners), 1);
    EXPECT_EQ(corners, 24);
    double r[3], p[3], tr[3], tp[3];
    ASSERT_TRUE(Triple(json, "rvec", from, r));
    ASSERT_TRUE(Triple(json, "position", from, p));
    ASSERT_TRUE(Triple(json, "true_rvec", from, tr));
    ASSERT_TRUE(Triple(json, "true_position", from, tp));
    EXPECT_LE(RotationErrorDeg(r, tr), 0.25);
    EXPECT_LE(std::hypot(std::hypot(p[0] - tp[0], p[1] - tp[1]), p[2] - tp[2]), 15.0);
  }
  FILE* f = fopen((out + "/birdseye.bmp").c_str(), "rb");
  EXPECT_NE(f, nullptr);
  if (f != nullptr) fclose(f);
}

std::map<std::string, std::string> Contents(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[e.path().filename().string()] = bytes.str();
  }
  return files;
}

// With --out every file of the calibration goes to the output directory; the
// data directory keeps exactly the files and bytes it had.
TEST(AvmhostCalibrateTest, OutputDirectoryTakesEveryFileAndTheDataStayAsTheyWere) {
  ScopedConfigState state;
  const std::string data = state.Path("data"), out = state.Path("out");
  ASSERT_TRUE(WriteSampleCalibrate(data));
  const auto before = Contents(data);
  std::string json;
  ASSERT_EQ(RunHost("calibrate --json --data " + data + " --out " + out, &json, HostStderr::kDropped), 0) << json;
  const auto after = Contents(data);
  EXPECT_EQ(after.size(), before.size());
  for (const auto& f : after) {
    const auto it = before.find(f.first);
    EXPECT_TRUE(it != before.end() && it->second == f.second) << f.first << " written into the data directory";
  }
  const auto written = Contents(out);
  for (const char* name : {"lut_config.krv", "lut_birdseye.krv", "lut_mixareainfo.krv", "lut_dyncalpha.krv",
                           "birdseye.bmp", "adas_base.krv", "adas_bsds.krv", "adas_ldws.krv", "adas_lvsa.krv",
                           "adas_mods.krv", "adas_rcta.krv"})
    EXPECT_EQ(written.count(name), 1u) << name;
}

TEST(AvmhostCalibrateTest, MissingFrameIsReported) {
  ScopedConfigState state;
  std::string text;
  EXPECT_EQ(RunHost("calibrate --data " + state.dir() + " --frame " + state.Path("none.bmp"), &text, HostStderr::kDropped), 1);
}

}  // namespace
