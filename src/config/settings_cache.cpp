#include "config/settings_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <confuse.h>

#include "config/environment_mfk.h"

namespace palisim {

SettingsCache::SettingsCache(const char* path, const char* section_title,
                             const InjectRules* command_line_rules, std::atomic<bool>* reread)
    : path_(path), section_title_(section_title), reread_(reread) {
  if (command_line_rules) command_line_rules_ = *command_line_rules;
  load(true);
}

SettingsCache::~SettingsCache() {
  wipe_settings(settings_);
}

void SettingsCache::refresh() {
  bool asked = reread_ && reread_->exchange(false);
  struct stat st;
  if (!asked && version_ && stat(path_, &st) == 0 && file_version(st) == *version_) return;
  load(false);
}

void SettingsCache::load(bool quietly) {
  // With PALISIM_MFK a missing file is how the server is meant to run, said
  // once at the start rather than at every connection.
  load_file(quietly || (environment_mfk_given() && access(path_, F_OK) != 0));
  if (apply_environment_mfk(settings_)) no_mfk_reason_[0] = '\0';
}

void SettingsCache::load_file(bool quietly) {
  apply_default_settings(settings_);
  idle_timeout_s_ = 0;
  inject_rules_ = command_line_rules_;
  ParseReport report;
  report.quiet = quietly;
  Configuration cfg = open_configuration(path_, &version_, &report);
  loaded_ = cfg != nullptr;
  const size_t size = sizeof no_mfk_reason_;
  if (report.unreadable) {
    snprintf(no_mfk_reason_, size, "%s could not be read", path_);
  } else if (!cfg && report.first_line > 0) {
    snprintf(no_mfk_reason_, size, "%s:%d was refused (%s)", path_, report.first_line,
             report.first_problem);
  } else if (!cfg) {
    snprintf(no_mfk_reason_, size, "%s was refused (%s)", path_, report.first_problem);
  }
  if (!cfg) return;
  // The check admits 0 to 86400 only.
  idle_timeout_s_ = static_cast<uint32_t>(cfg_getint(cfg.get(), "idle_timeout"));
  if (!read_settings(settings_, cfg.get(), section_title_)) {
    snprintf(no_mfk_reason_, size, "%s has no atalla section titled '%s'", path_, section_title_);
  } else if (!settings_.mfk_present) {
    snprintf(no_mfk_reason_, size, "%s gives no mfk in section '%s'", path_, section_title_);
  } else {
    no_mfk_reason_[0] = '\0';
  }
  read_inject_rules(inject_rules_, cfg.get(), section_title_);
}

}  // namespace palisim
