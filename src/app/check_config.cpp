#include "app/check_config.h"

#include <cstdio>

#include "app/start_plan.h"

namespace palisim {

int check_configuration(const ProgramOptions& options) {
  const char* path = options.config_path.c_str();
  // Straight to standard output: nothing else is printed meanwhile.
  set_configuration_output(stdout);
  StartPlan plan;
  bool ready = prepare_start(options, plan);
  if (!plan.file_loaded) {
    std::printf("%s: refused: %s\n", path,
                plan.report.unreadable ? "could not be read" : "the server would not load it");
    return 2;
  }
  if (!ready) {
    std::printf("%s: refused: %s\n", path, plan.refusal.c_str());
    return 2;
  }
  char tls[32] = "";
  if (plan.tls) std::snprintf(tls, sizeof tls, ", tls port %d", plan.tls_port);
  std::printf("%s: OK: port %d%s, interface %s, mfk %s, %d inject rule%s, trace %s\n", path,
              plan.address.port, tls, plan.address.interface_name, plan.file.mfk.data(),
              plan.inject_rules, plan.inject_rules == 1 ? "" : "s", trace_name(plan.trace));
  return 0;
}

}  // namespace palisim
