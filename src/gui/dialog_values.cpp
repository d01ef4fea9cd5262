#include "gui/dialog_values.h"

#include <strings.h>

#include "config/config.h"

namespace palisim {

bool load_dialog_values(DialogValues& values, const char* config_path) {
  ServerParameters params;
  if (!load_server_parameters(params, config_path)) return false;
  values.local_only = strcasecmp(params.interface_name, "any") != 0;
  values.port = params.port;
  values.trace = params.trace;
  return true;
}

void apply_program_options(DialogValues& values, const ProgramOptions& options) {
  if (!options.interface_name.empty()) values.local_only = options.interface_name != "any";
  if (options.port > 0) values.port = static_cast<uint16_t>(options.port);
}

std::optional<uint16_t> parse_dialog_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<uint16_t>(port);
}

}  // namespace palisim
