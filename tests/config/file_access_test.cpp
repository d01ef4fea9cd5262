// Paths that do not lead to a readable regular file give the warning line
// and no configuration, and never end the process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config.h"
#include "config_test_support.h"

namespace palisim {
namespace {

using FileAccessTest = ConfigFileTest;

std::string warning_for(const std::string& path) {
  return "warning: configuration file '" + path + "' could not be read\n";
}

TEST_F(FileAccessTest, MissingFileWarnsAndGivesNone) {
  std::string path = dir_.path_of("absent.conf");
  EXPECT_EQ(open_configuration(path.c_str()), nullptr);
  EXPECT_EQ(output_.take(), warning_for(path));
}

TEST_F(FileAccessTest, DirectoryIsTreatedAsUnreadable) {
  std::string path = dir_.path_of("");
  EXPECT_EQ(open_configuration(path.c_str()), nullptr);
  EXPECT_EQ(output_.take(), warning_for(path));
}

TEST_F(FileAccessTest, FifoIsTreatedAsUnreadableWithoutWaitingForAWriter) {
  std::string path = dir_.path_of("fifo.conf");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(open_configuration(path.c_str()), nullptr);
  EXPECT_EQ(output_.take(), warning_for(path));
}

TEST_F(FileAccessTest, FileWithoutReadPermissionWarns) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  std::string path = write_conf("port = 7001\n");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  EXPECT_EQ(open_configuration(path.c_str()), nullptr);
  EXPECT_EQ(output_.take(), warning_for(path));
}

TEST_F(FileAccessTest, ReadableFileParsesSilently) {
  Configuration cfg = open_configuration(write_conf("port = 7001\n").c_str());
  EXPECT_NE(cfg, nullptr);
  EXPECT_EQ(output_.take(), "");
}

TEST_F(FileAccessTest, EmptyPathWarns) {
  EXPECT_EQ(open_configuration(""), nullptr);
  EXPECT_EQ(output_.take(), warning_for(""));
}

}  // namespace
}  // namespace palisim
