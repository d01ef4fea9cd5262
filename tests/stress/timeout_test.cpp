// Servers that accept and then stall: silent, trickling bytes that never
// make a reply, or too busy to accept at all. Every mode gives up after its
// --timeout with one line and status 1, and waits without spinning a core.
#include <gtest/gtest.h>

#include <string>

#include "scripted_peer.h"
#include "stress_process.h"

namespace palisim::stress::testing {
namespace {

using palisim::testing::Stall;

TEST(StressTimeout, EveryWaitEndsAtTheTimeoutWithOneLineAndStatus1) {
  const std::string no_reply = "no reply within 0.3 seconds after 0 of 5 replies\n";
  const std::string lost = "connections: 1 opened, 0 refused, 1 lost\n";
  const std::string late = "palisimstress: connections without a reply within 0.3 seconds: 1\n";
  const struct {
    Stall stall;
    std::vector<std::string> args;
    std::string output;  // a line of standard output
    std::string errors;  // standard error
  } cases[] = {
      {Stall::kSilent, {"--alg", "pingpong"}, no_reply, ""},
      {Stall::kTrickle, {"--alg", "pingpong"}, no_reply, ""},
      {Stall::kSilent, {"--alg", "maximalmoosh"}, no_reply, ""},
      {Stall::kTrickle, {"--alg", "maximalmoosh"}, no_reply, ""},
      {Stall::kSilent, {"--tls"}, "TLS: handshake failed: no answer within 0.3 seconds\n", ""},
      {Stall::kFullBacklog, {}, "failed to open connection: no answer within 0.3 seconds\n", ""},
      {Stall::kSilent, {"--connections", "1"}, lost, late},
      {Stall::kTrickle, {"--connections", "1", "--alg", "maximalmoosh"}, lost, late},
      {Stall::kFullBacklog,
       {"--connections", "1"},
       "connections: 0 opened, 1 refused, 0 lost\n",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    palisim::testing::StallingServer server(c.stall);
    std::vector<std::string> args{
        "--host",  "127.0.0.1", "--port",    std::to_string(server.port()),
        "--count", "5",         "--timeout", "0.3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    StressRun run = run_stress(args);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
    EXPECT_EQ(run.errors, c.errors);
    // Waiting in poll, not spinning: at least half the 0.3 s wait used no
    // CPU. Start-up, which may take as long as the wait under a sanitizer,
    // counts on both sides alike.
    EXPECT_LT(run.cpu_seconds, run.seconds - 0.15);
  }
}

}  // namespace
}  // namespace palisim::stress::testing
