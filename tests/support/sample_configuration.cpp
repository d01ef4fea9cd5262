#include "sample_configuration.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "config/config.h"

namespace palisim::testing {

namespace {

bool fill_line(std::string& text, const std::string& empty_line, const std::string& filled_line) {
  size_t at = text.find(empty_line);
  if (at == std::string::npos) return false;
  text.replace(at, empty_line.size(), filled_line);
  return true;
}

}  // namespace

std::string sample_configuration_text() {
  std::ifstream in(PALISIM_SOURCE_DIR "/atalla.conf");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string letters = std::string("\"") + kSampleUsageLetters + "\"";
  if (!fill_line(text, "opte0 = \"\"", "opte0 = " + letters)) return "";
  if (!fill_line(text, "opte1 = \"\"", "opte1 = " + letters)) return "";
  return text;
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
