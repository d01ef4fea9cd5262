// What new connections take from the configuration file. The file is parsed
// again only when it changed, so the serving thread pays for at most one
// parse of at most 1 MiB per edit, however many clients connect.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "config/config.h"
#include "config/inject_rules.h"
#include "protocol/settings.h"

namespace palisim {

class SettingsCache {
 public:
  // Both texts must outlive the cache; `command_line_rules` (null for none)
  // come before the file's rules. `reread`, when given, is set by another
  // thread to have the next refresh parse the file whatever its version.
  // The file is read once at once, quietly: its owner has said what it found.
  SettingsCache(const char* path, const char* section_title,
                const InjectRules* command_line_rules = nullptr,
                std::atomic<bool>* reread = nullptr);
  ~SettingsCache();
  SettingsCache(const SettingsCache&) = delete;
  SettingsCache& operator=(const SettingsCache&) = delete;

  // Parses the file again unless it is the version parsed last. A file that
  // could not be opened is tried again every time, printing why each time.
  void refresh();

  // Why the settings hold no MFK ("atalla.conf:4 was refused (...)"); empty
  // when they hold one.
  const char* no_mfk_reason() const { return no_mfk_reason_; }

  // The section's settings, or the defaults when the file gave none.
  const Settings& settings() const { return settings_; }
  // The file's idle_timeout in seconds; 0 (never) when the file gave none.
  uint32_t idle_timeout_s() const { return idle_timeout_s_; }
  // The command line's inject rules, then the section's.
  const InjectRules& inject_rules() const { return inject_rules_; }
  // The last parse of the file succeeded.
  bool loaded() const { return loaded_; }

 private:
  // Parses the file and keeps what it gives, PALISIM_MFK in place of its
  // mfk; `quietly` prints nothing.
  void load(bool quietly);
  void load_file(bool quietly);

  const char* path_;
  const char* section_title_;
  InjectRules command_line_rules_;
  std::optional<FileVersion> version_;  // of the file parsed last; none if not opened
  Settings settings_;
  uint32_t idle_timeout_s_ = 0;
  InjectRules inject_rules_;
  std::atomic<bool>* reread_;
  char no_mfk_reason_[1536] = "";  // a path of up to 1023 bytes and a message
  bool loaded_ = false;
};

}  // namespace palisim
