#include "app/check_config.h"

#include <cstdio>

#include "app/banner.h"
#include "config/config.h"

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
  FileSummary file = summarise_file(cfg.get());
  int32_t rules = file.inject_rules + options.inject.count;
  TraceMode trace = options.trace.value_or(params.trace ? TraceMode::kMasked : TraceMode::kOff);
  std::printf("%s: OK: port %d, interface %s, mfk %s, %d inject rule%s, trace %s\n", path,
              address.port, address.interface_name, file.mfk.data(), rules, rules == 1 ? "" : "s",
              trace_name(trace));
  return 0;
}

}  // namespace palisim
