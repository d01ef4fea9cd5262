#include <confuse.h>

#include <algorithm>
#include <cstring>

#include "config/config.h"
#include "config/copy_text.h"
#include "crypto/hex.h"

namespace palisim {

namespace {

// Converts a key text into key; returns the number of bytes written. The key
// check admits at most 48 digits; the cut keeps the buffer safe regardless.
size_t load_key(std::array<uint8_t, 24>& key, const char* text) {
  size_t digits = std::min(strlen(text), 2 * key.size());
  hex_to_binary(key.data(), text, digits);
  return digits / 2;
}

char first_char(const char* text) {
  return text ? text[0] : '\0';
}

}  // namespace

bool load_settings(Settings& settings, const char* path, const char* section_title) {
  Configuration cfg = open_configuration(path);
  return cfg && read_settings(settings, cfg.get(), section_title);
}

bool read_settings(Settings& settings, cfg_t* cfg, const char* section_title) {
  cfg_t* section = cfg_gettsec(cfg, "atalla", section_title);
  if (!section) return false;

  const char* mfk = cfg_getstr(section, "mfk");
  if (mfk && mfk[0] != '\0') {
    settings.mfk_len = static_cast<int32_t>(load_key(settings.mfk, mfk));
    settings.mfk_present = 1;
  }
  const char* pmfk = cfg_getstr(section, "pmfk");
  if (pmfk && pmfk[0] != '\0') {
    load_key(settings.pmfk, pmfk);
    settings.pmfk_present = 1;
  }
  for (const OptionFlag& flag : kOptionFlags) {
    settings.*flag.member = cfg_getbool(section, flag.name.data()) ? 1 : 0;
  }
  settings.min_pin_len =
      static_cast<int8_t>(static_cast<uint8_t>(cfg_getint(section, "opta0") & 0xFF));
  settings.pin_sanity = first_char(cfg_getstr(section, "opta1"));
  settings.second_pin = first_char(cfg_getstr(section, "opta2"));
  copy_text(settings.opte0, cfg_getstr(section, "opte0"));
  copy_text(settings.opte1, cfg_getstr(section, "opte1"));
  settings.opte2 = cfg_getbool(section, "opte2") ? 1 : 0;
  settings.opte3 = cfg_getbool(section, "opte3") ? 1 : 0;
  settings.opte4 = cfg_getbool(section, "opte4") ? 1 : 0;
  return true;
}

}  // namespace palisim
