#include "config/settings_cache.h"

#include <sys/stat.h>

#include <confuse.h>

namespace palisim {

SettingsCache::SettingsCache(const char* path, const char* section_title)
    : path_(path), section_title_(section_title) {
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
  Configuration cfg = open_configuration(path_, &version_);
  if (!cfg) return;
  // The check admits 0 to 86400 only.
  idle_timeout_s_ = static_cast<uint32_t>(cfg_getint(cfg.get(), "idle_timeout"));
  read_settings(settings_, cfg.get(), section_title_);
}

}  // namespace palisim
