#include "sample_configuration.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "config/config.h"

namespace palisim::testing {

std::string sample_configuration_text() {
  std::ifstream in(PALISIM_SOURCE_DIR "/atalla.conf");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

SampleConfigurationFile::SampleConfigurationFile() {
  char path[] = "/tmp/palisim-sample-conf-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return;
  close(fd);
  path_ = path;
  std::ofstream(path_) << sample_configuration_text();
}

SampleConfigurationFile::~SampleConfigurationFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

Settings sample_settings() {
  SampleConfigurationFile file;
  Settings s;
  if (!load_settings(s, file.path(), "default")) apply_default_settings(s);
  return s;
}

}  // namespace palisim::testing
