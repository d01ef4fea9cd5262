// The command line of Palisim002.
#pragma once

#include <cstdint>
#include <string>

#include "config/defaults.h"

namespace palisim {

struct ProgramOptions {
  bool headless = false;                                // --headless: no window
  bool quiet = false;                                   // --quiet: no per-event trace lines
  bool help = false;                                    // --help
  std::string config_path = kDefaultConfigurationPath;  // --config PATH
  int port = -1;                                        // --port N; -1 keeps the configured port
  std::string interface_name;  // --interface any|localhost; empty keeps the configured one
};

// Parses argv; on a bad command line returns false with a message in `error`.
bool parse_program_options(int argc, char** argv, ProgramOptions& out, std::string& error);

extern const char kProgramUsage[];

}  // namespace palisim
