// What a headless start and --check-config both prepare, in the order a
// start needs it: the configuration file, the listen address, the TLS
// context, the trace, the inject rules and the metrics address. The check
// runs the same preparation, so it refuses exactly what would stop a start.
// An option that can stop a start (a control address, a random seed) is
// prepared here, after the metrics address.
#pragma once

#include <cstdint>
#include <string>

#include "app/banner.h"
#include "app/options.h"
#include "config/config.h"
#include "server/tls_context.h"
#include "server/trace_mode.h"

namespace palisim {

struct StartPlan {
  bool file_loaded = false;  // the file parsed; else its defaults serve
  ParseReport report;        // what its parse found wrong
  ServerParameters params;   // the file's values, or the defaults
  FileSummary file;          // its MFK check value and inject rules
  int32_t inject_rules = 0;  // the file's and the command line's
  ListenAddress address{"any", kDefaultPort};
  TlsContext tls;                 // none without a TLS listener
  int32_t tls_port = kNoTlsPort;  // 0 for a free port
  TraceMode trace = TraceMode::kOff;
  std::string metrics;       // ADDRESS:PORT as given; "" for none
  std::string metrics_host;  // the address it binds, resolved
  std::string refusal;       // why the start cannot go on, one line without its line feed
};

// Fills plan; returns false with plan.refusal set when the TLS files or the
// metrics address would stop the start. Whether a file that did not load
// stops it is the caller's: see plan.file_loaded.
bool prepare_start(const ProgramOptions& options, StartPlan& plan);

}  // namespace palisim
