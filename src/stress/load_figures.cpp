#include "stress/load_figures.h"

#include <cstdio>

namespace palisim::stress {

namespace {

double rate_of(const LoadFigures& f) {
  return f.seconds > 0 ? static_cast<double>(f.replies) / f.seconds : 0.0;
}

struct Latencies {
  int64_t min, p50, p90, p99, p999, max;
};

Latencies latencies_of(const LatencyHistogram& h) {
  return {h.min_us(),          h.quantile_us(0.5),   h.quantile_us(0.9),
          h.quantile_us(0.99), h.quantile_us(0.999), h.max_us()};
}

void print_json_string(const char* s) {
  std::putchar('"');
  for (; *s; ++s) {
    auto c = static_cast<unsigned char>(*s);
    if (c == '"' || c == '\\') {
      std::printf("\\%c", c);
    } else if (c < 0x20) {
      std::printf("\\u%04x", c);
    } else {
      std::putchar(c);
    }
  }
  std::putchar('"');
}

void print_text(const LoadFigures& f) {
  std::printf("connections: %u opened, %u refused, %u lost\n", f.opened, f.refused, f.lost);
  std::printf("requests: %llu sent, %llu replies, %llu errors, %llu mismatched\n",
              static_cast<unsigned long long>(f.sent), static_cast<unsigned long long>(f.replies),
              static_cast<unsigned long long>(f.errors),
              static_cast<unsigned long long>(f.mismatched));
  if (f.errors != 0) {
    std::fputs("errors by type:", stdout);
    for (size_t t = 0; t < f.errors_by_type.size(); ++t) {
      if (f.errors_by_type[t] != 0) {
        std::printf(" %02zu x%llu", t, static_cast<unsigned long long>(f.errors_by_type[t]));
      }
    }
    std::putchar('\n');
  }
  for (const std::string& q : f.quoted)
    std::printf("%s\n", q.c_str());
  std::printf("duration: %.6f s; rate: %.3f per sec\n", f.seconds, rate_of(f));
  Latencies l = latencies_of(f.latency);
  std::printf("latency us: min %lld, p50 %lld, p90 %lld, p99 %lld, p99.9 %lld, max %lld\n",
              static_cast<long long>(l.min), static_cast<long long>(l.p50),
              static_cast<long long>(l.p90), static_cast<long long>(l.p99),
              static_cast<long long>(l.p999), static_cast<long long>(l.max));
}

void print_json(const RunParameters& params, const LoadFigures& f) {
  std::fputs("{\"host\":", stdout);
  print_json_string(params.host);
  std::printf(",\"port\":%d,\"connections\":%d,\"opened\":%u,\"refused\":%u,\"lost\":%u",
              params.port, params.load.connections, f.opened, f.refused, f.lost);
  std::printf(",\"sent\":%llu,\"replies\":%llu,\"errors\":%llu,\"errors_by_type\":{",
              static_cast<unsigned long long>(f.sent), static_cast<unsigned long long>(f.replies),
              static_cast<unsigned long long>(f.errors));
  const char* sep = "";
  for (size_t t = 0; t < f.errors_by_type.size(); ++t) {
    if (f.errors_by_type[t] == 0) continue;
    std::printf("%s\"%02zu\":%llu", sep, t, static_cast<unsigned long long>(f.errors_by_type[t]));
    sep = ",";
  }
  Latencies l = latencies_of(f.latency);
  std::printf(
      "},\"mismatched\":%llu,\"completed\":%s,\"seconds\":%.6f,\"rate\":%.3f,"
      "\"latency_us\":{\"min\":%lld,\"p50\":%lld,\"p90\":%lld,\"p99\":%lld,\"p99.9\":%lld,"
      "\"max\":%lld}}\n",
      static_cast<unsigned long long>(f.mismatched), f.completed ? "true" : "false", f.seconds,
      rate_of(f), static_cast<long long>(l.min), static_cast<long long>(l.p50),
      static_cast<long long>(l.p90), static_cast<long long>(l.p99), static_cast<long long>(l.p999),
      static_cast<long long>(l.max));
}

void print_csv(const RunParameters& params, const LoadFigures& f) {
  std::puts(
      "connections,opened,refused,lost,sent,replies,errors,mismatched,completed,seconds,rate,"
      "min_us,p50_us,p90_us,p99_us,p99.9_us,max_us");
  Latencies l = latencies_of(f.latency);
  std::printf(
      "%d,%u,%u,%u,%llu,%llu,%llu,%llu,%d,%.6f,%.3f,%lld,%lld,%lld,%lld,%lld,%lld\n",
      params.load.connections, f.opened, f.refused, f.lost, static_cast<unsigned long long>(f.sent),
      static_cast<unsigned long long>(f.replies), static_cast<unsigned long long>(f.errors),
      static_cast<unsigned long long>(f.mismatched), f.completed ? 1 : 0, f.seconds, rate_of(f),
      static_cast<long long>(l.min), static_cast<long long>(l.p50), static_cast<long long>(l.p90),
      static_cast<long long>(l.p99), static_cast<long long>(l.p999), static_cast<long long>(l.max));
}

}  // namespace

void print_load_start(const RunParameters& params) {
  if (params.load.format != OutputFormat::kText) return;
  std::printf("Starting test to %s:%d with %d connections for ", params.host, params.port,
              params.load.connections);
  if (params.load.duration_s > 0) {
    std::printf("%g seconds...\n", params.load.duration_s);
  } else {
    std::printf("%u iterations...\n", static_cast<uint32_t>(params.count));
  }
  std::fflush(stdout);
}

void print_load_figures(const RunParameters& params, const LoadFigures& figures) {
  switch (params.load.format) {
    case OutputFormat::kText:
      print_text(figures);
      break;
    case OutputFormat::kJson:
      print_json(params, figures);
      break;
    case OutputFormat::kCsv:
      print_csv(params, figures);
      break;
  }
}

}  // namespace palisim::stress
