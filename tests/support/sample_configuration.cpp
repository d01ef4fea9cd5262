#include "sample_configuration.h"

#include <fstream>
#include <iterator>

#include "config/config.h"

namespace palisim::testing {

std::string sample_configuration_text() {
  std::ifstream in(PALISIM_SOURCE_DIR "/atalla.conf");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Settings sample_settings() {
  SampleConfigurationFile file;
  Settings s;
  if (!load_settings(s, file.path(), "default")) apply_default_settings(s);
  return s;
}

}  // namespace palisim::testing
