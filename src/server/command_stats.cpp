#include "server/command_stats.h"

#include <cctype>
#include <string_view>

#include "server/diag.h"

namespace palisim {

namespace {

void print_row(const char* name, uint64_t requests, uint64_t errors, uint64_t handler_ns) {
  double per_request =
      requests ? static_cast<double>(handler_ns) / 1e3 / static_cast<double>(requests) : 0.0;
  diag("  %-8s %12llu %10llu %14.3f %12.2f\n", name, static_cast<unsigned long long>(requests),
       static_cast<unsigned long long>(errors), static_cast<double>(handler_ns) / 1e6, per_request);
}

}  // namespace

uint64_t CommandStats::requests() const {
  uint64_t total = 0;
  for (const Row& row : rows_)
    total += row.requests.load(std::memory_order_relaxed);
  return total;
}

void CommandStats::print() const {
  diag("Requests by command:\n");
  diag("  %-8s %12s %10s %14s %12s\n", "command", "requests", "errors", "handler ms", "us/request");
  uint64_t requests = 0, errors = 0, handler_ns = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    uint64_t n = rows_[i].requests.load(std::memory_order_relaxed);
    if (n == 0) continue;
    uint64_t e = rows_[i].errors.load(std::memory_order_relaxed);
    uint64_t ns = rows_[i].handler_ns.load(std::memory_order_relaxed);
    char name[8] = "other";
    if (i < kCommandCount) {
      // Codes as the protocol writes them: 1A, 5D, 11B.
      std::string_view code = command_table()[i].code;
      size_t len = 0;
      for (; len < code.size() && len + 1 < sizeof name; ++len)
        name[len] = static_cast<char>(std::toupper(static_cast<unsigned char>(code[len])));
      name[len] = '\0';
    }
    print_row(name, n, e, ns);
    requests += n;
    errors += e;
    handler_ns += ns;
  }
  print_row("total", requests, errors, handler_ns);
}

}  // namespace palisim
