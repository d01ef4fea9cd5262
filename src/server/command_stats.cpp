#include "server/command_stats.h"

#include <cstdio>

#include "server/diag.h"

namespace palisim {

namespace {

struct Counts {
  uint64_t requests = 0, errors = 0, handler_ns = 0, injected = 0;
};

// The injected column only when `injected`.
void print_row(const char* name, const Counts& n, bool injected) {
  double per_request =
      n.requests ? static_cast<double>(n.handler_ns) / 1e3 / static_cast<double>(n.requests) : 0.0;
  char column[24] = "";
  if (injected) {
    std::snprintf(column, sizeof column, " %10llu", static_cast<unsigned long long>(n.injected));
  }
  diag("  %-8s %12llu %10llu %14.3f %12.2f%s\n", name, static_cast<unsigned long long>(n.requests),
       static_cast<unsigned long long>(n.errors), static_cast<double>(n.handler_ns) / 1e6,
       per_request, column);
}

}  // namespace

uint64_t CommandStats::requests() const {
  uint64_t total = 0;
  for (const Row& row : rows_)
    total += row.requests.load(std::memory_order_relaxed);
  return total;
}

void CommandStats::print() const {
  bool injected = false;
  for (const Row& row : rows_)
    injected = injected || row.injected.load(std::memory_order_relaxed) != 0;
  diag("Requests by command:\n");
  diag("  %-8s %12s %10s %14s %12s%s\n", "command", "requests", "errors", "handler ms",
       "us/request", injected ? "   injected" : "");
  Counts total;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Row& row = rows_[i];
    Counts n{row.requests.load(std::memory_order_relaxed),
             row.errors.load(std::memory_order_relaxed),
             row.handler_ns.load(std::memory_order_relaxed),
             row.injected.load(std::memory_order_relaxed)};
    if (n.requests == 0) continue;
    print_row(i < kCommandCount ? written_code(kCommandCatalog[i].code).text.data() : "other", n,
              injected);
    total.requests += n.requests;
    total.errors += n.errors;
    total.handler_ns += n.handler_ns;
    total.injected += n.injected;
  }
  print_row("total", total, injected);
}

}  // namespace palisim
