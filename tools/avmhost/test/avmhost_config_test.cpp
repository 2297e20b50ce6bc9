// Runs the built avmhost binary as the display application would be run and
// checks what it prints.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/avmhost/test/host_runner.h"

namespace {

struct HostRun {
  int status;
  std::string out;
};

HostRun RunHostCaptured(const std::string& args) {
  HostRun r{-1, ""};
  r.status = RunHost(args, &r.out);
  return r;
}

// The printed values of one record line, e.g. "  seamAngle  72 72 42 42".
std::string Field(const std::string& out, const std::string& record, const std::string& name) {
  std::istringstream in(out);
  std::string line;
  bool inRecord = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != ' ') {
      inRecord = line == record + ":";
      continue;
    }
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (inRecord && key == name) {
      std::string rest, w;
      while (words >> w) rest += (rest.empty() ? "" : " ") + w;
      return rest;
    }
  }
  return "<missing>";
}

TEST(AvmhostConfig, PrintsTheRecordsOfTheSampleData) {
  HostRun r = RunHostCaptured(std::string("config --data ") + AVMHOST_SAMPLE_DATA);
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find(std::string("data directory: ") + AVMHOST_SAMPLE_DATA)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("KRV_GlobalImage_Init: 0"));
  // The library reports reading the sample directory.
  EXPECT_NE(std::string::npos, r.out.find(std::string("V2.563 ") + AVMHOST_SAMPLE_DATA)) << r.out;
  struct Expect {
    const char* record;
    const char* field;
    const char* value;
  } expects[] = {
      {"Config", "zoneDistance", "500 1400 3000"},
      {"Config", "lateralMargin", "0"},
      {"Config", "seamAngle", "72 72 42 42"},
      {"Config", "seamFraction", "0.55 0.75 0.3 0.5"},
      {"Config", "trackCount", "0"},
      {"Config", "scaleY", "0"},
      {"ExtraConfig", "frontBlendWidth", "30"},
      {"ExtraConfig", "rearBlendWidth", "45"},
      {"ExtraConfig", "layoutMode", "2"},
      {"ExtraConfig", "nearMark", "500"},
      {"ExtraConfig", "derivedSizePercent", "50"},
      {"ExtraConfig", "traceOffset", "0"},
      {"AdvCameraConfig", "value0", "1"},
      {"AdvCameraConfig", "cameraBits", "0x0"},
      {"AdvCameraConfig", "trackCount", "1"},
      {"AdvCameraConfig", "centreX", "0"},
  };
  for (const Expect& e : expects) EXPECT_EQ(e.value, Field(r.out, e.record, e.field)) << e.record << "." << e.field;
}

TEST(AvmhostConfig, MissingDataDirectoryStillPrintsDefaults) {
  HostRun r = RunHostCaptured("config --data /nonexistent/avmhost-data");
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("GlobalVariables_Init fail")) << r.out;
  EXPECT_EQ("500 1400 3000", Field(r.out, "Config", "zoneDistance"));
}

TEST(AvmhostConfig, UnloadableLibraryIsReported) {
  HostRun r = RunHostCaptured("--lib /nonexistent/libavmcore.so config");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("cannot load")) << r.out;
}

}  // namespace
