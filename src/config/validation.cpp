#include "config/validation.h"

#include <string_view>

#include "crypto/hex.h"

namespace palisim {

namespace {

constexpr long kMinPinLenLowest = 4;
// Command 30 refuses PINs longer than 12 digits, so a larger minimum would
// refuse every PIN.
constexpr long kMinPinLenHighest = 12;
constexpr long kMaxIdleTimeout = 86400;

std::string_view text_of(cfg_opt_t* opt) {
  const char* text = cfg_opt_getnstr(opt, 0);
  return text ? std::string_view(text) : std::string_view();
}

}  // namespace

int check_port(cfg_t* cfg, cfg_opt_t* opt) {
  long port = cfg_opt_getnint(opt, 0);
  if (port >= 1 && port <= 65535) return 0;
  cfg_error(cfg, "invalid port %ld in section '%s'", port, cfg_name(cfg));
  return -1;
}

int check_idle_timeout(cfg_t* cfg, cfg_opt_t* opt) {
  long seconds = cfg_opt_getnint(opt, 0);
  if (seconds >= 0 && seconds <= kMaxIdleTimeout) return 0;
  cfg_error(cfg, "idle timeout must be 0 to %ld seconds", kMaxIdleTimeout);
  return -1;
}

int check_key(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view key = text_of(opt);
  bool length_ok = key.size() == 16 || key.size() == 32 || key.size() == 48;
  if (length_ok && all_hex_digits(key)) return 0;
  cfg_error(cfg, "keys must be 16, 32, or 48 hex digits in length");
  return -1;
}

int check_min_pin_len(cfg_t* cfg, cfg_opt_t* opt) {
  long len = cfg_opt_getnint(opt, 0);
  if (len >= kMinPinLenLowest && len <= kMinPinLenHighest) return 0;
  cfg_error(cfg, "min PIN len must be 4 to 12");
  return -1;
}

int check_pin_sanity_indicator(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view v = text_of(opt);
  if (v == "S" || v == "L") return 0;
  cfg_error(cfg, "PIN sanity indicator must be S or L");
  return -1;
}

int check_second_pin_indicator(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view v = text_of(opt);
  if (v == "B" || v == "D" || v == "S") return 0;
  cfg_error(cfg, "second PIN indicator must be B, D or S");
  return -1;
}

}  // namespace palisim
