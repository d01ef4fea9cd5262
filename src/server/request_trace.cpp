#include "server/request_trace.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "crypto/secure_zero.h"
#include "protocol/errors.h"
#include "protocol/escaped_text.h"
#include "server/diag.h"
#include "server/trace_masks.h"

namespace palisim {

namespace {

// The reply without the line end that follows its '>'.
std::string_view without_line_end(std::string_view reply) {
  while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n'))
    reply.remove_suffix(1);
  return reply;
}

bool only_blanks(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The field number of an error reply <00#TTFF35#...>.
int error_field(std::string_view reply) {
  if (reply.size() < 8 || reply.substr(0, 4) != "<00#") return 0;
  return (reply[6] - '0') * 10 + (reply[7] - '0');
}

}  // namespace

RequestTrace::~RequestTrace() {
  secure_zero(request_, sizeof request_);
  secure_zero(reply_, sizeof reply_);
  secure_zero(line_, sizeof line_);
}

void RequestTrace::on_request(const RequestRecord& record) {
  const Injection& injection = record.injection;
  const ErrorKind* error = record.error;
  std::string_view request = record.request.substr(0, kInputCapacity);
  if (!request.empty()) std::memcpy(request_, request.data(), request.size());
  request = {request_, request.size()};
  std::string_view reply = without_line_end(record.reply).substr(0, kReplyCapacity);
  // A reply never sent or never written is empty, and may have no data at all.
  if (!reply.empty()) std::memcpy(reply_, reply.data(), reply.size());
  std::span<char> reply_copy(reply_, reply.size());
  if (!full_) {
    mask_exchange({request_, request.size()}, reply_copy, record);
  }
  begin_line(record.connection);
  append_escaped(request);
  append(" -> ");
  if (injection.rule && injection.rule->close) {
    append("(closed)");
  } else if (!record.sent) {
    append("(not sent: the connection closed first)");
  } else {
    append_escaped({reply_copy.data(), reply_copy.size()});
  }
  append(" %.1f us", static_cast<double>(record.handler_ns) / 1e3);
  if (error) {
    append(", field %d: %.*s", error_field(reply), static_cast<int>(error->text.size()),
           error->text.data());
    const std::string_view note = record.note.view();
    if (!note.empty()) append(": %.*s", static_cast<int>(note.size()), note.data());
    append(" (%d/%d, %04d)", error->type, error_field(reply), error->detail);
  }
  if (injection.rule) append_injection(injection);
  write_line();
  secure_zero(request_, request.size());
  secure_zero(reply_, reply.size());
}

void RequestTrace::on_line_without_request(const ConnectionName& who, std::string_view line) {
  if (only_blanks(line)) return;
  begin_line(who);
  append("a line of %zu bytes holds no <...> request; nothing answered", line.size());
  write_line();
}

void RequestTrace::on_unended_input(const ConnectionName& who, std::string_view rest) {
  if (only_blanks(rest)) return;
  begin_line(who);
  append(
      "closed with %zu bytes after its last carriage return, never answered: a line ends "
      "with a carriage return (\\r), not a line feed alone",
      rest.size());
  write_line();
}

void RequestTrace::append(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n =
      std::vsnprintf(line_ + line_len_, static_cast<size_t>(kLineCapacity - line_len_), fmt, ap);
  va_end(ap);
  if (n > 0) line_len_ = std::min(kLineCapacity - 1, line_len_ + n);
}

void RequestTrace::append_escaped(std::string_view message) {
  line_len_ += static_cast<int32_t>(
      escape_bytes(message, {line_ + line_len_, static_cast<size_t>(kLineCapacity - line_len_)}));
}

void RequestTrace::begin_line(const ConnectionName& who) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
  auto second = static_cast<time_t>(ms / 1000);
  if (second != stamp_second_) {
    tm local;
    localtime_r(&second, &local);
    std::strftime(stamp_, sizeof stamp_, "%Y-%m-%d %H:%M:%S", &local);
    stamp_second_ = second;
  }
  line_len_ = 0;
  append("%s.%03d socket %d from %.*s", stamp_, static_cast<int>(ms % 1000), who.fd,
         static_cast<int>(who.peer.size()), who.peer.data());
  if (!who.identity.empty()) {
    append(" %.*s", static_cast<int>(who.identity.size()), who.identity.data());
  }
  append(": ");
}

void RequestTrace::append_injection(const Injection& injection) {
  char words[kInjectionWordsCapacity];
  injection_words(injection, words);
  append(", injected: %s", words);
}

void RequestTrace::write_line() {
  // One call per line, so the line stays whole among the other diagnostics.
  diag("%.*s\n", static_cast<int>(line_len_), line_);
  secure_zero(line_, static_cast<size_t>(line_len_));
  line_len_ = 0;
}

}  // namespace palisim
