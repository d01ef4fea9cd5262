// Servers that accept and then stall: silent, trickling bytes that never
// make a reply, or too busy to accept at all. Every mode gives up after its
// --timeout with one line and status 1, and waits without spinning a core.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "scripted_peer.h"
#include "stress_process.h"

namespace palisim::stress::testing {
namespace {

using palisim::testing::FullBacklog;
using palisim::testing::ScriptedPeer;

enum class Peer { kSilent, kTrickle, kFullBacklog };

// One byte every 50 ms for a second, and never a '>'.
ScriptedPeer::Script trickle() {
  return ScriptedPeer::Script(20, {50, "x"});
}

struct Case {
  Peer peer;
  std::vector<std::string> args;
  std::string output;  // a line of standard output
  std::string errors;  // standard error
};

TEST(StressTimeout, EveryWaitEndsAtTheTimeoutWithOneLineAndStatus1) {
  const std::string no_reply = "no reply within 0.3 seconds after 0 of 5 replies\n";
  const std::string load_lost = "connections: 1 opened, 0 refused, 1 lost\n";
  const std::string load_late =
      "palisimstress: connections without a reply within 0.3 seconds: 1\n";
  const Case cases[] = {
      {Peer::kSilent, {"--alg", "pingpong"}, no_reply, ""},
      {Peer::kTrickle, {"--alg", "pingpong"}, no_reply, ""},
      {Peer::kSilent, {"--alg", "maximalmoosh"}, no_reply, ""},
      {Peer::kTrickle, {"--alg", "maximalmoosh"}, no_reply, ""},
      {Peer::kSilent, {"--tls"}, "TLS: handshake failed: no answer within 0.3 seconds\n", ""},
      {Peer::kFullBacklog, {}, "failed to open connection: no answer within 0.3 seconds\n", ""},
      {Peer::kSilent, {"--connections", "1"}, load_lost, load_late},
      {Peer::kTrickle, {"--connections", "1", "--alg", "maximalmoosh"}, load_lost, load_late},
      {Peer::kFullBacklog,
       {"--connections", "1"},
       "connections: 0 opened, 1 refused, 0 lost\n",
       ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<FullBacklog> backlog;
    int port = 0;
    if (c.peer == Peer::kFullBacklog) {
      port = (backlog = std::make_unique<FullBacklog>())->port();
    } else {
      peer = std::make_unique<ScriptedPeer>(c.peer == Peer::kTrickle ? trickle()
                                                                     : ScriptedPeer::Script{});
      port = peer->port();
    }
    std::vector<std::string> args{"--host",  "127.0.0.1", "--port",    std::to_string(port),
                                  "--count", "5",         "--timeout", "0.3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    StressRun run = run_stress(args);
    const std::string& out = run.output;
    std::string where = "peer " + std::to_string(static_cast<int>(c.peer));
    for (const std::string& a : c.args)
      where += " " + a;
    EXPECT_EQ(run.status, 1) << where << "\n" << out;
    EXPECT_NE(out.find(c.output), std::string::npos) << where << "\n" << out;
    EXPECT_EQ(run.errors, c.errors) << where;
    // Waiting in poll, not spinning: the wait is the better part of the run.
    EXPECT_LT(run.cpu_seconds, run.seconds / 2) << where;
  }
}

}  // namespace
}  // namespace palisim::stress::testing
