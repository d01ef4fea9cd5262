#include "server/connection.h"
#include "server/control_rules.h"

#include <poll.h>

#include <cstring>

#include "crypto/secure_zero.h"
#include "protocol/frame_scan.h"
#include "protocol/framing.h"
#include "server/diag.h"
#include "server/owed_replies.h"
#include "server/plain_transport.h"
#include "server/request_clock.h"
#include "server/request_path.h"

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

// What a connection set up without observers tells.
const RequestObservers kNoObservers;

}  // namespace

void Connection::open(int fd, const Settings& settings, const ConnectionSetup& setup) {
  const TransportStart start{fd, setup.peer, setup.now_ms, setup.idle_limit_ms};
  open(setup.transport ? setup.transport->open(start)
                       : std::make_unique<PlainTransport>(fd, setup.peer),
       settings, setup);
}

void Connection::open(std::unique_ptr<Transport> transport, const Settings& settings,
                      const ConnectionSetup& setup) {
  const int fd = transport->fd();
  bufs_ = std::make_unique<ConnectionBuffers>();
  bufs_->settings = settings;
  if (setup.inject) bufs_->inject = *setup.inject;
  for (int32_t i = 0; i < bufs_->inject.count; ++i)
    bufs_->inject_uses[static_cast<size_t>(i)].start(bufs_->inject.rules[static_cast<size_t>(i)]);
  if (setup.seed) {
    bufs_->random.use_seed(*setup.seed);
  } else {
    bufs_->random.use_kernel(setup.random_state);
  }
  fd_ = fd;
  state_ = State::kReading;
  cause_ = CloseCause::kNone;
  in_len_ = out_start_ = out_len_ = held_len_ = 0;
  due_ms_ = 0;
  mid_line_ = false;
  told_line_feed_ = false;
  peer_closed_ = false;
  control_ = setup.control;
  std::strncpy(peer_, setup.peer, sizeof peer_ - 1);
  peer_[sizeof peer_ - 1] = '\0';
  bytes_received_ = bytes_sent_ = 0;
  observers_ = setup.observers ? setup.observers : &kNoObservers;
  record_held_ = false;
  idle_since_ms_ = setup.now_ms;
  idle_limit_ms_ = setup.idle_limit_ms;
  transport_ = std::move(transport);
  record_ = {};
  record_.connection = {setup.id, fd, peer_, transport_->identity()};
}

void Connection::close(CloseCause cause) {
  if (!in_use()) return;
  if (cause_ == CloseCause::kNone) cause_ = cause;
  if (record_held_) hand_on(nullptr, 0);
  if (!observers_->empty() && cause_ != CloseCause::kOverlong) {
    std::span<const char> in(bufs_->input, static_cast<size_t>(in_len_));
    int32_t from = unended_start(in);
    observers_->unended_input(name(), {in.data() + from, static_cast<size_t>(in_len_ - from)});
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
    bytes_received_ += io.bytes;
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
  // The clock is read per request only for an observer that asked for time;
  // the idle clock and inject rules' delays make do with the loop's pass.
  int64_t mark = observers_->needs().time ? request_clock_ns() : 0;
  bool answered = false;
  // Only complete lines are answered: the scan ends at the last carriage return.
  const int32_t lines_end = unended_start({in, static_cast<size_t>(in_len_)});
  if (lines_end > 0 && state_ == State::kReading) {
    consumed = process_lines(lines_end, now_ms, answered, mark);
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

int32_t Connection::process_lines(int32_t end, int64_t now_ms, bool& answered, int64_t& mark) {
  const char* in = bufs_->input;
  const ObserverNeeds needs = observers_->needs();
  // A rule may hold or replace a reply, which then waits in bufs_->reply.
  // Rules change only between the loop's passes.
  const bool rules = bufs_->inject.count != 0 || (control_ && control_->count != 0);
  const RequestPath path{bufs_->settings,    bufs_->keys, bufs_->inject,
                         bufs_->inject_uses, control_,    bufs_->random};
  Answer answer;
  FrameScan scan({in, static_cast<size_t>(in_len_)}, 0, end);
  Fields fields;
  int32_t line_start = 0;
  int32_t pos = 0;
  bool whole_line = !mid_line_;
  bool line_answered = false;
  while (state_ == State::kReading) {
    const Frame frame = scan.next(fields);
    if (frame.kind == FrameKind::kEnd) break;
    if (frame.kind == FrameKind::kLineEnd) {
      if (whole_line && !line_answered && !observers_->empty()) {
        observers_->line_without_request(
            name(), {in + line_start, static_cast<size_t>(frame.span.end - line_start)});
      }
      line_start = frame.span.end;
      whole_line = true;
      line_answered = false;
      continue;
    }
    char* text = bufs_->input + frame.span.begin;
    const int32_t len = frame.span.size();
    char* direct = rules ? nullptr : direct_reply();
    answer.reply.buf = {direct ? direct : bufs_->reply, kReplyCapacity};
    answer_request(path, text, len, fields, now_ms, answer);
    // Dispatch cut the request up; its record shows it as it came.
    if (needs.text) uncut_fields(text, fields);
    if (direct) out_len_ += answer.reply.len;
    int64_t handler_ns = 0;
    if (needs.time) {
      // The time since `mark` (the end of the previous request, or the start
      // of the pass) is this request's, so cutting it out of its line counts
      // with its handler.
      const int64_t done = request_clock_ns();
      // The clock may step back by a little when its scale is checked.
      handler_ns = done > mark ? done - mark : 0;
      record_.done_ns = done;
      mark = done;
    }
    deliver(answer, {text, needs.text ? static_cast<size_t>(len) : 0}, fields, handler_ns,
            direct != nullptr);
    // A lengthy observer's work is no part of the next request; a quick
    // one's falls to it.
    if (needs.time && needs.lengthy) mark = request_clock_ns();
    answered = true;
    line_answered = true;
    pos = frame.span.end;
  }
  mid_line_ = state_ != State::kReading;
  return mid_line_ ? pos : line_start;
}

void Connection::deliver(const Answer& answer, std::string_view request, const Fields& fields,
                         int64_t handler_ns, bool in_output) {
  const bool observed = !observers_->empty();
  const int32_t reply_len = answer.reply.len;
  if (observed) {
    record_.command = answer.command;
    record_.request = request;
    record_.fields = &fields;
    record_.reply = {};
    record_.sent = true;
    record_.error = answer.reply.error;
    if (answer.reply.error) record_.note = answer.reply.note;
    record_.error_reply = answer.error_reply;
    record_.injection = answer.injection;
    record_.handler_ns = handler_ns;
  }
  if (answer.close) {
    state_ = answer.due_ms != 0 ? State::kCloseDelayed : State::kClosing;
    due_ms_ = answer.due_ms;
    if (observed) hand_on(nullptr, 0);
    return;
  }
  if (answer.due_ms == 0 && (in_output || queue_reply(reply_len))) {
    if (observed) hand_on(bufs_->output + out_len_ - reply_len, reply_len);
    return;
  }
  state_ = answer.due_ms != 0 ? State::kReplyDelayed : State::kReplyHeld;
  due_ms_ = answer.due_ms;
  held_len_ = reply_len;
  record_held_ = observed;
  if (observed) {
    // The input the record points into goes before the reply does.
    if (!request.empty()) std::memcpy(bufs_->request, request.data(), request.size());
    record_.request = {bufs_->request, request.size()};
    record_.fields = nullptr;
  }
}

void Connection::hand_on(const char* reply, int32_t reply_len) {
  record_held_ = false;
  if (reply) {
    record_.reply = {reply, static_cast<size_t>(reply_len)};
  } else if (!record_.injection.rule || !record_.injection.rule->close) {
    // The connection closed before the reply left.
    record_.sent = false;
  }
  observers_->request(record_);
  // A held request's copy may carry a clear PIN; each observer wipes its own.
  if (record_.request.data() == bufs_->request) secure_zero(bufs_->request, record_.request.size());
}

char* Connection::direct_reply() {
  if (kReplyCapacity >= kOutputCapacity - out_len_ && out_start_ != 0) compact_output();
  if (kReplyCapacity >= kOutputCapacity - out_len_) return nullptr;
  return bufs_->output + out_len_;
}

void Connection::compact_output() {
  char* out = bufs_->output;
  int32_t pending = out_len_ - out_start_;
  std::memmove(out, out + out_start_, static_cast<size_t>(pending));
  secure_zero(out + pending, static_cast<size_t>(out_len_ - pending));
  out_start_ = 0;
  out_len_ = pending;
}

bool Connection::queue_reply(int32_t reply_len) {
  char* out = bufs_->output;
  if (reply_len >= kOutputCapacity - out_len_ && out_start_ != 0) compact_output();
  if (reply_len >= kOutputCapacity - out_len_) return false;
  std::memcpy(out + out_len_, bufs_->reply, static_cast<size_t>(reply_len));
  secure_zero(bufs_->reply, static_cast<size_t>(reply_len));
  out_len_ += reply_len;
  return true;
}

Verdict Connection::release_held_reply(int64_t now_ms) {
  if (state_ != State::kReplyHeld || !queue_reply(held_len_)) return Verdict::kKeep;
  if (record_held_) hand_on(bufs_->output + out_len_ - held_len_, held_len_);
  held_len_ = 0;
  state_ = State::kReading;
  return process_input(now_ms);
}

bool Connection::owes_only_delayed_replies() const {
  // Unsent output waits for the client to read, not for a delay.
  return peer_closed_ && !has_output() &&
         (state_ == State::kReplyDelayed || state_ == State::kCloseDelayed);
}

void Connection::hand_over(OwedReplies& owed) {
  OwedSchedule& schedule = owed.schedule();
  int64_t at = due_ms_;
  bool fits = true;
  // As on_deadline answers them, with the clock at the end of each delay;
  // the records are handed on as the replies are queued.
  while (fits && (state_ == State::kReplyDelayed || state_ == State::kReplyHeld)) {
    if (state_ == State::kReplyDelayed) {
      at = due_ms_;
      state_ = State::kReplyHeld;
    }
    release_held_reply(at);
    fits = schedule.add(pending_output(), at);
    discard_output();
  }
  if (!fits) {
    diag("Socket %d: its delayed replies pass %zu bytes; the rest are dropped.\n", fd_,
         kOwedBytesCapacity);
  }
  owed.add(std::move(transport_), fd_, fits && state_ == State::kCloseDelayed ? due_ms_ : at);
  close(CloseCause::kPeerClosed);
}

Verdict Connection::flush(int64_t now_ms) {
  const bool owed = owes_reply();
  while (has_output()) {
    IoResult io =
        transport_->write({bufs_->output + out_start_, static_cast<size_t>(out_len_ - out_start_)});
    if (io.status == IoStatus::kFailed) return fail(io.cause);
    if (io.bytes == 0) break;
    bytes_sent_ += io.bytes;
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
