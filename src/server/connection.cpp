#include "server/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "crypto/secure_zero.h"
#include "dispatch/command_table.h"
#include "protocol/reply.h"
#include "server/command_stats.h"
#include "server/diag.h"
#include "server/fault_injection.h"
#include "server/request_trace.h"

namespace palisim {

namespace {

int32_t output_room(const Connection& c) {
  return kOutputCapacity - c.out_len;
}

// Moves unsent output to the front so the whole free space is usable.
void compact_output(Connection& c) {
  if (c.out_start == 0) return;
  int32_t pending = c.out_len - c.out_start;
  std::memmove(c.bufs->output, c.bufs->output + c.out_start, static_cast<size_t>(pending));
  secure_zero(c.bufs->output + pending, static_cast<size_t>(c.out_len - pending));
  c.out_start = 0;
  c.out_len = pending;
}

// Queues the reply in the reply buffer if it fits; returns false when it must be held.
bool queue_reply(Connection& c, int32_t reply_len) {
  if (reply_len >= output_room(c)) compact_output(c);
  if (reply_len >= output_room(c)) return false;
  std::memcpy(c.bufs->output + c.out_len, c.bufs->reply, static_cast<size_t>(reply_len));
  secure_zero(c.bufs->reply, static_cast<size_t>(reply_len));
  c.out_len += reply_len;
  return true;
}

using Clock = std::chrono::steady_clock;

// Dispatches the request, or lets the inject rule that took it answer or
// close instead; returns the request's row of the command table.
size_t answer_request(Connection& c, char* request, int32_t request_len, const Injection& inj,
                      ReplyBuffer& r) {
  if (!inj.rule || !inj.rule->replaces_reply()) {
    r.approve = inj.rule && inj.rule->approve;
    return dispatch_request(c.bufs->settings, c.bufs->keys, request, request_len, r);
  }
  if (!inj.rule->close) write_injected_reply(c.bufs->settings, *inj.rule, r);
  return inj.command;
}

// Queues the reply, or holds it for room or for the rule's delay; a rule's
// close holds the connection instead. Returns whether the reply was queued.
bool deliver_reply(Connection& c, int32_t reply_len, const Injection& inj, Clock::time_point now) {
  if (inj.delay_ms > 0) {
    c.held_until_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() +
        inj.delay_ms;
  }
  if (inj.rule && inj.rule->close) {
    c.close_held = true;
    return false;
  }
  bool queued = c.held_until_ms == 0 && queue_reply(c, reply_len);
  c.held_len = queued ? 0 : reply_len;
  return queued;
}

// Dispatches and queues as process_request does, for the statistics, the
// trace and the inject rules. One clock reading per request: the time since
// `mark`, the end of the previous request or the start of the pass, is this
// request's, so the cutting of the request out of its line counts with its
// handler.
void process_counted_request(Connection& c, char* request, int32_t request_len,
                             Clock::time_point& mark) {
  ReplyBuffer r{std::span<char>(c.bufs->reply, kReplyCapacity), 0};
  if (c.trace) c.trace->keep_request(request, request_len);
  Injection inj;
  if (c.bufs->inject.count != 0) {
    inj = choose_injection(c.bufs->inject,
                           command_of_request({request, static_cast<size_t>(request_len)}),
                           c.random_state);
  }
  size_t command = answer_request(c, request, request_len, inj, r);
  Clock::time_point done = Clock::now();
  int64_t spent = (done - mark) / std::chrono::nanoseconds(1);
  mark = done;
  if (c.stats) {
    c.stats->record(command, r.error != nullptr, spent);
    if (inj.rule) c.stats->record_injection(command);
  }
  bool queued = deliver_reply(c, r.len, inj, done);
  if (!c.trace) return;
  // A queued reply has left the reply buffer for the end of the output.
  std::string_view reply =
      queued ? std::string_view(c.bufs->output + c.out_len - r.len, static_cast<size_t>(r.len))
             : r.view();
  c.trace->request_line(c, reply, r.error, spent, inj);
  // Writing the line is no part of the next request.
  mark = Clock::now();
}

void process_request(Connection& c, char* request, int32_t request_len, Clock::time_point& mark) {
  if (c.stats || c.trace || c.bufs->inject.count != 0) {
    process_counted_request(c, request, request_len, mark);
    return;
  }
  ReplyBuffer r{std::span<char>(c.bufs->reply, kReplyCapacity), 0};
  dispatch_request(c.bufs->settings, c.bufs->keys, request, request_len, r);
  c.held_len = queue_reply(c, r.len) ? 0 : r.len;
}

// Dispatches the requests between start and end; returns the position after
// the last request dispatched when a reply had to be held, else end.
int32_t process_requests_in_line(Connection& c, int32_t start, int32_t end,
                                 Clock::time_point& mark) {
  char* in = c.bufs->input;
  int32_t pos = start;
  bool whole_line = !c.mid_line;
  while (!c.holding()) {
    auto* open = static_cast<char*>(std::memchr(in + pos, '<', static_cast<size_t>(end - pos)));
    if (!open) break;
    auto open_at = static_cast<int32_t>(open - in);
    auto* close =
        static_cast<char*>(std::memchr(open + 1, '>', static_cast<size_t>(end - open_at - 1)));
    if (!close) break;
    auto close_at = static_cast<int32_t>(close - in);
    process_request(c, open, close_at - open_at + 1, mark);
    c.requested = true;
    pos = close_at + 1;
  }
  if (c.trace && whole_line && pos == start) {
    c.trace->line_without_request(c, {in + start, static_cast<size_t>(end - start)});
  }
  c.mid_line = c.holding();
  return c.mid_line ? pos : end;
}

}  // namespace

Connection* open_connection_slot(ConnectionTable& table, int fd, const Settings& settings) {
  for (Connection& c : table) {
    if (c.in_use) continue;
    c.bufs = std::make_unique<ConnectionBuffers>();
    c.in_use = true;
    c.fd = fd;
    c.in_len = c.out_start = c.out_len = c.held_len = 0;
    c.held_until_ms = 0;
    c.random_state = 0;
    c.resume = c.overlong = c.mid_line = c.requested = c.close_held = false;
    c.peer[0] = '\0';
    c.tls.reset();
    c.handshake_until_ms = 0;
    c.tls_wants_write = false;
    c.first_read = true;
    c.tls_read_blocked = false;
    c.stats = nullptr;
    c.trace = nullptr;
    c.bufs->settings = settings;
    return &c;
  }
  return nullptr;
}

void close_connection_slot(Connection& c) {
  if (c.trace && !c.overlong) {
    const char* in = c.bufs->input;
    const void* last_cr = memrchr(in, '\r', static_cast<size_t>(c.in_len));
    int32_t from = last_cr ? static_cast<int32_t>(static_cast<const char*>(last_cr) - in) + 1 : 0;
    c.trace->unended_input(c, {in + from, static_cast<size_t>(c.in_len - from)});
  }
  if (c.tls) c.tls->notify_close();
  graceful_close(c.fd);
  c.tls.reset();
  wipe_settings(c.bufs->settings);
  c.bufs->keys.clear();
  // Requests and replies carry key blocks and PIN blocks.
  secure_zero(c.bufs.get(), sizeof(ConnectionBuffers));
  c.bufs.reset();
  c.fd = -1;
  c.in_use = false;
}

void graceful_close(int fd) {
  if (shutdown(fd, SHUT_WR) != 0) {
    close(fd);
    return;
  }
  char scratch[1024];
  for (;;) {
    ssize_t n = recv(fd, scratch, sizeof scratch, 0);
    if (n <= 0) break;
    diag("FYI, received %d unexpected bytes during shutdown.", static_cast<int>(n));
  }
  close(fd);
}

IoResult continue_handshake(Connection& c) {
  TlsResult step = c.tls->handshake();
  c.tls_wants_write = step == TlsResult::kWantWrite;
  switch (step) {
    case TlsResult::kDone: {
      c.handshake_until_ms = 0;
      size_t len = std::strlen(c.peer);
      c.peer[len] = ' ';
      c.tls->describe({c.peer + len + 1, sizeof c.peer - len - 1});
      diag("Socket %d from %.*s: TLS established, %s\n", c.fd, static_cast<int>(len), c.peer,
           c.peer + len + 1);
      return kKeep;
    }
    case TlsResult::kWantRead:
    case TlsResult::kWantWrite:
      return kKeep;
    case TlsResult::kClosed:
      diag("Socket %d from %s: TLS handshake failed: the client closed the connection\n", c.fd,
           c.peer);
      return kClose;
    case TlsResult::kFailed:
      if (c.tls->plain_text()) {
        diag("Socket %d from %s: plain text on the TLS port; closing it.\n", c.fd, c.peer);
      } else {
        diag("Socket %d from %s: TLS handshake failed: %s\n", c.fd, c.peer, c.tls->failure());
      }
      return kClose;
  }
  return kClose;
}

namespace {

// recv or its TLS counterpart: bytes read, 0 when the peer closed, or -1
// with errno (EAGAIN to wait).
ssize_t receive(Connection& c, char* into, size_t room) {
  if (!c.tls) return recv(c.fd, into, room, 0);
  size_t moved = 0;
  TlsResult r = c.tls->read({into, room}, moved);
  c.tls_wants_write = r == TlsResult::kWantWrite;
  c.tls_read_blocked = r == TlsResult::kWantRead;
  switch (r) {
    case TlsResult::kDone:
      return static_cast<ssize_t>(moved);
    case TlsResult::kWantRead:
    case TlsResult::kWantWrite:
      errno = EAGAIN;
      return -1;
    case TlsResult::kClosed:
      return 0;
    case TlsResult::kFailed:
      break;
  }
  diag("Socket %d from %s: TLS read failed: %s\n", c.fd, c.peer, c.tls->failure());
  errno = EPROTO;
  return -1;
}

ssize_t transmit(Connection& c, const char* bytes, size_t len) {
  if (!c.tls) return send(c.fd, bytes, len, MSG_NOSIGNAL);
  size_t moved = 0;
  TlsResult r = c.tls->write({bytes, len}, moved);
  if (r == TlsResult::kDone) return static_cast<ssize_t>(moved);
  if (r == TlsResult::kWantRead || r == TlsResult::kWantWrite) {
    errno = EAGAIN;
    return -1;
  }
  if (r == TlsResult::kFailed) {
    diag("Socket %d from %s: TLS write failed: %s\n", c.fd, c.peer, c.tls->failure());
  }
  errno = EPIPE;
  return -1;
}

}  // namespace

IoResult read_from_connection(Connection& c) {
  if (c.handshaking()) return continue_handshake(c);
  // TLS hands out at most a record per read, and a record may hold more than
  // the input takes: read on while bytes come and there is room for them.
  do {
    ssize_t n =
        receive(c, c.bufs->input + c.in_len, static_cast<size_t>(kInputCapacity - c.in_len));
    if (n == 0) {
      diag("Socket %d  was closed by the client. Shutting down.\n", c.fd);
      return kClose;
    }
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kKeep : kClose;
    if (c.first_read && !c.tls) {
      c.first_read = false;
      if (classify_first_bytes({c.bufs->input, static_cast<size_t>(n)}) ==
          FirstBytes::kTlsHandshake) {
        diag("Socket %d from %s: a TLS handshake on the plain port; closing it.\n", c.fd, c.peer);
        return kClose;
      }
    }
    c.in_len += static_cast<int32_t>(n);
    process_input_lines(c);
    if (c.overlong) return kClose;
  } while (c.tls && !c.holding() && c.in_len < kInputCapacity && c.tls->has_buffered_input());
  return kKeep;
}

IoResult write_to_connection(Connection& c) {
  ssize_t n =
      transmit(c, c.bufs->output + c.out_start, static_cast<size_t>(c.out_len - c.out_start));
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kKeep : kClose;
  // Sent replies may carry clear PINs; they need not stay once sent.
  secure_zero(c.bufs->output + c.out_start, static_cast<size_t>(n));
  c.out_start += static_cast<int32_t>(n);
  if (c.out_start == c.out_len) c.out_start = c.out_len = 0;
  if (c.held_len != 0 && c.held_until_ms == 0 && queue_reply(c, c.held_len)) {
    c.held_len = 0;
    c.resume = true;
  }
  return kKeep;
}

void release_delayed_reply(Connection& c) {
  c.held_until_ms = 0;
  if (c.held_len != 0 && queue_reply(c, c.held_len)) {
    c.held_len = 0;
    c.resume = true;
  }
}

void process_input_lines(Connection& c) {
  char* in = c.bufs->input;
  int32_t consumed = 0;
  bool timed = c.stats || c.trace || c.bufs->inject.count != 0;
  Clock::time_point mark = timed ? Clock::now() : Clock::time_point();
  while (!c.holding()) {
    auto* cr = static_cast<char*>(
        std::memchr(in + consumed, '\r', static_cast<size_t>(c.in_len - consumed)));
    if (!cr) break;
    auto line_end = static_cast<int32_t>(cr - in) + 1;
    consumed = process_requests_in_line(c, consumed, line_end, mark);
  }
  if (consumed > 0) {
    c.in_len -= consumed;
    std::memmove(in, in + consumed, static_cast<size_t>(c.in_len));
    // Handled requests may carry clear PINs.
    secure_zero(in + c.in_len, static_cast<size_t>(consumed));
  }
  // A full buffer without a line end can never make progress.
  c.overlong = !c.holding() && c.in_len == kInputCapacity;
  if (c.overlong) {
    diag("Socket %d sent %d bytes without a carriage return; closing it.\n", c.fd,
         static_cast<int>(kInputCapacity));
  }
}

}  // namespace palisim
