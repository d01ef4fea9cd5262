// The command line of Palisim002, and the environment variables that stand
// for some of its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/defaults.h"
#include "config/inject_rules.h"
#include "server/trace_mode.h"

namespace palisim {

struct ProgramOptions {
  bool headless = false;                                // --headless: no window
  bool quiet = false;                                   // --quiet: no per-event loop lines
  bool help = false;                                    // --help
  std::string config_path = kDefaultConfigurationPath;  // --config PATH
  int port = -1;                   // --port N, 0 for a free port; -1 keeps the configured port
  std::string interface_name;      // --interface any|localhost; empty keeps the configured one
  std::optional<TraceMode> trace;  // --trace[=full]; none leaves it to the file
  InjectRules inject;              // --inject RULE, each in turn
  std::string metrics;             // --metrics ADDRESS:PORT; empty leaves it to the file
};

// Takes PALISIM_CONFIG, PALISIM_PORT and PALISIM_INTERFACE from the
// environment, then argv, which wins. On a bad value or command line returns
// false with a message in `error`.
bool parse_program_options(int argc, char** argv, ProgramOptions& out, std::string& error);

extern const char kProgramUsage[];

}  // namespace palisim
