#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/data_directory.h"
#include "frame/log.h"

namespace {

std::vector<std::string>* g_lines = nullptr;
void Capture(const char* line) { g_lines->push_back(line); }

TEST(LogSink, LibraryLinesReachTheInstalledSink) {
  std::vector<std::string> lines;
  g_lines = &lines;
  const AvmLogSink previous = AvmLog_SetSink(Capture);
  EXPECT_EQ(previous, nullptr);  // standard output by default
  // A refused data directory logs through the sink.
  EXPECT_FALSE(SetDataDirectory(nullptr));
  AvmLog("value %d %s\n", 7, "x");
  EXPECT_EQ(AvmLog_SetSink(nullptr), &Capture);
  AvmLog("not captured\n");
  g_lines = nullptr;
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SetDataDirectory: null path refused\n");
  EXPECT_EQ(lines[1], "value 7 x\n");
}

TEST(LogSink, LongLinesAreCut) {
  std::vector<std::string> lines;
  g_lines = &lines;
  AvmLog_SetSink(Capture);
  AvmLog("%s", std::string(5000, 'a').c_str());
  AvmLog_SetSink(nullptr);
  g_lines = nullptr;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 1023u);
}

}  // namespace
