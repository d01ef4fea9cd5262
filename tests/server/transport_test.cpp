// The connection over a transport the test plays: reads in the chunks it
// hands out, writes that take a few bytes or none, a peer that hangs up, a
// failures of either direction; and on the handshake worker, a handshake
// that completes and one that stalls.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "server/connection.h"
#include "server/handshake_worker.h"

namespace palisim::testing {
namespace {

// What the peer does; the connection's transport reads it and fills `sent`.
struct Peer {
  std::deque<std::string> chunks;  // one per read; none left: would block, or ended
  bool hangs_up = false;           // once the chunks are read
  bool chunks_pending = false;     // the transport holds the chunks, as TLS holds records
  size_t room = SIZE_MAX;          // bytes a write takes; 0 blocks
  CloseCause read_fails = CloseCause::kNone;
  CloseCause write_fails = CloseCause::kNone;
  int handshake_steps = 0;         // steps before requests flow
  int64_t handshake_due_ms = 100;  // when a handshake not done by then stalls
  int fd = -1;                     // a socket for the handshake worker's poll
};

class FakeTransport final : public Transport {
 public:
  FakeTransport(Peer& peer, std::string& sent) : Transport(peer.fd, ""), peer_(peer), sent_(sent) {}
  IoResult read(std::span<char> into) override {
    if (peer_.read_fails != CloseCause::kNone) return {IoStatus::kFailed, 0, peer_.read_fails};
    if (peer_.chunks.empty()) return {peer_.hangs_up ? IoStatus::kEnded : IoStatus::kWouldBlock};
    std::string& chunk = peer_.chunks.front();
    size_t n = std::min(chunk.size(), into.size());
    chunk.copy(into.data(), n);
    chunk.erase(0, n);
    if (chunk.empty()) peer_.chunks.pop_front();
    return {IoStatus::kMoved, n};
  }
  IoResult write(std::span<const char> bytes) override {
    if (peer_.write_fails != CloseCause::kNone) return {IoStatus::kFailed, 0, peer_.write_fails};
    size_t n = std::min(bytes.size(), peer_.room);
    sent_.append(bytes.data(), n);
    return {n ? IoStatus::kMoved : IoStatus::kWouldBlock, n};
  }
  short waits_for() const override { return POLLIN; }
  bool has_pending_input() const override { return peer_.chunks_pending && !peer_.chunks.empty(); }
  bool handshake_done() const override { return peer_.handshake_steps == 0; }
  CloseCause step_handshake() override {
    --peer_.handshake_steps;
    return CloseCause::kNone;
  }
  int64_t deadline_ms() const override { return handshake_done() ? 0 : peer_.handshake_due_ms; }
  CloseCause on_deadline(int64_t now_ms) override {
    return !handshake_done() && now_ms >= peer_.handshake_due_ms ? CloseCause::kTlsStalled
                                                                 : CloseCause::kNone;
  }
  std::string_view identity() const override { return {}; }

 private:
  Peer& peer_;
  std::string& sent_;  // what the peer received
};

class FakeFactory final : public TransportFactory {
 public:
  FakeFactory(Peer& peer, std::string& sent) : peer_(peer), sent_(sent) {}
  std::unique_ptr<Transport> open(const TransportStart&) const override {
    return std::make_unique<FakeTransport>(peer_, sent_);
  }
  bool handshakes() const override { return false; }

 private:
  Peer& peer_;
  std::string& sent_;
};

std::string repeated(const std::string& text, int n) {
  std::string all;
  for (int i = 0; i < n; ++i)
    all += text;
  return all;
}

TEST(Transport, ConnectionServesWhateverTheTransportDoes) {
  struct Case {
    const char* name;
    Peer peer;
    size_t room_later;  // what writes take from the second pass on
    std::string sent;
    CloseCause cause;  // kNone: still open
    int passes;        // that the connection is served
  };
  const std::string two = "<00#a#>\r<00#a#>\r", kEcho = "<00#000035#a#>\r\n";
  // Runs of "<>" (two bytes answered by fourteen) outgrow the output buffer
  // within one line, so a reply is held in the middle of the line.
  const std::string runs = repeated("<>", 2400), run_replies = repeated("<00#020035#>\r\n", 2400);
  const CloseCause kOpen = CloseCause::kNone;
  std::vector<Case> cases = {
      {"one write at a time", {.chunks = {two}}, SIZE_MAX, repeated(kEcho, 2), kOpen, 1},
      {"writes of seven bytes", {.chunks = {two}, .room = 7}, 7, repeated(kEcho, 2), kOpen, 9},
      {"replies held mid-line resume",
       {.chunks = {runs + "<00#a#>\r"}, .room = 0},
       4096,
       run_replies + kEcho,
       kOpen,
       2},
      {"request in pieces", {.chunks = {"<00#", "a#", ">", "\r"}}, SIZE_MAX, kEcho, kOpen, 4},
      {"buffered input read in one pass",
       {.chunks = {"<00#", "a#>\r", two}, .chunks_pending = true},
       SIZE_MAX,
       repeated(kEcho, 3),
       kOpen,
       1},
      {"hang-up still gets its replies",
       {.chunks = {two}, .hangs_up = true, .room = 0},
       SIZE_MAX,
       repeated(kEcho, 2),
       CloseCause::kPeerClosed,
       2},
      {"read fails",
       {.chunks = {two}, .read_fails = CloseCause::kReadFailed},
       SIZE_MAX,
       "",
       CloseCause::kReadFailed,
       1},
      {"write fails",
       {.chunks = {two}, .write_fails = CloseCause::kWriteFailed},
       SIZE_MAX,
       "",
       CloseCause::kWriteFailed,
       1},
      {"unended line stays", {.chunks = {"<00#a#>"}}, SIZE_MAX, "", kOpen, 2},
  };
  for (Case& t : cases) {
    std::string sent;
    FakeFactory factory(t.peer, sent);
    auto c = std::make_unique<Connection>();
    c->open(-1, Settings{}, {.idle_limit_ms = 0, .transport = &factory});
    CloseCause cause = CloseCause::kNone;
    for (int pass = 0; pass < t.passes && cause == CloseCause::kNone; ++pass) {
      // A hang-up is reported as readable, whatever the connection waits for.
      bool hung_up = t.peer.hangs_up && t.peer.chunks.empty();
      Verdict v = c->poll_events() & POLLOUT && !hung_up ? c->on_writable(0) : c->on_readable(0);
      if (v == Verdict::kKeep) v = c->on_deadline(pass == 0 ? 0 : 100);
      if (v == Verdict::kClose) cause = c->close_cause();
      t.peer.room = t.room_later;
    }
    EXPECT_EQ(cause, t.cause) << t.name;
    EXPECT_TRUE(sent == t.sent) << t.name << ": sent " << sent.size() << " of " << t.sent.size()
                                << " bytes";
    if (cause == CloseCause::kNone) {
      EXPECT_EQ(c->pending_output(), "") << t.name;
    }
  }
}

// The handshake worker steps a transport each time its socket is ready (here
// always: a byte waits unread) until done, or closes it at its deadline.
TEST(Transport, HandshakesCompleteOrStallOnTheirWorker) {
  struct Case {
    const char* name;
    int64_t due_ms;
    CloseCause cause;
  };
  const Case cases[] = {
      {"handshake completes", INT64_MAX, CloseCause::kNone},
      {"handshake stalls", 100, CloseCause::kTlsStalled},
  };
  HandshakeWorker worker;
  for (const Case& t : cases) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    Peer peer;
    peer.handshake_steps = 3;
    peer.handshake_due_ms = t.due_ms;
    peer.fd = pair[0];
    std::string sent;
    worker.start(std::make_unique<FakeTransport>(peer, sent), {}, 0);
    pollfd ready{worker.ready_fd(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << t.name;
    std::array<HandshakeOutcome, kMaxHandshakes> out;
    ASSERT_EQ(worker.take(out), 1u) << t.name;
    EXPECT_EQ(out[0].cause, t.cause) << t.name;
    EXPECT_EQ(out[0].transport != nullptr, t.cause == CloseCause::kNone) << t.name;
    EXPECT_EQ(peer.handshake_steps, t.cause == CloseCause::kNone ? 0 : 2) << t.name;
    EXPECT_EQ(worker.in_flight(), 0);
    if (out[0].transport) out[0].transport->close();
    close(pair[1]);
  }
}

}  // namespace
}  // namespace palisim::testing
