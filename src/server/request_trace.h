// The request trace: one diagnostic line per request once its reply is
// queued for sending (or the connection closed first), with time, socket, peer, request, reply,
// handler time, for an error reply the error in words, and what an inject rule did; and one line
// for input that never became a request. Secrets are masked (server/trace_masks.h) unless the trace
// is full.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "server/connection_limits.h"
#include "server/request_record.h"
#include "server/trace_mode.h"

namespace palisim {

// Built by the event loop when the trace is on; used on its thread only. It
// needs each request's text and time (ObserverNeeds). Request and reply
// copies are wiped once their line is written.
class RequestTrace final : public RequestObserver {
 public:
  explicit RequestTrace(TraceMode mode) : full_(mode == TraceMode::kFull) {}
  ~RequestTrace();
  RequestTrace(const RequestTrace&) = delete;
  RequestTrace& operator=(const RequestTrace&) = delete;

  static constexpr ObserverNeeds kNeeds{.time = true, .text = true, .lengthy = true};

  // The line of the request: its reply, the error the reply buffer
  // recorded, what the inject rules decided; a reply that never left, when
  // the connection closed first.
  void on_request(const RequestRecord& record) override;
  void on_line_without_request(const ConnectionName& who, std::string_view line) override;
  void on_unended_input(const ConnectionName& who, std::string_view rest) override;

 private:
  // Appends printf-style to line_, cut at its end.
  void append(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Appends the message, bytes outside printable ASCII as \r, \n, \t or \xNN.
  void append_escaped(std::string_view message);
  // Starts line_ with the local time, socket and peer.
  void begin_line(const ConnectionName& who);
  // ", injected: latency N ms, reply" and the like.
  void append_injection(const Injection& injection);
  void write_line();

  bool full_;  // --trace=full: nothing masked
  // Copies of the request and the reply that masking may change.
  char request_[kInputCapacity];
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
