// One request from its text to its answer, each stage once and in order: the
// inject rules decide, the handler (or the rule that took the request)
// answers, the statistics count it and the trace keeps the request. Sending
// the answer, and tracing it once it is queued, is the connection's part.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "config/inject_rules.h"
#include "crypto/key_cache.h"
#include "protocol/reply.h"
#include "protocol/settings.h"
#include "server/fault_injection.h"

namespace palisim {

class CommandStats;
class RequestTrace;
struct LoopCounters;

// What a connection's requests are answered with and reported to.
struct RequestPath {
  const Settings& settings;
  KeyCache& keys;  // keys its requests opened
  const InjectRules& inject;
  uint64_t& random_state;  // the generator the inject rules draw from
  CommandStats* stats;     // null counts nothing
  LoopCounters* counters;  // the loop's counters for monitoring; null counts nothing
  RequestTrace* trace;     // null when the trace is off
  std::span<char> reply;   // where the reply is written
};

// What a request leaves for its connection to send.
struct Answer {
  int32_t reply_len = 0;  // bytes of the reply at the start of the path's reply buffer
  int64_t due_ms = 0;     // an inject rule holds it until then (steady clock); 0 sends it now
  bool close = false;     // an inject rule closes the connection instead of answering
  // For the trace's line: the error the reply refuses with and its note, the
  // handler's time and what the inject rules decided.
  const ErrorKind* error = nullptr;
  ErrorNote note = {};
  int64_t handler_ns = 0;
  Injection injection;
};

using SteadyClock = std::chrono::steady_clock;

// Answers the request, whose text dispatch cuts up in place. One clock
// reading per request, and none when nothing counts, traces or injects: the
// time since `mark` (the end of the previous request, or the start of the
// pass) is this request's, so cutting it out of its line counts with its
// handler; `mark` moves on.
Answer answer_request(const RequestPath& path, char* request, int32_t request_len,
                      SteadyClock::time_point& mark);

}  // namespace palisim
