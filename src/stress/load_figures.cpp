#include "stress/load_figures.h"

#include <cstdio>

namespace palisim::stress {

namespace {

struct Quantile {
  const char* name;
  double q;
};

constexpr Quantile kQuantiles[] = {{"p50", 0.5},      {"p75", 0.75}, {"p90", 0.9},
                                   {"p95", 0.95},     {"p99", 0.99}, {"p99.9", 0.999},
                                   {"p99.99", 0.9999}};

long long ll(int64_t v) {
  return static_cast<long long>(v);
}
unsigned long long ull(uint64_t v) {
  return static_cast<unsigned long long>(v);
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

// "min 1, mean 2.0, stdev 0.5, p50 2, ..., max 9"
void print_latency_text(const LatencyHistogram& h) {
  std::printf("min %lld, mean %.1f, stdev %.1f", ll(h.min_us()), h.mean_us(), h.stdev_us());
  for (const Quantile& q : kQuantiles)
    std::printf(", %s %lld", q.name, ll(h.quantile_us(q.q)));
  std::printf(", max %lld\n", ll(h.max_us()));
}

void print_latency_json(const LatencyHistogram& h) {
  std::printf("\"latency_us\":{\"min\":%lld,\"mean\":%.1f,\"stdev\":%.1f", ll(h.min_us()),
              h.mean_us(), h.stdev_us());
  for (const Quantile& q : kQuantiles)
    std::printf(",\"%s\":%lld", q.name, ll(h.quantile_us(q.q)));
  std::printf(",\"max\":%lld}", ll(h.max_us()));
}

void print_text(const LoadFigures& f, const RequestMix& mix) {
  std::printf("connections: %u opened, %u refused, %u lost\n", f.opened, f.refused, f.lost);
  std::printf("requests: %llu sent, %llu replies, %llu errors, %llu mismatched\n", ull(f.sent),
              ull(f.replies), ull(f.errors), ull(f.mismatched));
  if (f.errors != 0) {
    std::fputs("errors by type:", stdout);
    for (size_t t = 0; t < f.errors_by_type.size(); ++t) {
      if (f.errors_by_type[t] != 0) std::printf(" %02zu x%llu", t, ull(f.errors_by_type[t]));
    }
    std::putchar('\n');
  }
  for (const std::string& q : f.quoted)
    std::printf("%s\n", q.c_str());
  std::printf("duration: %.6f s; rate: %.3f per sec\n", f.seconds, achieved_rate(f));
  std::fputs("latency us: ", stdout);
  print_latency_text(f.latency);
  if (f.by_line.empty()) return;
  std::puts("by request line:");
  for (size_t g = 0; g < f.by_line.size(); ++g) {
    const LineFigures& l = f.by_line[g];
    std::printf("  %s: %llu sent, %llu replies, %llu errors, %llu mismatched; latency us: ",
                mix.group_name(g).c_str(), ull(l.sent), ull(l.replies), ull(l.errors),
                ull(l.mismatched));
    print_latency_text(l.latency);
  }
}

void print_json(const RunParameters& params, const LoadFigures& f, const RequestMix& mix) {
  std::fputs("{\"host\":", stdout);
  print_json_string(params.host);
  std::printf(",\"port\":%d,\"connections\":%d,\"opened\":%u,\"refused\":%u,\"lost\":%u",
              params.port, params.load.connections, f.opened, f.refused, f.lost);
  std::printf(",\"sent\":%llu,\"replies\":%llu,\"errors\":%llu,\"errors_by_type\":{", ull(f.sent),
              ull(f.replies), ull(f.errors));
  const char* sep = "";
  for (size_t t = 0; t < f.errors_by_type.size(); ++t) {
    if (f.errors_by_type[t] == 0) continue;
    std::printf("%s\"%02zu\":%llu", sep, t, ull(f.errors_by_type[t]));
    sep = ",";
  }
  std::printf("},\"mismatched\":%llu,\"completed\":%s,\"seconds\":%.6f,\"rate\":%.3f,",
              ull(f.mismatched), f.completed ? "true" : "false", f.seconds, achieved_rate(f));
  print_latency_json(f.latency);
  if (!f.by_line.empty()) {
    std::fputs(",\"by_line\":[", stdout);
    for (size_t g = 0; g < f.by_line.size(); ++g) {
      const LineFigures& l = f.by_line[g];
      std::fputs(g ? ",{\"request\":" : "{\"request\":", stdout);
      print_json_string(mix.group_name(g).c_str());
      std::printf(",\"sent\":%llu,\"replies\":%llu,\"errors\":%llu,\"mismatched\":%llu,",
                  ull(l.sent), ull(l.replies), ull(l.errors), ull(l.mismatched));
      print_latency_json(l.latency);
      std::putchar('}');
    }
    std::putchar(']');
  }
  std::puts("}");
}

void print_csv(const RunParameters& params, const LoadFigures& f) {
  std::fputs(
      "connections,opened,refused,lost,sent,replies,errors,mismatched,completed,seconds,rate,"
      "min_us,mean_us,stdev_us",
      stdout);
  for (const Quantile& q : kQuantiles)
    std::printf(",%s_us", q.name);
  std::puts(",max_us");
  const LatencyHistogram& h = f.latency;
  std::printf("%d,%u,%u,%u,%llu,%llu,%llu,%llu,%d,%.6f,%.3f,%lld,%.1f,%.1f",
              params.load.connections, f.opened, f.refused, f.lost, ull(f.sent), ull(f.replies),
              ull(f.errors), ull(f.mismatched), f.completed ? 1 : 0, f.seconds, achieved_rate(f),
              ll(h.min_us()), h.mean_us(), h.stdev_us());
  for (const Quantile& q : kQuantiles)
    std::printf(",%lld", ll(h.quantile_us(q.q)));
  std::printf(",%lld\n", ll(h.max_us()));
}

}  // namespace

double achieved_rate(const LoadFigures& f) {
  return f.seconds > 0 ? static_cast<double>(f.replies) / f.seconds : 0.0;
}

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

void print_load_figures(const RunParameters& params, const LoadFigures& figures,
                        const RequestMix& mix) {
  switch (params.load.format) {
    case OutputFormat::kText:
      print_text(figures, mix);
      break;
    case OutputFormat::kJson:
      print_json(params, figures, mix);
      break;
    case OutputFormat::kCsv:
      print_csv(params, figures);
      break;
  }
}

}  // namespace palisim::stress
