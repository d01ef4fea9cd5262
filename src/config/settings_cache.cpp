#include "config/settings_cache.h"

#include <sys/stat.h>

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
  Configuration cfg = open_configuration(path_, &version_);
  if (!cfg) return;
  read_settings(settings_, cfg.get(), section_title_);
}

}  // namespace palisim
