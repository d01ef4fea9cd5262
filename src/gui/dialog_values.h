// The values the control window exchanges with its controls, where they
// come from at start, and the check they pass before the server starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "app/options.h"
#include "config/defaults.h"

namespace palisim {

struct DialogValues {
  bool local_only = false;       // "Local Only" chosen rather than "Any"
  uint16_t port = kDefaultPort;  // TCP port to listen on
  bool trace = false;            // the file's `trace`: a masked request trace unless --trace says
};

// Fills values from the configuration file's interface and port: "any" in
// any case means every interface, any other name the local machine only.
// Returns false, with values untouched, when the file cannot be loaded.
bool load_dialog_values(DialogValues& values, const char* config_path);

// --port and --interface, when given, replace the loaded values.
void apply_program_options(DialogValues& values, const ProgramOptions& options);

// The port box's text as a port: decimal digits only, 1 to 65535.
std::optional<uint16_t> parse_dialog_port(std::string_view text);

}  // namespace palisim
