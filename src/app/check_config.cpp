#include "app/check_config.h"

#include <cstdio>
#include <string>

#include "app/banner.h"
#include "config/config.h"
#include "server/tls_context.h"

namespace palisim {

int check_configuration(const ProgramOptions& options) {
  const char* path = options.config_path.c_str();
  // Straight to standard output: nothing else is printed meanwhile.
  set_configuration_output(stdout);
  ParseReport report;
  Configuration cfg = open_configuration(path, nullptr, &report);
  if (!cfg) {
    std::printf("%s: refused: %s\n", path,
                report.unreadable ? "could not be read" : "the server would not load it");
    return 2;
  }
  ServerParameters params;
  read_server_parameters(params, cfg.get());
  ListenAddress address = listen_address(options, &params);
  // The TLS files are loaded as a start would load them.
  if (options.tls_port >= 0) params.tls.port = static_cast<uint16_t>(options.tls_port);
  char tls[32] = "";
  if (params.tls.port != 0) {
    std::string error;
    if (!load_tls_context(params.tls, error)) {
      std::printf("%s: refused: %s\n", path, error.c_str());
      return 2;
    }
    std::snprintf(tls, sizeof tls, ", tls port %d", params.tls.port);
  }
  FileSummary file = summarise_file(cfg.get());
  int32_t rules = file.inject_rules + options.inject.count;
  TraceMode trace = options.trace.value_or(params.trace ? TraceMode::kMasked : TraceMode::kOff);
  std::printf("%s: OK: port %d%s, interface %s, mfk %s, %d inject rule%s, trace %s\n", path,
              address.port, tls, address.interface_name, file.mfk.data(), rules,
              rules == 1 ? "" : "s", trace_name(trace));
  return 0;
}

}  // namespace palisim
