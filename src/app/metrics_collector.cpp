#include "app/metrics_collector.h"

#include <limits>
#include <string>

#include "config/config.h"
#include "protocol/command_catalog.h"
#include "server/diag.h"

namespace palisim {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

// A command's label: its catalogue code as the protocol writes it (1A, 5D,
// 11B), or "other" for requests that matched no command.
std::string command_label(size_t row) {
  if (row >= kCommandCount) return "other";
  return written_code(kCommandCatalog[row].code).text.data();
}

MetricFamily family(const char* name, const char* help, MetricType type) {
  return MetricFamily{name, help, type, {}};
}

// A sample of a counter or gauge with its labels.
void add(MetricFamily& f, double value, std::vector<ClientMetric::Label> labels = {}) {
  ClientMetric m;
  m.label = std::move(labels);
  if (f.type == MetricType::Counter) {
    m.counter.value = value;
  } else {
    m.gauge.value = value;
  }
  f.metric.push_back(std::move(m));
}

double as_double(uint64_t n) {
  return static_cast<double>(n);
}

void add_command_families(const CommandStats& stats, std::vector<MetricFamily>& out) {
  MetricFamily requests =
      family("palisim_requests_total", "Requests answered, by command.", MetricType::Counter);
  MetricFamily errors = family("palisim_request_errors_total",
                               "Error replies, by command and error kind.", MetricType::Counter);
  MetricFamily injected = family("palisim_injected_actions_total",
                                 "Actions of inject rules, by command.", MetricType::Counter);
  MetricFamily time =
      family("palisim_handler_duration_seconds",
             "Time from a request's cut to its reply, by command.", MetricType::Histogram);
  for (size_t row = 0; row <= kCommandCount; ++row) {
    const CommandCounts c = stats.counts(row);
    std::string command = command_label(row);
    add(requests, as_double(c.requests), {{"command", command}});
    // The other series of a command appear with their first count, as a
    // client library's labelled series do: most pairs never occur, and a
    // scrape costs the server's core in proportion to its lines.
    if (c.requests == 0) continue;
    for (const ErrorKind& kind : kErrorKinds) {
      if (c.errors[kind.id] == 0) continue;
      add(errors, as_double(c.errors[kind.id]),
          {{"command", command}, {"kind", std::string(kind.text)}});
    }
    for (size_t a = 0; a < kInjectActionCount; ++a) {
      if (c.injected[a] == 0) continue;
      add(injected, as_double(c.injected[a]),
          {{"action", kInjectActionNames[a]}, {"command", command}});
    }
    ClientMetric h;
    h.label = {{"command", command}};
    uint64_t below = 0;
    for (size_t b = 0; b < c.handler_time.size(); ++b) {
      below += c.handler_time[b];
      double bound = b < kHandlerBucketsNs.size() ? static_cast<double>(kHandlerBucketsNs[b]) / 1e9
                                                  : std::numeric_limits<double>::infinity();
      h.histogram.bucket.push_back({below, bound});
    }
    h.histogram.sample_count = below;
    h.histogram.sample_sum = static_cast<double>(c.handler_ns) / 1e9;
    time.metric.push_back(std::move(h));
  }
  for (MetricFamily* f : {&requests, &errors, &injected, &time})
    out.push_back(std::move(*f));
}

// The catalogue's words for each code, to join on the command label.
void add_catalogue_family(std::vector<MetricFamily>& out) {
  MetricFamily info =
      family("palisim_command_info",
             "Each command's reply code and what it does, from the catalogue.", MetricType::Gauge);
  for (size_t row = 0; row < kCommandCount; ++row) {
    add(info, 1,
        {{"command", command_label(row)},
         {"name", std::string(kCommandCatalog[row].action)},
         {"reply_code", std::string(kCommandCatalog[row].reply_code)}});
  }
  out.push_back(std::move(info));
}

void add_connection_families(const LoopCounters& n, std::vector<MetricFamily>& out) {
  MetricFamily open =
      family("palisim_connections_open", "Connections holding a slot.", MetricType::Gauge);
  add(open, as_double(n.open));
  MetricFamily accepted =
      family("palisim_connections_accepted_total",
             "Connections accepted, also those closed at once.", MetricType::Counter);
  add(accepted, as_double(n.accepted));
  MetricFamily closed = family("palisim_connections_closed_total", "Connections closed, by cause.",
                               MetricType::Counter);
  for (size_t cause = 0; cause < kCloseCauseCount; ++cause) {
    if (kCloseCauseNames[cause]) {
      add(closed, as_double(n.closed[cause]), {{"cause", kCloseCauseNames[cause]}});
    }
  }
  for (MetricFamily* f : {&open, &accepted, &closed})
    out.push_back(std::move(*f));
}

void add_traffic_families(const LoopCounters& n, std::vector<MetricFamily>& out) {
  struct Plain {
    const char* name;
    const char* help;
    uint64_t value;
  };
  const Plain plain[] = {
      {"palisim_key_cache_hits_total", "Key blocks found in a connection's key cache.",
       n.key_cache_hits},
      {"palisim_key_cache_misses_total", "Key blocks opened because no cache held them.",
       n.key_cache_misses},
      {"palisim_received_bytes_total", "Bytes received from clients.", n.bytes_received},
      {"palisim_sent_bytes_total", "Bytes sent to clients.", n.bytes_sent},
      {"palisim_diagnostic_lines_dropped_total",
       "Diagnostic lines left out because the output did not take them.", diag_lines_dropped()},
  };
  for (const Plain& p : plain) {
    MetricFamily f = family(p.name, p.help, MetricType::Counter);
    add(f, as_double(p.value));
    out.push_back(std::move(f));
  }
}

void add_configuration_families(const LoopCounters& n, std::vector<MetricFamily>& out) {
  ConfigurationParses p = configuration_parses();
  MetricFamily parses = family("palisim_config_parses_total",
                               "Parses of the configuration file, by result.", MetricType::Counter);
  add(parses, as_double(p.loaded), {{"result", "loaded"}});
  add(parses, as_double(p.refused), {{"result", "refused"}});
  add(parses, as_double(p.missing), {{"result", "missing"}});
  MetricFamily loaded =
      family("palisim_config_loaded",
             "1 when new connections get the file's settings, 0 when defaults.", MetricType::Gauge);
  add(loaded, n.config_loaded ? 1 : 0);
  MetricFamily mfk =
      family("palisim_mfk_info", "Check value of the MFK new connections get, or none.",
             MetricType::Gauge);
  add(mfk, 1, {{"check_value", n.mfk_check.data()}});
  for (MetricFamily* f : {&parses, &loaded, &mfk})
    out.push_back(std::move(*f));
}

}  // namespace

std::vector<MetricFamily> MetricsCollector::Collect() const {
  LoopCounters n = counters_.snapshot();
  std::vector<MetricFamily> out;
  MetricFamily build = family("palisim_build_info", "The simulator's version.", MetricType::Gauge);
  add(build, 1, {{"version", PALISIM_VERSION}});
  out.push_back(std::move(build));
  MetricFamily start =
      family("palisim_start_time_seconds", "When the program started, in seconds since the epoch.",
             MetricType::Gauge);
  add(start, start_time_s_);
  out.push_back(std::move(start));
  add_catalogue_family(out);
  add_command_families(counters_.commands(), out);
  add_connection_families(n, out);
  add_traffic_families(n, out);
  add_configuration_families(n, out);
  return out;
}

}  // namespace palisim
