// Runs that cannot start or cannot finish: no listener, an unknown host, a
// server that closes or resets the connection mid-run, a count of 0.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "free_port.h"
#include "scripted_server.h"
#include "stress_process.h"

namespace palisim::stress::testing {
namespace {

std::string start_line(int port, const std::string& count) {
  return "Starting test to localhost:" + std::to_string(port) + " for " + count +
         " iterations...\n";
}

TEST(StressConnect, APortWithoutListenerFailsToOpenWithStatus1) {
  int port = palisim::testing::free_port();
  for (const char* alg : {"pingpong", "maximalmoosh"}) {
    StressRun run = run_stress({"--alg", alg, "--port", std::to_string(port)});
    EXPECT_EQ(run.status, 1) << alg;
    EXPECT_EQ(run.output, start_line(port, "100") + "failed to open connection\n") << alg;
  }
}

TEST(StressConnect, AnUnresolvableHostFailsWithStatus1) {
  StressRun run = run_stress({"--host", "no-such-host.invalid", "--port", "9"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "Starting test to no-such-host.invalid:9 for 100 iterations...\n"
            "failed to resolve address\n");
}

// A server that answers `answered` requests, reads until `read` have come,
// then ends the connection.
ServerScript ending_after(int answered, int read, bool reset) {
  ServerScript s;
  s.answer_limit = answered;
  s.close_after_requests = read;
  s.reset = reset;
  return s;
}

struct Ending {
  const char* alg;
  ServerScript script;
  const char* message;
};

TEST(StressMidRun, AnEndOfStreamStopsTheRunWithStatus1) {
  const Ending cases[] = {
      // Ping-pong: the fourth request is read and never answered.
      {"pingpong", ending_after(3, 4, false), "connection closed by peer after 3 of 10 replies\n"},
      // Pipelined: all ten are read, three answered.
      {"maximalmoosh", ending_after(3, 10, false),
       "connection closed by peer after 3 of 10 replies\n"},
      {"pingpong", ending_after(0, 1, false), "connection closed by peer after 0 of 10 replies\n"},
  };
  for (const Ending& c : cases) {
    ScriptedServer server(c.script);
    StressRun run = run_stress({"--alg", c.alg, "--port", server.port_text(), "--count", "10"});
    server.finish();
    EXPECT_EQ(run.status, 1) << c.alg;
    EXPECT_EQ(run.output, start_line(server.port(), "10") + c.message) << c.alg;
  }
}

TEST(StressMidRun, AResetWhileWaitingForRepliesIsAReceiveFailure) {
  const Ending cases[] = {
      {"pingpong", ending_after(3, 4, true), "receive failed after 3 of 10 replies\n"},
      {"maximalmoosh", ending_after(3, 10, true), "receive failed after 3 of 10 replies\n"},
  };
  for (const Ending& c : cases) {
    ScriptedServer server(c.script);
    StressRun run = run_stress({"--alg", c.alg, "--port", server.port_text(), "--count", "10"});
    server.finish();
    EXPECT_EQ(run.status, 1) << c.alg;
    EXPECT_EQ(run.output, start_line(server.port(), "10") + c.message) << c.alg;
  }
}

TEST(StressMidRun, AResetWhileSendingStopsTheRunWithStatus1) {
  // The client is still sending copies when the reset comes; whether its next
  // send or its next receive meets it depends on timing, so either report
  // is right, with the numbers so far.
  ScriptedServer server(ending_after(0, 1, true));
  StressRun run =
      run_stress({"--alg", "maximalmoosh", "--port", server.port_text(), "--count", "1000000"});
  server.finish();
  EXPECT_EQ(run.status, 1);
  static const std::regex kStop(
      "Starting test to localhost:[0-9]+ for 1000000 iterations\\.\\.\\.\n"
      "(send failed after [0-9]+ of 1000000 commands|receive failed after 0 of 1000000 "
      "replies)\n");
  EXPECT_TRUE(std::regex_match(run.output, kStop)) << run.output;
}

TEST(StressCount, ZeroSendsNothingAndPrintsZeroFigures) {
  for (const char* alg : {"pingpong", "maximalmoosh"}) {
    for (const char* zero : {"0", "none"}) {
      ScriptedServer server({});
      StressRun run = run_stress({"--alg", alg, "--port", server.port_text(), "--count", zero});
      const ServerRecord& seen = server.finish();
      EXPECT_EQ(run.status, 0) << alg;
      EXPECT_EQ(run.output, start_line(server.port(), "0") +
                                "amortized duration: 0.000000; amortized rate: 0.000000 per sec\n")
          << alg;
      EXPECT_EQ(seen.received, "") << alg;
      // The connection was made and closed in order.
      EXPECT_EQ(seen.replies_at_client_end, 0) << alg;
    }
  }
}

}  // namespace
}  // namespace palisim::stress::testing
