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

void CommandStats::on_request(const RequestRecord& record) {
  Row& row = rows_[record.command];
  bump(row.requests);
  if (record.error_reply) bump(row.error_replies);
  if (record.error) bump(row.errors[record.error->id]);
  bump(row.handler_ns, static_cast<uint64_t>(record.handler_ns));
  size_t bucket = 0;
  while (bucket < kHandlerBucketsNs.size() && record.handler_ns > kHandlerBucketsNs[bucket])
    ++bucket;
  bump(row.handler_time[bucket]);
  const InjectRule* rule = record.injection.rule;
  if (!rule) return;
  bump(row.taken);
  if (record.injection.delay_ms > 0) bump(row.injected[kInjectDelay]);
  if (rule->close) {
    bump(row.injected[kInjectClose]);
  } else if (rule->reply[0] != '\0') {
    bump(row.injected[kInjectReply]);
  }
  if (rule->approve) bump(row.injected[kInjectApprove]);
}

CommandCounts CommandStats::counts(size_t command) const {
  const Row& row = rows_[command];
  CommandCounts n{read(row.requests), read(row.error_replies), read(row.handler_ns),
                  read(row.taken)};
  for (size_t i = 0; i < n.errors.size(); ++i)
    n.errors[i] = read(row.errors[i]);
  for (size_t i = 0; i < n.injected.size(); ++i)
    n.injected[i] = read(row.injected[i]);
  for (size_t i = 0; i < n.handler_time.size(); ++i)
    n.handler_time[i] = read(row.handler_time[i]);
  return n;
}

uint64_t CommandStats::requests() const {
  uint64_t total = 0;
  for (const Row& row : rows_)
    total += read(row.requests);
  return total;
}

void CommandStats::print() const {
  bool injected = false;
  for (const Row& row : rows_)
    injected = injected || read(row.taken) != 0;
  diag("Requests by command:\n");
  diag("  %-8s %12s %10s %14s %12s%s\n", "command", "requests", "errors", "handler ms",
       "us/request", injected ? "   injected" : "");
  Counts total;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Row& row = rows_[i];
    Counts n{read(row.requests), read(row.error_replies), read(row.handler_ns), read(row.taken)};
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
