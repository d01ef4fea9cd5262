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
#include "server/loop_counters.h"
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
  if (c.counters) c.counters->count_request(command, r.error, spent, inj.rule, inj.delay_ms);
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
  if (c.stats || c.counters || c.trace || c.bufs->inject.count != 0) {
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
    c.stats = nullptr;
    c.trace = nullptr;
    c.counters = nullptr;
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
  graceful_close(c.fd);
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

IoResult read_from_connection(Connection& c) {
  ssize_t n =
      recv(c.fd, c.bufs->input + c.in_len, static_cast<size_t>(kInputCapacity - c.in_len), 0);
  if (n == 0) {
    diag("Socket %d  was closed by the client. Shutting down.\n", c.fd);
    return kClose;
  }
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kKeep : kClose;
  c.in_len += static_cast<int32_t>(n);
  if (c.counters) c.counters->bytes_received += static_cast<uint64_t>(n);
  process_input_lines(c);
  return c.overlong ? kClose : kKeep;
}

IoResult write_to_connection(Connection& c) {
  ssize_t n = send(c.fd, c.bufs->output + c.out_start, static_cast<size_t>(c.out_len - c.out_start),
                   MSG_NOSIGNAL);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kKeep : kClose;
  if (c.counters) c.counters->bytes_sent += static_cast<uint64_t>(n);
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
  bool timed = c.stats || c.counters || c.trace || c.bufs->inject.count != 0;
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
