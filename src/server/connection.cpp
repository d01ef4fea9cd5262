#include "server/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/secure_zero.h"
#include "protocol/framing.h"
#include "server/diag.h"
#include "server/loop_counters.h"
#include "server/request_path.h"
#include "server/request_trace.h"

namespace palisim {

namespace {

bool would_block() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

}  // namespace

void Connection::open(int fd, const Settings& settings, const ConnectionSetup& setup) {
  bufs_ = std::make_unique<ConnectionBuffers>();
  bufs_->settings = settings;
  if (setup.inject) bufs_->inject = *setup.inject;
  fd_ = fd;
  state_ = State::kReading;
  cause_ = CloseCause::kNone;
  in_len_ = out_start_ = out_len_ = held_len_ = 0;
  due_ms_ = 0;
  mid_line_ = false;
  random_state_ = setup.random_state;
  std::strncpy(peer_, setup.peer, sizeof peer_ - 1);
  peer_[sizeof peer_ - 1] = '\0';
  stats_ = setup.stats;
  trace_ = setup.trace;
  counters_ = setup.counters;
  idle_since_ms_ = setup.now_ms;
  idle_limit_ms_ = setup.idle_limit_ms;
}

void Connection::close(CloseCause cause) {
  if (!in_use()) return;
  if (cause_ == CloseCause::kNone) cause_ = cause;
  if (trace_ && cause_ != CloseCause::kOverlong) {
    std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
    int32_t from = unended_start(in);
    trace_->unended_input(*this, {in.data() + from, static_cast<size_t>(in_len_ - from)});
  }
  graceful_close(fd_);
  wipe_settings(bufs_->settings);
  bufs_->keys.clear();
  // Requests and replies carry key blocks and PIN blocks.
  secure_zero(bufs_.get(), sizeof(ConnectionBuffers));
  bufs_.reset();
  fd_ = -1;
}

short Connection::poll_events() const {
  if (has_output()) return POLLOUT;
  return in_len_ < kInputCapacity ? POLLIN : 0;
}

int64_t Connection::deadline_ms() const {
  int64_t due = idle_limit_ms_ != 0 ? idle_since_ms_ + idle_limit_ms_ : 0;
  bool delayed = state_ == State::kReplyDelayed || state_ == State::kCloseDelayed;
  if (delayed && (due == 0 || due_ms_ < due)) due = due_ms_;
  return due;
}

ssize_t Connection::receive(std::span<char> into) {
  ssize_t n = recv(fd_, into.data(), into.size(), 0);
  if (n > 0 && counters_) counters_->bytes_received += static_cast<uint64_t>(n);
  return n;
}

ssize_t Connection::send(std::span<const char> bytes) {
  ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (n > 0 && counters_) counters_->bytes_sent += static_cast<uint64_t>(n);
  return n;
}

Verdict Connection::on_readable(int64_t now_ms) {
  ssize_t n = receive({bufs_->input + in_len_, static_cast<size_t>(kInputCapacity - in_len_)});
  if (n == 0) {
    diag("Socket %d  was closed by the client. Shutting down.\n", fd_);
    return fail(CloseCause::kPeerClosed);
  }
  if (n < 0 && !would_block()) return fail(CloseCause::kReadFailed);
  if (n > 0) {
    in_len_ += static_cast<int32_t>(n);
    if (process_input(now_ms) == Verdict::kClose) return Verdict::kClose;
  }
  // What the read produced leaves at once rather than in another pass.
  return flush(now_ms);
}

Verdict Connection::on_writable(int64_t now_ms) {
  return flush(now_ms);
}

Verdict Connection::on_deadline(int64_t now_ms) {
  bool delayed = state_ == State::kReplyDelayed || state_ == State::kCloseDelayed;
  if (delayed && now_ms >= due_ms_) {
    state_ = state_ == State::kReplyDelayed ? State::kReplyHeld : State::kClosing;
    due_ms_ = 0;
    if (release_held_reply(now_ms) == Verdict::kClose) return Verdict::kClose;
    if (flush(now_ms) == Verdict::kClose) return Verdict::kClose;
  }
  // Checked from the loop, as Redis's clientsCron does, with no timer per client.
  if (idle_limit_ms_ != 0 && now_ms - idle_since_ms_ >= idle_limit_ms_) {
    diag("Socket %d sent no complete request in %d seconds; closing it.\n", fd_,
         static_cast<int>(idle_limit_ms_ / 1000));
    return fail(CloseCause::kIdle);
  }
  return Verdict::kKeep;
}

Verdict Connection::on_received(std::span<const char> bytes, int64_t now_ms) {
  std::memcpy(bufs_->input + in_len_, bytes.data(), bytes.size());
  in_len_ += static_cast<int32_t>(bytes.size());
  return process_input(now_ms);
}

void Connection::discard_output() {
  // Overwritten by the next replies, and wiped with the rest when the connection closes.
  out_start_ = out_len_ = 0;
}

Verdict Connection::process_input(int64_t now_ms) {
  char* in = bufs_->input;
  int32_t consumed = 0;
  bool timed = stats_ || counters_ || trace_ || bufs_->inject.count != 0;
  SteadyClock::time_point mark = timed ? SteadyClock::now() : SteadyClock::time_point();
  bool answered = false;
  while (state_ == State::kReading) {
    std::optional<ByteSpan> line = next_line({in, static_cast<size_t>(in_len_)}, consumed);
    if (!line) break;
    consumed = process_line(consumed, line->end, answered, mark);
  }
  if (consumed > 0) {
    in_len_ -= consumed;
    std::memmove(in, in + consumed, static_cast<size_t>(in_len_));
    // Answered requests may carry clear PINs.
    secure_zero(in + in_len_, static_cast<size_t>(consumed));
  }
  if (answered) idle_since_ms_ = now_ms;
  // A full buffer without a line end can never make progress.
  if (state_ == State::kReading && in_len_ == kInputCapacity) {
    diag("Socket %d sent %d bytes without a carriage return; closing it.\n", fd_,
         static_cast<int>(kInputCapacity));
    return fail(CloseCause::kOverlong);
  }
  return Verdict::kKeep;
}

int32_t Connection::process_line(int32_t start, int32_t end, bool& answered,
                                 SteadyClock::time_point& mark) {
  std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
  const RequestPath path{bufs_->settings, bufs_->keys, bufs_->inject,
                         random_state_,   stats_,      counters_,
                         trace_,          *this,       {bufs_->reply, kReplyCapacity}};
  int32_t pos = start;
  bool whole_line = !mid_line_;
  while (state_ == State::kReading) {
    std::optional<ByteSpan> request = next_request(in, {start, end}, pos);
    if (!request) break;
    deliver(answer_request(path, bufs_->input + request->begin, request->size(), mark));
    answered = true;
    pos = request->end;
  }
  if (trace_ && whole_line && pos == start) {
    trace_->line_without_request(*this, {in.data() + start, static_cast<size_t>(end - start)});
  }
  mid_line_ = state_ != State::kReading;
  return mid_line_ ? pos : end;
}

void Connection::deliver(const Answer& answer) {
  if (answer.close) {
    state_ = answer.due_ms != 0 ? State::kCloseDelayed : State::kClosing;
    due_ms_ = answer.due_ms;
    return;
  }
  if (answer.due_ms != 0) {
    state_ = State::kReplyDelayed;
    due_ms_ = answer.due_ms;
    held_len_ = answer.reply_len;
    return;
  }
  if (!queue_reply(answer.reply_len)) {
    state_ = State::kReplyHeld;
    held_len_ = answer.reply_len;
  }
}

bool Connection::queue_reply(int32_t reply_len) {
  char* out = bufs_->output;
  if (reply_len >= kOutputCapacity - out_len_ && out_start_ != 0) {
    // Unsent output moves to the front so the whole free space is usable.
    int32_t pending = out_len_ - out_start_;
    std::memmove(out, out + out_start_, static_cast<size_t>(pending));
    secure_zero(out + pending, static_cast<size_t>(out_len_ - pending));
    out_start_ = 0;
    out_len_ = pending;
  }
  if (reply_len >= kOutputCapacity - out_len_) return false;
  std::memcpy(out + out_len_, bufs_->reply, static_cast<size_t>(reply_len));
  secure_zero(bufs_->reply, static_cast<size_t>(reply_len));
  out_len_ += reply_len;
  return true;
}

Verdict Connection::release_held_reply(int64_t now_ms) {
  if (state_ != State::kReplyHeld || !queue_reply(held_len_)) return Verdict::kKeep;
  held_len_ = 0;
  state_ = State::kReading;
  return process_input(now_ms);
}

Verdict Connection::flush(int64_t now_ms) {
  while (has_output()) {
    ssize_t n = send({bufs_->output + out_start_, static_cast<size_t>(out_len_ - out_start_)});
    if (n < 0 && !would_block()) return fail(CloseCause::kWriteFailed);
    if (n <= 0) break;
    // Sent replies may carry clear PINs; they need not stay once sent.
    secure_zero(bufs_->output + out_start_, static_cast<size_t>(n));
    out_start_ += static_cast<int32_t>(n);
    if (out_start_ == out_len_) out_start_ = out_len_ = 0;
    if (release_held_reply(now_ms) == Verdict::kClose) return Verdict::kClose;
  }
  if (state_ == State::kClosing && !has_output()) {
    diag("Socket %d closed by an inject rule.\n", fd_);
    return fail(CloseCause::kInjected);
  }
  return Verdict::kKeep;
}

void graceful_close(int fd) {
  if (shutdown(fd, SHUT_WR) != 0) {
    ::close(fd);
    return;
  }
  char scratch[1024];
  for (;;) {
    ssize_t n = recv(fd, scratch, sizeof scratch, 0);
    if (n <= 0) break;
    diag("FYI, received %d unexpected bytes during shutdown.", static_cast<int>(n));
  }
  ::close(fd);
}

}  // namespace palisim
