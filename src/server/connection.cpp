#include "server/connection.h"

#include <poll.h>

#include <cstdio>
#include <cstring>

#include "crypto/secure_zero.h"
#include "protocol/framing.h"
#include "server/diag.h"
#include "server/loop_counters.h"
#include "server/owed_replies.h"
#include "server/plain_transport.h"
#include "server/request_path.h"
#include "server/request_trace.h"

namespace palisim {

namespace {

// Whether bytes holding no carriage return hold a complete request with a
// line feed after it.
bool ends_request_with_line_feed(std::span<const char> rest) {
  const auto end = static_cast<int32_t>(rest.size());
  for (int32_t from = 0, lf; (lf = find_byte(rest.data(), from, end, '\n')) >= 0; from = lf + 1) {
    if (next_request(rest, {from, lf}, from)) return true;
  }
  return false;
}

// Adds the bytes a read or write moved to the monitoring total, when kept.
void count_bytes(uint64_t* total, const IoResult& io) {
  if (total) *total += io.bytes;
}

}  // namespace

void Connection::open(int fd, const Settings& settings, const ConnectionSetup& setup) {
  char peer[sizeof peer_];
  std::snprintf(peer, sizeof peer, "%s", setup.peer);
  const TransportStart start{fd, peer, setup.now_ms, setup.idle_limit_ms};
  open(setup.transport ? setup.transport->open(start) : std::make_unique<PlainTransport>(fd, peer),
       settings, setup);
}

void Connection::open(std::unique_ptr<Transport> transport, const Settings& settings,
                      const ConnectionSetup& setup) {
  const int fd = transport->fd();
  bufs_ = std::make_unique<ConnectionBuffers>();
  bufs_->settings = settings;
  if (setup.inject) bufs_->inject = *setup.inject;
  fd_ = fd;
  state_ = State::kReading;
  cause_ = CloseCause::kNone;
  in_len_ = out_start_ = out_len_ = held_len_ = 0;
  due_ms_ = 0;
  mid_line_ = false;
  told_line_feed_ = false;
  peer_closed_ = false;
  random_state_ = setup.random_state;
  std::strncpy(peer_, setup.peer, sizeof peer_ - 1);
  peer_[sizeof peer_ - 1] = '\0';
  stats_ = setup.stats;
  trace_ = setup.trace;
  counters_ = setup.counters;
  idle_since_ms_ = setup.now_ms;
  idle_limit_ms_ = setup.idle_limit_ms;
  transport_ = std::move(transport);
}

void Connection::close(CloseCause cause) {
  if (!in_use()) return;
  if (cause_ == CloseCause::kNone) cause_ = cause;
  if (trace_ && bufs_->held_line.pending) write_held_line(nullptr);
  if (trace_ && cause_ != CloseCause::kOverlong) {
    std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
    int32_t from = unended_start(in);
    trace_->unended_input(*this, {in.data() + from, static_cast<size_t>(in_len_ - from)});
  }
  // A transport handed over to the owed replies is closed there.
  if (transport_) transport_->close();
  transport_.reset();
  wipe_settings(bufs_->settings);
  bufs_->keys.clear();
  // Requests and replies carry key blocks and PIN blocks.
  secure_zero(bufs_.get(), sizeof(ConnectionBuffers));
  bufs_.reset();
  fd_ = -1;
}

short Connection::poll_events() const {
  short wanted = transport_->waits_for();
  if (has_output()) return POLLOUT;
  return in_len_ < kInputCapacity && !peer_closed_ ? wanted : short{0};
}

bool Connection::input_waiting() const {
  return state_ == State::kReading && !has_output() && in_len_ < kInputCapacity &&
         transport_->has_pending_input();
}

int64_t Connection::deadline_ms() const {
  int64_t due = idle_limit_ms_ != 0 && !owes_reply() ? idle_since_ms_ + idle_limit_ms_ : 0;
  bool delayed = state_ == State::kReplyDelayed || state_ == State::kCloseDelayed;
  if (delayed && (due == 0 || due_ms_ < due)) due = due_ms_;
  return due;
}

Verdict Connection::on_readable(int64_t now_ms) {
  // A transport may hand out less than it holds (TLS: a record per read, and
  // a record may hold more than the input takes): read on while it holds
  // bytes and there is room for them.
  do {
    IoResult io =
        transport_->read({bufs_->input + in_len_, static_cast<size_t>(kInputCapacity - in_len_)});
    if (io.status == IoStatus::kEnded) {
      // Hung up after shutting its sending side: nothing can reach it any more.
      if (peer_closed_) return fail(CloseCause::kPeerClosed);
      diag("Socket %d  was closed by the client. Shutting down.\n", fd_);
      // The replies to what it sent still go out; flush closes once none is owed.
      peer_closed_ = true;
      return flush(now_ms);
    }
    if (io.status == IoStatus::kFailed) return fail(io.cause);
    if (io.status == IoStatus::kWouldBlock) break;
    count_bytes(counters_ ? &counters_->bytes_received : nullptr, io);
    in_len_ += static_cast<int32_t>(io.bytes);
    if (process_input(now_ms) == Verdict::kClose) return Verdict::kClose;
  } while (state_ == State::kReading && in_len_ < kInputCapacity &&
           transport_->has_pending_input());
  // What the read produced leaves at once rather than in another pass.
  return flush(now_ms);
}

Verdict Connection::on_writable(int64_t now_ms) {
  // A read that waited for writability goes on.
  if (transport_->waits_for() == POLLOUT && !has_output()) return on_readable(now_ms);
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
  if (idle_limit_ms_ != 0 && !owes_reply() && now_ms - idle_since_ms_ >= idle_limit_ms_) {
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
  if (state_ != State::kReading) return Verdict::kKeep;
  // A full buffer without a line end can never make progress, whatever byte
  // was still to come.
  if (in_len_ == kInputCapacity) {
    diag("Socket %d sent a line longer than %d bytes; closing it.\n", fd_,
         static_cast<int>(kInputCapacity));
    return fail(CloseCause::kOverlong);
  }
  if (!told_line_feed_ && ends_request_with_line_feed({in, static_cast<size_t>(in_len_)})) {
    // Such a client would otherwise wait for replies that never come.
    told_line_feed_ = true;
    diag(
        "Socket %d: a request ended in a line feed alone; requests end in a carriage return "
        "(\\r).\n",
        fd_);
  }
  return Verdict::kKeep;
}

int32_t Connection::process_line(int32_t start, int32_t end, bool& answered,
                                 SteadyClock::time_point& mark) {
  std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
  const RequestPath path{
      bufs_->settings, bufs_->keys, bufs_->inject, random_state_,
      stats_,          counters_,   trace_,        {bufs_->reply, kReplyCapacity}};
  int32_t pos = start;
  bool whole_line = !mid_line_;
  while (state_ == State::kReading) {
    std::optional<ByteSpan> request = next_request(in, {start, end}, pos);
    if (!request) break;
    deliver(answer_request(path, bufs_->input + request->begin, request->size(), mark));
    // Writing the trace's line is no part of the next request.
    if (trace_) mark = SteadyClock::now();
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
    if (trace_) trace_->request_line(*this, {}, answer.error, answer.handler_ns, answer.injection);
    return;
  }
  if (answer.due_ms == 0 && queue_reply(answer.reply_len)) {
    if (trace_) {
      std::string_view queued(bufs_->output + out_len_ - answer.reply_len,
                              static_cast<size_t>(answer.reply_len));
      trace_->request_line(*this, queued, answer.error, answer.handler_ns, answer.injection);
    }
    return;
  }
  state_ = answer.due_ms != 0 ? State::kReplyDelayed : State::kReplyHeld;
  due_ms_ = answer.due_ms;
  held_len_ = answer.reply_len;
  if (trace_) {
    HeldTraceLine& held = bufs_->held_line;
    std::string_view request = trace_->kept_request();
    std::memcpy(held.request, request.data(), request.size());
    held.request_len = static_cast<int32_t>(request.size());
    held.pending = true;
    held.error = answer.error;
    held.handler_ns = answer.handler_ns;
    held.injection = answer.injection;
  }
}

void Connection::write_held_line(const char* reply) {
  HeldTraceLine& held = bufs_->held_line;
  held.pending = false;
  trace_->keep_request(held.request, held.request_len);
  // The request may carry a clear PIN; the trace wipes its own copy.
  secure_zero(held.request, static_cast<size_t>(held.request_len));
  std::string_view queued;
  if (reply) queued = {reply, static_cast<size_t>(held_len_)};
  trace_->request_line(*this, queued, held.error, held.handler_ns, held.injection,
                       reply != nullptr);
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
  if (trace_ && bufs_->held_line.pending) write_held_line(bufs_->output + out_len_ - held_len_);
  held_len_ = 0;
  state_ = State::kReading;
  return process_input(now_ms);
}

bool Connection::owes_only_delayed_reply() const {
  if (!peer_closed_ || state_ != State::kReplyDelayed || has_output()) return false;
  // A request not yet answered would need the slot's buffers once the delay
  // ends; the rest of the line it ended, or bytes no carriage return ends,
  // would not.
  std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
  int32_t from = 0;
  while (std::optional<ByteSpan> line = next_line(in, from)) {
    if (next_request(in, *line, from)) return false;
    from = line->end;
  }
  return true;
}

void Connection::hand_over(OwedReplies& owed) {
  // Its trace line is written as the reply leaves the slot.
  if (trace_ && bufs_->held_line.pending) write_held_line(bufs_->reply);
  owed.add(std::move(transport_), fd_, {bufs_->reply, static_cast<size_t>(held_len_)}, due_ms_);
  close(CloseCause::kPeerClosed);
}

Verdict Connection::flush(int64_t now_ms) {
  const bool owed = owes_reply();
  while (has_output()) {
    IoResult io =
        transport_->write({bufs_->output + out_start_, static_cast<size_t>(out_len_ - out_start_)});
    if (io.status == IoStatus::kFailed) return fail(io.cause);
    if (io.bytes == 0) break;
    count_bytes(counters_ ? &counters_->bytes_sent : nullptr, io);
    const auto n = static_cast<int32_t>(io.bytes);
    // Sent replies may carry clear PINs; they need not stay once sent.
    secure_zero(bufs_->output + out_start_, static_cast<size_t>(n));
    out_start_ += n;
    if (out_start_ == out_len_) out_start_ = out_len_ = 0;
    if (release_held_reply(now_ms) == Verdict::kClose) return Verdict::kClose;
  }
  if (state_ == State::kClosing && !has_output()) {
    diag("Socket %d closed by an inject rule.\n", fd_);
    return fail(CloseCause::kInjected);
  }
  if (!owes_reply()) {
    if (peer_closed_) return fail(CloseCause::kPeerClosed);
    // The idle clock starts again from the last reply it was owed.
    if (owed) idle_since_ms_ = now_ms;
  }
  return Verdict::kKeep;
}

}  // namespace palisim
