#include "app/start_plan.h"

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
  // Each further option that can stop a start is prepared here, in turn.
  return true;
}

}  // namespace palisim
