// Where the server's new connections load their device settings from.
#pragma once

#include "config/defaults.h"

namespace palisim {

// Both texts are read at every accepted connection, so they must outlive the
// server run that was given them.
struct SettingsSource {
  const char* config_path = kDefaultConfigurationPath;
  const char* section_title = kDefaultSectionTitle;
};

}  // namespace palisim
