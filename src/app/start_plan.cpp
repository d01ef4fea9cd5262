#include "app/start_plan.h"

#include <cstring>

#include "app/control_server.h"
#include "app/metrics_endpoint.h"

namespace palisim {

bool prepare_start(const ProgramOptions& options, StartPlan& plan) {
  Configuration cfg = open_configuration(options.config_path.c_str(), nullptr, &plan.report);
  plan.file_loaded = cfg != nullptr;
  if (cfg) {
    read_server_parameters(plan.params, cfg.get());
    plan.file = summarise_file(cfg.get());
  }
  plan.address = listen_address(options, plan.file_loaded ? &plan.params : nullptr);
  plan.tls_port = options.tls_port != kTlsPortOfFile ? options.tls_port : plan.params.tls.port;
  plan.trace = options.trace.value_or(plan.params.trace ? TraceMode::kMasked : TraceMode::kOff);
  plan.inject_rules = plan.file.inject_rules + options.inject.count;
  // The certificate and key are checked before anything listens.
  if (plan.tls_port != kNoTlsPort) {
    plan.params.tls.port = plan.tls_port;
    plan.tls = load_tls_context(plan.params.tls, plan.refusal);
    if (!plan.tls) return false;
  }
  plan.metrics = !options.metrics.empty() ? options.metrics : plan.params.metrics;
  if (!plan.metrics.empty() && !metrics_bind_host(plan.metrics, plan.metrics_host, plan.refusal)) {
    return false;
  }
  // The control port: the command line, then the environment, then the file.
  plan.control = !options.control.empty() ? options.control : plan.params.control;
  plan.control_token =
      !options.control_token.empty() ? options.control_token : plan.params.control_token;
  plan.journal_size = plan.params.journal_size;
  if (!plan.control.empty() && plan.control_token.empty() && !is_loopback_address(plan.control)) {
    // Anyone who reaches the port could change what the simulator answers.
    plan.refusal = "Palisim002 not started: the control port " + plan.control +
                   " is not on loopback and no control_token is set.";
    return false;
  }
  plan.seed = options.seed;
  if (plan.seed.empty() && plan.params.random_seed[0]) {
    // The file's check admits only a valid seed.
    parse_random_seed({plan.params.random_seed, std::strlen(plan.params.random_seed)}, plan.seed);
  }
  // Each further option that can stop a start is prepared here, in turn.
  return true;
}

}  // namespace palisim
