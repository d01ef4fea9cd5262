// Requests, error replies, handler time and requests an inject rule took,
// per command: counted by the server thread, read from any thread (the window's refresh, a
// SIGUSR1).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "protocol/command_catalog.h"

namespace palisim {

class CommandStats {
 public:
  // `command` is what dispatch_request returned: a row of the command catalogue,
  // or kCommandCount for requests that matched no command.
  void record(size_t command, bool error, int64_t handler_ns) {
    Row& row = rows_[command];
    bump(row.requests, 1);
    if (error) bump(row.errors, 1);
    bump(row.handler_ns, static_cast<uint64_t>(handler_ns));
  }
  // A request of that row that an inject rule took, also counted by record().
  void record_injection(size_t command) { bump(rows_[command].injected, 1); }

  // Requests counted over every row.
  uint64_t requests() const;

  // The rows that saw a request and a total, one diagnostic line each; a
  // column of injections only when an inject rule took a request.
  void print() const;

 private:
  struct Row {
    std::atomic<uint64_t> requests{0};    // requests answered
    std::atomic<uint64_t> errors{0};      // of those, answered by an error reply
    std::atomic<uint64_t> handler_ns{0};  // time spent dispatching them
    std::atomic<uint64_t> injected{0};    // of those, taken by an inject rule
  };

  // Only the one server thread writes, so a relaxed load and store do
  // without a locked instruction; readers see each counter whole.
  static void bump(std::atomic<uint64_t>& counter, uint64_t n) {
    counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }

  std::array<Row, kCommandCount + 1> rows_;  // the last row: no matching command
};

}  // namespace palisim
