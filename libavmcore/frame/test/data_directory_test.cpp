#include "frame/data_directory.h"
#include "tvdecoder_api.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class DataDirectoryTest : public ::testing::Test {
 protected:
  void TearDown() override { SetDataDirectory(kDefaultDataDirectory); }
};

TEST_F(DataDirectoryTest, DefaultUntilTypeOneFiftyTwo) {
  EXPECT_STREQ(DataDirectory(), "/home/krv/1_morvelin");
  char path[256];
  ASSERT_TRUE(DataFilePath(path, sizeof path, "globalimage_base.txt"));
  EXPECT_STREQ(path, "/home/krv/1_morvelin/globalimage_base.txt");

  KRV_TVDecoder_CaptureFileEx("/tmp/data", 0, 151, 0);  // a capture type: no effect here
  EXPECT_STREQ(DataDirectory(), "/home/krv/1_morvelin");
  KRV_TVDecoder_CaptureFileEx("/tmp/data", 0, 152, 0);
  EXPECT_STREQ(DataDirectory(), "/tmp/data");
  ASSERT_TRUE(DataFilePath(path, sizeof path, "lut_config.krv"));
  EXPECT_STREQ(path, "/tmp/data/lut_config.krv");
}

TEST_F(DataDirectoryTest, PathThatDoesNotFitIsRefused) {
  std::string longest(kDataDirectorySize - 1, 'a');
  EXPECT_TRUE(SetDataDirectory(longest.c_str()));
  EXPECT_EQ(std::string(DataDirectory()), longest);

  std::string tooLong(kDataDirectorySize, 'b');
  testing::internal::CaptureStdout();
  KRV_TVDecoder_CaptureFileEx(tooLong.c_str(), 0, 152, 0);
  std::string log = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(DataDirectory()), longest);
  EXPECT_NE(log.find("refused"), std::string::npos);

  EXPECT_FALSE(SetDataDirectory(nullptr));
  EXPECT_EQ(std::string(DataDirectory()), longest);
}

TEST_F(DataDirectoryTest, FilePathTooLongForCallerBuffer) {
  SetDataDirectory("/data");
  char small[8];
  EXPECT_FALSE(DataFilePath(small, sizeof small, "globalimage_base.txt"));
  EXPECT_STREQ(small, "");
}

}  // namespace
