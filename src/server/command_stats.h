// The one set of per-request counters, by command: requests, error replies
// (by kind), handler time (summed and by bucket) and what inject rules did.
// Counted by the server thread from each request's record; read from any
// thread (the window's refresh, a SIGUSR1, a metrics scrape).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "protocol/command_catalog.h"
#include "protocol/errors.h"
#include "server/request_record.h"

namespace palisim {

// Upper bounds of the handler-time buckets, in nanoseconds: 1 µs to 100 ms
// in steps of 1, 2.5 and 5; a last bucket takes the rest.
inline constexpr std::array<int64_t, 16> kHandlerBucketsNs = {
    1'000,   2'500,     5'000,     10'000,    25'000,     50'000,     100'000,    250'000,
    500'000, 1'000'000, 2'500'000, 5'000'000, 10'000'000, 25'000'000, 50'000'000, 100'000'000};

// What an inject rule did to a request it took; a rule may do several.
enum InjectAction : uint8_t { kInjectDelay, kInjectReply, kInjectClose, kInjectApprove };
inline constexpr size_t kInjectActionCount = 4;
inline constexpr std::array<const char*, kInjectActionCount> kInjectActionNames = {
    "delay", "reply", "close", "approve"};

// One command's counts as read at one moment.
struct CommandCounts {
  uint64_t requests = 0;
  uint64_t error_replies = 0;                                         // whoever wrote them
  uint64_t handler_ns = 0;                                            // their handler time, summed
  uint64_t taken = 0;                                                 // by an inject rule
  std::array<uint64_t, kErrorKindCount> errors{};                     // the handler's, by kind
  std::array<uint64_t, kInjectActionCount> injected{};                // inject rules' actions
  std::array<uint64_t, kHandlerBucketsNs.size() + 1> handler_time{};  // per bucket, not summed up
};

class CommandStats final : public RequestObserver {
 public:
  void on_request(const RequestRecord& record) override;

  // `command`: a row of the command catalogue, or kCommandCount for requests
  // that matched no command.
  CommandCounts counts(size_t command) const;
  // Requests counted over every row.
  uint64_t requests() const;

  // The rows that saw a request and a total, one diagnostic line each; a
  // column of injections only when an inject rule took a request.
  void print() const;

 private:
  using Counter = std::atomic<uint64_t>;
  struct Row {
    Counter requests{0};
    Counter error_replies{0};
    Counter handler_ns{0};
    Counter taken{0};
    std::array<Counter, kErrorKindCount> errors{};
    std::array<Counter, kInjectActionCount> injected{};
    std::array<Counter, kHandlerBucketsNs.size() + 1> handler_time{};
  };

  // Only the one server thread writes, so a relaxed load and store do
  // without a locked instruction; readers see each counter whole.
  static void bump(Counter& counter, uint64_t n = 1) {
    counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }
  static uint64_t read(const Counter& counter) { return counter.load(std::memory_order_relaxed); }

  std::array<Row, kCommandCount + 1> rows_;  // the last row: no matching command
};

}  // namespace palisim
