// Where the server's new connections load their device settings and inject
// rules from.
#pragma once

#include <atomic>

#include "config/defaults.h"
#include "config/inject_rules.h"

namespace palisim {

// Both texts are read at every accepted connection, so they must outlive the
// server run that was given them; the rules are copied when the run starts.
struct SettingsSource {
  const char* config_path = kDefaultConfigurationPath;
  const char* section_title = kDefaultSectionTitle;
  const InjectRules* inject_rules = nullptr;  // tried before the file's rules; null for none
  // Set by another thread (on SIGHUP) to have the next accept read the file
  // afresh whatever its version; null for never.
  std::atomic<bool>* reread = nullptr;
};

}  // namespace palisim
