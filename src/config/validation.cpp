#include "config/validation.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "config/inject_rules.h"
#include "crypto/hex.h"
#include "protocol/command_catalog.h"

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

// The commands whose replies carry a verification result, and "*".
bool approvable(std::string_view command) {
  size_t row = command_row(command);
  return command == "*" || (row != kCommandCount && kCommandCatalog[row].approvable);
}

// "31, 32, 37, 5E, 99 or *": what approvable() takes.
std::string approvable_codes() {
  std::string out;
  for (const CommandInfo& row : kCommandCatalog) {
    if (!row.approvable) continue;
    if (!out.empty()) out.append(", ");
    out.append(written_code(row.code).view());
  }
  return out.append(" or *");
}

}  // namespace

bool is_listen_address(std::string_view text, long min_port) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  std::string_view port = text.substr(colon + 1);
  bool bracketed = host.front() == '[' && host.back() == ']' && host.size() > 2;
  // Only a bracketed IPv6 address may hold further colons.
  if (!bracketed && host.find_first_of(":[]") != std::string_view::npos) return false;
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  long value = 0;
  for (char c : port)
    value = value * 10 + (c - '0');
  return value >= min_port && value <= 65535;
}

int check_metrics_address(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view text = text_of(opt);
  if (text.empty() || is_listen_address(text, 1)) return 0;
  cfg_error(cfg, "metrics must be ADDRESS:PORT with a port of 1 to 65535");
  return -1;
}

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

bool is_key_text(std::string_view text) {
  bool length_ok = text.size() == 16 || text.size() == 32 || text.size() == 48;
  return length_ok && all_hex_digits(text);
}

int check_key(cfg_t* cfg, cfg_opt_t* opt) {
  if (is_key_text(text_of(opt))) return 0;
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

int check_inject_command(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view command = text_of(opt);
  if (command == "*" || command_row(command) != kCommandCount) return 0;
  cfg_error(cfg, "inject command must be * or a command code such as 31, not '%.*s'",
            static_cast<int>(command.size()), command.data());
  return -1;
}

int check_inject_probability(cfg_t* cfg, cfg_opt_t* opt) {
  double p = cfg_opt_getnfloat(opt, 0);
  if (p >= 0.0 && p <= 1.0) return 0;
  cfg_error(cfg, "inject probability must be 0 to 1, not %g", p);
  return -1;
}

int check_inject_delay(cfg_t* cfg, cfg_opt_t* opt) {
  long ms = cfg_opt_getnint(opt, 0);
  if (ms >= 0 && ms <= kMaxInjectDelayMs) return 0;
  cfg_error(cfg, "inject %s must be 0 to %d, not %ld", cfg_opt_name(opt), kMaxInjectDelayMs, ms);
  return -1;
}

int check_inject_reply(cfg_t* cfg, cfg_opt_t* opt) {
  std::string_view reply = text_of(opt);
  bool printable =
      std::all_of(reply.begin(), reply.end(), [](char ch) { return ch >= ' ' && ch <= '~'; });
  if (!reply.empty() && printable) return 0;
  // Unprintable text would not show in the message either.
  cfg_error(cfg, reply.empty() ? "inject reply must not be empty"
                               : "inject reply must be printable text without line ends or tabs");
  return -1;
}

int check_inject_section(cfg_t* cfg, cfg_opt_t* opt) {
  unsigned int count = cfg_opt_size(opt);
  if (count > kMaxInjectRules) {
    // Said once, though a parse that goes on meets every later section.
    if (count == kMaxInjectRules + 1) {
      cfg_error(cfg, "more than %d inject sections in section '%s'", kMaxInjectRules,
                cfg_title(cfg));
    }
    return -1;
  }
  cfg_t* rule = cfg_opt_getnsec(opt, count - 1);
  const char* command = cfg_getstr(rule, "command");
  if (!command) {
    cfg_error(cfg, "inject section without a command");
    return -1;
  }
  bool reply = cfg_getstr(rule, "reply") != nullptr;
  bool close = cfg_getbool(rule, "close") == cfg_true;
  bool approve = cfg_getbool(rule, "approve") == cfg_true;
  bool delayed = cfg_getint(rule, "latency_ms") != 0 || cfg_getint(rule, "jitter_ms") != 0;
  const char* refusal = nullptr;
  std::string cannot_approve;
  if (reply + close + approve > 1) {
    refusal = "gives more than one of reply, close and approve";
  } else if (!reply && !close && !approve && !delayed) {
    refusal = "does nothing: give latency_ms, jitter_ms, reply, close or approve";
  } else if (approve && !approvable(command)) {
    cannot_approve.append("cannot approve: approve takes ").append(approvable_codes());
    refusal = cannot_approve.c_str();
  }
  if (!refusal) return 0;
  cfg_error(cfg, "inject section for command %s %s", command, refusal);
  return -1;
}

}  // namespace palisim
