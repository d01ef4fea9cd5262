// Faults around the server: clients that reset, clients that never read, a
// configuration file that changes under the server. Other clients keep
// being served and lose no reply.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "sample_configuration.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

std::string echo_reply(const std::string& field) {
  return "<00#000035#" + field + "#>\r\n";
}

// Sends n numbered echo requests and checks every reply, in order.
void expect_round_trips(TestClient& c, const std::string& tag, int n) {
  std::string requests, expected;
  for (int i = 0; i < n; ++i) {
    std::string field = tag + std::to_string(i);
    requests += "<00#" + field + "#>\r";
    expected += echo_reply(field);
  }
  ASSERT_TRUE(c.send_all(requests));
  EXPECT_EQ(c.read_replies(n), expected);
}

TEST(Faults, ClientResettingMidReplyLeavesOthersServed) {
  TestServer server;
  TestClient steady(server.port());
  expect_round_trips(steady, "a", 10);
  for (int round = 0; round < 5; ++round) {
    TestClient rude(server.port());
    std::string flood;
    for (int i = 0; i < 2000; ++i)
      flood += "<00#" + std::string(200, 'r') + "#>\r";
    rude.send_all(flood);
    // An abortive close: the server's pending replies meet a reset.
    linger hard{1, 0};
    setsockopt(rude.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  expect_round_trips(steady, "b", 100);
  EXPECT_TRUE(server.wait_closed(5));
}

TEST(Faults, ClientThatNeverReadsDoesNotStallOthers) {
  TestServer server;
  TestClient sleeper(server.port());
  std::string flood;
  for (int i = 0; i < 20000; ++i)
    flood += "<00#" + std::to_string(i) + std::string(100, 's') + "#>\r";
  // The sleeper's own writes block once buffers are full; do them aside.
  std::thread writer([&] { sleeper.send_all(flood); });
  // The server is answering the flood.
  pollfd answered{sleeper.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&answered, 1, 10000), 1);
  TestClient other(server.port());
  expect_round_trips(other, "o", 200);
  // Once the sleeper reads, it gets every one of its replies in order.
  std::string expected;
  for (int i = 0; i < 20000; ++i)
    expected += echo_reply(std::to_string(i) + std::string(100, 's'));
  std::string got = sleeper.read_replies(20000);
  writer.join();
  EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size() << " bytes";
}

TEST(Faults, ConfigurationChangingUnderTheServer) {
  char dir[] = "/tmp/palisim-fault-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/atalla.conf";
  std::ofstream(path) << "atalla default {\n  opt21 = true\n}\n";
  TestServer server(path.c_str());
  TestClient loaded(server.port());
  ASSERT_TRUE(loaded.send_all("<zz#>\r"));
  EXPECT_EQ(loaded.read_replies(1), "<00#230035#0203##>\r\n");

  // Deleted, unreadable (a directory in its place), and invalid: new
  // connections fall back to the defaults; the first keeps its settings.
  std::vector<std::function<void()>> breakages = {
      [&] { std::remove(path.c_str()); },
      [&] { mkdir(path.c_str(), 0700); },
      [&] {
        rmdir(path.c_str());
        std::ofstream(path) << "atalla default {\n  opt21 = maybe\n}\n";
      },
  };
  for (auto& breakage : breakages) {
    breakage();
    TestClient fresh(server.port());
    ASSERT_TRUE(fresh.send_all("<zz#>\r<00#ok#>\r"));
    EXPECT_EQ(fresh.read_replies(2), "<00#230035#>\r\n" + echo_reply("ok"));
    ASSERT_TRUE(loaded.send_all("<zz#>\r"));
    EXPECT_EQ(loaded.read_replies(1), "<00#230035#0203##>\r\n");
  }
  std::remove(path.c_str());
  rmdir(dir);
}

// NUL bytes slow the parser down with their square and a large file with its
// size; both are refused unparsed, so clients are served at once, without an MFK.
TEST(Faults, ConfigurationThatWouldStallTheParserIsRefused) {
  for (std::string tail : {std::string(64 * 1024, '\0'), std::string(1 << 20, '#')}) {
    SampleConfigurationFile file;
    std::ofstream(file.path(), std::ios::app) << tail;
    DiagCapture diag;
    TestServer server(file.path());
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
      TestClient c(server.port());
      expect_round_trips(c, "n", 1);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::string text = diag.text();
    EXPECT_NE(text.find(" has no MFK: " + std::string(file.path()) + " could not be read.\n"),
              std::string::npos);
  }
}

TEST(Faults, ClientsComingAndGoingWhileOthersPipeline) {
  TestServer server;
  std::atomic<bool> done{false};
  std::thread churn([&] {
    for (int i = 0; i < 200 && !done; ++i) {
      TestClient brief(server.port());
      brief.send_all("<00#brief#>\r<00#half");
    }
  });
  TestClient steady(server.port());
  for (int round = 0; round < 20; ++round)
    expect_round_trips(steady, "r" + std::to_string(round), 50);
  done = true;
  churn.join();
}

}  // namespace
}  // namespace palisim::testing
