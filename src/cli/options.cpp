#include "cli/options.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace palisim {

namespace {

struct OptionRow {
  std::string_view name;
  OptionBit bit;
  std::string_view CliOptions::*value;  // nullptr for a flag
  bool CliOptions::*flag;               // nullptr for an option with a value
};

constexpr std::array<OptionRow, 17> kOptions = {{
    {"--host", kOptHost, &CliOptions::host, nullptr},
    {"--port", kOptPort, nullptr, nullptr},
    {"--explain", kOptExplain, nullptr, &CliOptions::explain},
    {"--config", kOptConfig, &CliOptions::config, nullptr},
    {"--mfk", kOptMfk, &CliOptions::mfk, nullptr},
    {"--kcv", kOptKcv, nullptr, &CliOptions::kcv},
    {"--pin", kOptPin, &CliOptions::pin, nullptr},
    {"--pan", kOptPan, &CliOptions::pan, nullptr},
    {"--format", kOptFormat, &CliOptions::format, nullptr},
    {"--key", kOptKey, &CliOptions::key, nullptr},
    {"--bdk", kOptBdk, &CliOptions::bdk, nullptr},
    {"--ksn", kOptKsn, &CliOptions::ksn, nullptr},
    {"--single", kOptSingle, nullptr, &CliOptions::single},
    {"--tls", kOptTls, nullptr, &CliOptions::tls},
    {"--cacert", kOptCacert, &CliOptions::cacert, nullptr},
    {"--cert", kOptCert, &CliOptions::cert, nullptr},
    {"--timeout", kOptTimeout, nullptr, nullptr},
}};

bool parse_port(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  port = value;
  return value >= 1 && value <= 65535;
}

// Seconds, to the millisecond: 0.5, 30; at most a day.
bool parse_timeout(std::string_view text, int& timeout_ms) {
  const std::string s(text);
  char* end = nullptr;
  double seconds = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !(seconds >= 0.001 && seconds <= 86400)) return false;
  timeout_ms = static_cast<int>(seconds * 1000 + 0.5);
  return true;
}

}  // namespace

bool parse_command_line(int argc, char** argv, CliOptions& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (!arg.starts_with("--")) {
      o.words.push_back(arg);
      continue;
    }
    const OptionRow* row = nullptr;
    for (const OptionRow& r : kOptions) {
      if (r.name == arg) row = &r;
    }
    if (!row) {
      error = "unknown option " + std::string(arg);
      return false;
    }
    o.given |= row->bit;
    if (row->flag) {
      o.*row->flag = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = std::string(arg) + " needs a value";
      return false;
    }
    std::string_view value = argv[++i];
    if (row->bit == kOptPort) {
      if (!parse_port(value, o.port)) {
        error = "--port must be 1 to 65535, not " + std::string(value);
        return false;
      }
    } else if (row->bit == kOptTimeout) {
      if (!parse_timeout(value, o.timeout_ms)) {
        error = "--timeout takes seconds, 0.001 to 86400, not " + std::string(value);
        return false;
      }
    } else {
      o.*row->value = value;
    }
  }
  return true;
}

bool check_options_used(const CliOptions& o, unsigned used, std::string_view mode,
                        std::string& error) {
  for (const OptionRow& row : kOptions) {
    if ((o.given & row.bit) && !(used & row.bit)) {
      error = std::string(row.name) + " does not apply to " + std::string(mode);
      return false;
    }
  }
  return true;
}

int refuse_input(std::string_view message) {
  std::fprintf(stderr, "palisim-cli: %.*s\n", static_cast<int>(message.size()), message.data());
  return kExitUsage;
}

}  // namespace palisim
