// Inject rules: a delayed reply holds up only its connection, in order; each
// action; draws that repeat from one generator start; the trace and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "config/inject_rules.h"
#include "sample_configuration.h"
#include "sample_requests.h"
#include "server/command_stats.h"
#include "server/connection.h"
#include "server/owed_replies.h"
#include "server/plain_transport.h"
#include "server/request_trace.h"
#include "temp_file.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

using Clock = std::chrono::steady_clock;

// One connection under the sample configuration with the rules written as
// on the command line, sent `input` at once; what it queued for sending.
std::string served(const std::vector<std::string>& rules, const std::string& input,
                   uint64_t start = 1, CommandStats* stats = nullptr,
                   RequestTrace* trace = nullptr) {
  InjectRules inject;
  for (const std::string& text : rules) {
    std::string error;
    EXPECT_TRUE(parse_inject_rule(text, inject.rules[static_cast<size_t>(inject.count++)], error));
  }
  RequestObservers observers;
  observers.add(trace, RequestTrace::kNeeds);
  observers.add(stats);
  auto c = std::make_unique<Connection>();
  c->open(-1, sample_settings(), {"", &observers, &inject, start});
  c->on_received(input, 0);
  return std::string(c->pending_output());
}

TEST(Inject, DelayedReplyLeavesInOrderWhileOtherConnectionsAreServed) {
  const TempFile conf(
      "idle_timeout = 1\n"
      "atalla default {\n inject { command = \"30\" latency_ms = 1500 }\n"
      " inject { command = \"90\" close = true }\n}\n",
      "palisim-inject");
  TestServer server(conf.path());
  TestClient delayed(server.port()), first(server.port()), second(server.port());
  TestClient half_closed(server.port());
  Clock::time_point sent = Clock::now();
  for (TestClient* c : {&delayed, &half_closed})
    ASSERT_TRUE(c->send_all("<30#><00#after#>\r"));
  // The idle clock waits for the delay; a half-closed client still gets every reply.
  shutdown(half_closed.fd(), SHUT_WR);
  for (TestClient* other : {&first, &second}) {
    ASSERT_TRUE(other->send_all("<00#x#>\r"));
    EXPECT_EQ(other->read_replies(1), "<00#000035#x#>\r\n");
  }
  // The others were answered before the delayed client heard anything.
  EXPECT_TRUE(delayed.silent_for(0));

  // A close answers nothing, neither its request nor those after it.
  ASSERT_TRUE(first.send_all("<00#a#><90#><00#b#>\r"));
  EXPECT_EQ(first.read_replies(2), "<00#000035#a#>\r\n");
  EXPECT_TRUE(first.closed_by_server());
  for (TestClient* c : {&delayed, &half_closed})
    EXPECT_EQ(c->read_replies(2), "<00#040435#>\r\n<00#000035#after#>\r\n");
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(1500));
  EXPECT_TRUE(half_closed.closed_by_server());
}

// Clients that shut their sending side owed only a delayed reply give their
// slots back at once: more of them than there are slots, and a client after
// them, are served; the replies leave when due; beyond the bound of owed
// replies the oldest is dropped with one line.
TEST(Inject, ClosedClientsOwedADelayedReplyHoldNoSlot) {
  const TempFile conf("atalla default {\n inject { command = \"30\" latency_ms = 6000 }\n}\n",
                      "palisim-owed");
  DiagCapture diag;
  TestServer server(conf.path());
  std::vector<std::unique_ptr<TestClient>> owed;
  for (size_t i = 0; i <= kMaxOwedReplies; ++i) {
    owed.push_back(std::make_unique<TestClient>(server.port()));
    ASSERT_TRUE(owed.back()->send_all("<30#>\r"));
    shutdown(owed.back()->fd(), SHUT_WR);
    // In batches of fewer than the slots: each gets a slot once those before gave theirs back.
    if (i % 32 == 31 || i == kMaxOwedReplies) {
      ASSERT_TRUE(diag.wait_for("was closed by the client", i + 1));
    }
  }
  TestClient last(server.port());
  ASSERT_TRUE(last.send_all("<00#last#>\r"));
  EXPECT_EQ(last.read_replies(1), "<00#000035#last#>\r\n");
  EXPECT_TRUE(owed[1]->silent_for(0));
  EXPECT_TRUE(
      diag.wait_for(": dropping its delayed reply: 256 closed clients already wait for "
                    "theirs.\n"));
  EXPECT_EQ(owed[0]->read_replies(1), "");
  for (size_t i = 1; i < owed.size(); ++i) {
    ASSERT_EQ(owed[i]->read_replies(1), "<00#040435#>\r\n") << i;
    EXPECT_TRUE(owed[i]->closed_by_server());
  }
  const std::string text = diag.text();
  EXPECT_EQ(text.find("dropping its delayed reply"), text.rfind("dropping its delayed reply"));
}

// Every slot's client sends delayed requests and closes, half of them their
// sending side only. The slots come back at once: a new client is served
// before any delay ends. The half-closed get what each delay ends with ("":
// the close), in order and none of it early (the first read as it comes).
TEST(Inject, ClientsThatCloseGiveTheirSlotsBackWhateverTheyAreOwed) {
  const TempFile conf(
      "atalla default {\n inject { command = \"30\" latency_ms = 1500 }\n"
      " inject { command = \"90\" close = true latency_ms = 1500 }\n}\n",
      "palisim-owed");
  const std::string r = "<00#040435#>\r\n";
  const std::vector<std::pair<std::string, std::vector<std::string>>> shapes = {
      {"<30#><00#a#>\r<30#>\r<00#b#>\r", {r + "<00#000035#a#>\r\n", r + "<00#000035#b#>\r\n"}},
      {"<90#>\r", {""}},
      {"<30#><90#>\r", {r, ""}},
  };
  TestServer server(conf.path());
  for (const auto& [requests, runs] : shapes) {
    std::vector<std::unique_ptr<TestClient>> clients;
    const int closed = server.closed();
    const Clock::time_point sent = Clock::now();
    for (int i = 0; i < kMaxConnections; ++i) {
      clients.push_back(std::make_unique<TestClient>(server.port()));
      ASSERT_TRUE(clients.back()->send_all(requests));
      shutdown(clients.back()->fd(), i % 2 == 0 ? SHUT_WR : SHUT_RDWR);
    }
    ASSERT_TRUE(server.wait_closed(closed + kMaxConnections));
    TestClient next(server.port());
    ASSERT_TRUE(next.send_all("<00#next#>\r"));
    EXPECT_EQ(next.read_replies(1), "<00#000035#next#>\r\n");
    EXPECT_TRUE(clients[0]->silent_for(0)) << requests;
    std::string all;
    for (size_t d = 0; d < runs.size(); all += runs[d++]) {
      const auto lines = std::count(runs[d].begin(), runs[d].end(), '\n');
      EXPECT_EQ(clients[0]->read_replies(lines ? static_cast<int>(lines) : 1), runs[d]);
      EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(1500) * (d + 1)) << requests;
    }
    for (int i = 0; i < kMaxConnections; i += 2) {
      if (i != 0) {
        EXPECT_EQ(clients[i]->read_replies(kMaxConnections), all) << i;
      }
      EXPECT_TRUE(clients[i]->closed_by_server()) << requests << i;
    }
  }
}

// A closed client that never reads is closed once it has taken nothing of
// what came due for the bound.
TEST(Inject, AnOwedClientThatNeverReadsIsGivenUpAtTheBound) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  const int small = 4096;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  DiagCapture diag;
  OwedReplies owed(1000);
  ASSERT_TRUE(owed.schedule().add(std::string(kOwedBytesCapacity, 'x'), 100));
  owed.add(std::make_unique<PlainTransport>(fds[0], "peer"), fds[0], 100);
  for (auto [now_ms, left] : {std::pair{99, 1}, {100, 1}, {1099, 1}, {1100, 0}})
    EXPECT_EQ((owed.on_deadline(now_ms), owed.size()), static_cast<size_t>(left)) << now_ms;
  EXPECT_NE(diag.text().find(" did not take its delayed reply within 1 seconds; closing it.\n"),
            std::string::npos);
  close(fds[1]);
}

TEST(Inject, ActionsAnswerAsDocumented) {
  // Command 31's PIN block under another account fails the PIN check.
  std::string other_account = sample_text("31_type_1");
  other_account.replace(other_account.rfind("#4012") + 1, 12, "401234567891");
  const std::string translated = served({}, sample_text("31_type_1") + "\r");
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"31:approve", other_account, translated.substr(0, translated.size() - 2)},
      {"32:approve", sample_text("32_type_1_other_pvv"), "<42#Y#>"},
      {"*:approve", sample_text("37_wrong_old_pvv"), "<47#Y#0885#>"},
      {"5E:approve", sample_text("5E_mismatch"), "<6D#Y#08D7##>"},
      {"99:approve", sample_text("99_mismatch"), "<A8#1#Y##08D7#7#>"},
      // Errors and the replies without a verification stay real.
      {"32:approve", sample_text("32_pvv_of_3"), "<00#010735#>"},
      {"30:reply=<00#060235#>", sample_text("30_published_block"), "<00#060235#>"},
      {"*:reply=<x\"y\\z#>", "<zz#>", "<x\"y\\z#>"},
  };
  for (const auto& [rule, request, reply] : cases)
    EXPECT_EQ(served({rule}, request + "\r"), reply + "\r\n") << rule << " " << request;
  EXPECT_NE(served({}, other_account + "\r"), translated);
}

TEST(Inject, ProbabilityDrawsRepeatFromTheSameGeneratorStart) {
  std::string requests;
  for (int i = 0; i < 200; ++i)
    requests += "<00#>\r";
  // Which of 200 requests a rule took: 'x' for the set reply, '.' for the echo.
  auto taken = [&](const std::string& probability, uint64_t start) {
    std::string out = served({"00:reply=<x>,probability=" + probability}, requests, start), marks;
    for (size_t at = 0; (at = out.find('<', at)) != std::string::npos; ++at)
      marks += out[at + 1] == 'x' ? 'x' : '.';
    return marks;
  };
  EXPECT_EQ(taken("0", 1), std::string(200, '.'));
  EXPECT_EQ(taken("1", 1), std::string(200, 'x'));
  std::string quarter = taken("0.25", 1);
  // splitmix64 from 1: a known count, the same again, another from 2.
  EXPECT_EQ(std::count(quarter.begin(), quarter.end(), 'x'), 51) << quarter;
  EXPECT_EQ(taken("0.25", 1), quarter);
  EXPECT_NE(taken("0.25", 2), quarter);
}

TEST(Inject, TraceMarksAndStatisticsCountWhatTheRulesTook) {
  CommandStats stats;
  RequestTrace trace(TraceMode::kMasked);
  DiagCapture diag;
  served({"00:reply=<00#060235#>", "5e:approve,latency_ms=20,jitter_ms=10", "90:close"},
         "<00#>\r" + sample_text("5E_mismatch") + "\r", 1, &stats, &trace);
  served({"90:close"}, "<90#>\r<00#>\r", 1, &stats, &trace);
  stats.print();
  std::string text = diag.text();
  // The jitter drawn from 1 is 9.
  for (const char* part : {": <00#> -> <00#060235#> ", " us, injected: reply\n",
                           "#***#> -> (not sent: the connection closed first) ",
                           " us, injected: latency 29 ms, approve\n", ": <90#> -> (closed) ",
                           " us, injected: close\n", "us/request   injected\n  00  "})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  // Requests after a close are never handled: three requests, each taken.
  EXPECT_TRUE(std::regex_search(text, std::regex("\n  total +3 +1 +[0-9.]+ +[0-9.]+ +3\n")));
}

}  // namespace
}  // namespace palisim::testing
