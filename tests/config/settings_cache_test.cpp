// The cache parses the file again only when its version changes.
#include "config/settings_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config_test_support.h"

namespace palisim {
namespace {

TEST_F(ConfigFileTest, SettingsCacheParsesOnlyAChangedFile) {
  std::string path = write_conf("atalla default { opt21 = true  }\n");
  SettingsCache cache(path.c_str(), "default");
  cache.refresh();
  EXPECT_EQ(cache.settings().opt21, 1);
  // The same size and modification time: the cache keeps what it parsed.
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  write_conf("atalla default { opt21 = false }\n");
  timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  cache.refresh();
  EXPECT_EQ(cache.settings().opt21, 1);
  // One nanosecond later is another version.
  times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  cache.refresh();
  EXPECT_EQ(cache.settings().opt21, 0);
  EXPECT_EQ(output_.take(), "");
}

}  // namespace
}  // namespace palisim
