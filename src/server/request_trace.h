// The request trace: one diagnostic line per request once its reply is
// queued for sending (or the connection closed first), with time, socket, peer, request, reply,
// handler time, for an error reply the error in words, and what an inject rule did; and one line
// for input that never became a request. Secrets are masked (server/trace_masks.h) unless the trace
// is full.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "server/connection.h"
#include "server/fault_injection.h"
#include "server/trace_mode.h"

namespace palisim {

struct ErrorKind;

// Built by the event loop when the trace is on; used on its thread only.
// Request and reply copies are wiped once their line is written.
class RequestTrace {
 public:
  explicit RequestTrace(TraceMode mode) : full_(mode == TraceMode::kFull) {}
  ~RequestTrace();
  RequestTrace(const RequestTrace&) = delete;
  RequestTrace& operator=(const RequestTrace&) = delete;

  // Keeps the request as received: dispatch cuts it up in place.
  void keep_request(const char* text, int32_t len);
  std::string_view kept_request() const { return {request_, static_cast<size_t>(request_len_)}; }
  // The line of the request kept last, answered by `reply`; `error` and
  // `note` are what the reply buffer recorded, `injection` what the inject
  // rules decided. Unless `sent`, the reply never left: the connection closed
  // first.
  void request_line(const Connection& c, std::string_view reply, const ErrorKind* error,
                    std::string_view note, int64_t handler_ns, const Injection& injection = {},
                    bool sent = true);
  // A line ended by a carriage return with no <...> in it.
  void line_without_request(const Connection& c, std::string_view line);
  // What a closing connection holds after its last carriage return.
  void unended_input(const Connection& c, std::string_view rest);

 private:
  // Appends printf-style to line_, cut at its end.
  void append(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Appends the message, bytes outside printable ASCII as \r, \n, \t or \xNN.
  void append_escaped(std::string_view message);
  // Starts line_ with the local time, socket and peer.
  void begin_line(const Connection& c);
  // ", injected: latency N ms, reply" and the like.
  void append_injection(const Injection& injection);
  void write_line();

  bool full_;  // --trace=full: nothing masked
  // The request as received, and the reply's copy that masking may change.
  char request_[kInputCapacity];
  int32_t request_len_ = 0;
  char reply_[kReplyCapacity];
  // Every byte escaped at worst to four, plus the words around them.
  static constexpr int32_t kLineCapacity = 4 * (kInputCapacity + kReplyCapacity) + 512;
  char line_[kLineCapacity];
  int32_t line_len_ = 0;
  // "YYYY-MM-DD HH:MM:SS" of stamp_second_, so localtime_r runs once a second.
  time_t stamp_second_ = -1;
  char stamp_[24] = {};
};

}  // namespace palisim
