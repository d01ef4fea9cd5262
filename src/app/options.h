// The command line of Palisim002, and the environment variables that stand
// for some of its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/config.h"
#include "config/defaults.h"
#include "config/inject_rules.h"
#include "server/trace_mode.h"

namespace palisim {

// Longer configuration paths are refused rather than cut.
inline constexpr size_t kMaxConfigPathLen = 1023;

// ProgramOptions::tls_port without --tls-port: the file's tls_port applies.
inline constexpr int kTlsPortOfFile = -2;

struct ProgramOptions {
  bool headless = false;                                // --headless: no window
  bool check_config = false;                            // --check-config: parse, report, exit
  bool quiet = false;                                   // --quiet: no per-event loop lines
  bool help = false;                                    // --help
  std::string config_path = kDefaultConfigurationPath;  // --config PATH
  bool config_named = false;       // by --config or PALISIM_CONFIG; then it must load
  int port = -1;                   // --port N, 0 for a free port; -1 keeps the configured port
  int tls_port = kTlsPortOfFile;   // --tls-port N (0 for a free port), or off: kNoTlsPort
  std::string interface_name;      // --interface any|localhost; empty keeps the configured one
  std::optional<TraceMode> trace;  // --trace[=full]; none leaves it to the file
  InjectRules inject;              // --inject RULE, each in turn
  std::string metrics;             // --metrics ADDRESS:PORT; empty leaves it to the file
};

// Takes PALISIM_CONFIG, PALISIM_PORT, PALISIM_TLS_PORT, PALISIM_INTERFACE and
// PALISIM_METRICS from the environment, checks PALISIM_MFK, then argv, which wins. On a bad value
// or command line returns false with a message in `error`.
bool parse_program_options(int argc, char** argv, ProgramOptions& out, std::string& error);

extern const char kProgramUsage[];

// Where to listen: the command line over the file's values (null for none),
// by the window's rule that any interface but "any" is the local machine.
struct ListenAddress {
  const char* interface_name;  // "any", "localhost" or the command line's
  uint16_t port;
};
ListenAddress listen_address(const ProgramOptions& options, const ServerParameters* file);

}  // namespace palisim
