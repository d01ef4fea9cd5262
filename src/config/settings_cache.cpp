#include "config/settings_cache.h"

#include <sys/stat.h>

#include <confuse.h>

namespace palisim {

SettingsCache::SettingsCache(const char* path, const char* section_title,
                             const InjectRules* command_line_rules)
    : path_(path), section_title_(section_title) {
  if (command_line_rules) command_line_rules_ = *command_line_rules;
  inject_rules_ = command_line_rules_;
  apply_default_settings(settings_);
}

SettingsCache::~SettingsCache() {
  wipe_settings(settings_);
}

void SettingsCache::refresh() {
  struct stat st;
  if (version_ && stat(path_, &st) == 0 && file_version(st) == *version_) return;
  apply_default_settings(settings_);
  idle_timeout_s_ = 0;
  inject_rules_ = command_line_rules_;
  Configuration cfg = open_configuration(path_, &version_);
  loaded_ = cfg != nullptr;
  if (!cfg) return;
  // The check admits 0 to 86400 only.
  idle_timeout_s_ = static_cast<uint32_t>(cfg_getint(cfg.get(), "idle_timeout"));
  read_settings(settings_, cfg.get(), section_title_);
  read_inject_rules(inject_rules_, cfg.get(), section_title_);
}

}  // namespace palisim
