// The server over real loopback sockets: framing, held replies, limits, stopping.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "free_port.h"
#include "server/connection.h"
#include "server/listener.h"
#include "temp_file.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

std::string echo_reply(const std::string& field) {
  return "<00#000035#" + field + "#>\r\n";
}

TEST(Framing, EchoAndTheLineFeedAfterIt) {
  TestServer server;
  ASSERT_NE(server.port(), 0);
  TestClient c(server.port());
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.send_all("<00#hello#>\r"));
  EXPECT_EQ(c.read_replies(1), echo_reply("hello"));
  ASSERT_TRUE(c.send_all("<00#x#>\r\n<00#y#>\r\n"));
  EXPECT_EQ(c.read_replies(2), echo_reply("x") + echo_reply("y"));
}

TEST(Framing, TwoRequestsOnOneLineAndTextAroundThem) {
  TestServer server;
  TestClient c(server.port());
  ASSERT_TRUE(c.send_all("<00#a#><00#b#>\r"));
  EXPECT_EQ(c.read_replies(2), echo_reply("a") + echo_reply("b"));
  // Lines without a complete request are removed without a reply.
  ASSERT_TRUE(c.send_all("no request here\r<00#open\rxx<00#c#>yy\r"));
  EXPECT_EQ(c.read_replies(1), echo_reply("c"));
}

TEST(Framing, RequestSplitOverSendsWaitsForTheCarriageReturn) {
  TestServer server;
  TestClient c(server.port());
  for (const char* piece : {"<0", "0#sp", "lit#", ">"}) {
    ASSERT_TRUE(c.send_all(piece));
    EXPECT_TRUE(c.silent_for(50));
  }
  ASSERT_TRUE(c.send_all("\r"));
  EXPECT_EQ(c.read_replies(1), echo_reply("split"));
}

TEST(Framing, MalformedInputGetsErrorRepliesAndTheConnectionStays) {
  TestServer server;
  TestClient c(server.port());
  std::string seventy = "<00#z#";
  for (int i = 0; i < 70; ++i)
    seventy += "f#";
  seventy += ">";
  ASSERT_TRUE(c.send_all("<>\r<zz#>\r" + seventy + "\r<00#^x#>\r"));
  EXPECT_EQ(c.read_replies(4),
            "<00#020035#>\r\n<00#230035#>\r\n" + echo_reply("z") + "<00#040235#>\r\n");
  std::mt19937 rng(7);
  std::string noise;
  for (int i = 0; i < 20000; ++i) {
    auto b = static_cast<char>(rng() & 0xFF);
    // Keep the noise free of complete requests so the count of replies is known.
    if (b == '>') b = '?';
    noise += b;
    if (i % 1000 == 999) noise += '\r';
  }
  ASSERT_TRUE(c.send_all(noise + "\r<00#after#>\r"));
  EXPECT_EQ(c.read_replies(1), echo_reply("after"));
}

TEST(Framing, ManyRequestsOnOneLine) {
  TestServer server;
  TestClient c(server.port());
  std::string line, expected;
  for (int i = 0; i < 400; ++i) {
    line += "<00#" + std::to_string(i) + "#>";
    expected += echo_reply(std::to_string(i));
  }
  ASSERT_LT(line.size(), static_cast<size_t>(kInputCapacity));
  ASSERT_TRUE(c.send_all(line + "\r"));
  EXPECT_EQ(c.read_replies(400), expected);
}

// A client that writes far more than the socket buffers hold before reading.
// Runs of "<>" (two bytes answered by fourteen) make one line's replies
// outgrow the output buffer, so replies are held in the middle of lines.
TEST(Framing, PipelinedFloodWithoutReadingGetsEveryReplyInOrder) {
  TestServer server;
  TestClient c(server.port());
  std::mt19937 rng(11);
  const std::string no_field_reply = "<00#020035#>\r\n";
  std::string data, expected;
  int count = 0;
  while (data.size() < 1'500'000) {
    std::string line;
    for (;;) {
      std::string request, reply;
      if (rng() % 2) {
        std::string field = std::to_string(count) + std::string(rng() % 300, 'p');
        request = "<00#" + field + "#>";
        reply = echo_reply(field);
        ++count;
      } else {
        int run = static_cast<int>(rng() % 1500);
        for (int i = 0; i < run; ++i)
          request += "<>", reply += no_field_reply;
        count += run;
      }
      if (line.size() + request.size() >= static_cast<size_t>(kInputCapacity) - 2) break;
      line += request;
      expected += reply;
    }
    data += line + "\r\n";
  }
  std::thread sender([&] { EXPECT_TRUE(c.send_all(data)); });
  std::string got = c.read_replies(count);
  sender.join();
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected) << "first difference at byte "
                               << std::mismatch(got.begin(), got.end(), expected.begin()).first -
                                      got.begin();
}

// Told as a long line whichever byte followed; what the client sends on is read only a little.
TEST(Limits, OverlongLineClosesOnlyItsOwnConnection) {
  DiagCapture diag;
  TestServer server;
  TestClient good(server.port());
  for (char next : {'x', '\r', '\n'}) {
    TestClient bad(server.port());
    bad.send_all(std::string(kInputCapacity, 'x') + next + std::string(1 << 22, 'x'));
    EXPECT_TRUE(bad.closed_by_server()) << int{next};
    ASSERT_TRUE(good.send_all("<00#still#>\r"));
    EXPECT_EQ(good.read_replies(1), echo_reply("still"));
  }
  std::string text = diag.text();
  EXPECT_NE(text.find(" sent a line longer than 5120 bytes; closing it.\n"), std::string::npos);
  size_t reads = 0;
  for (size_t at = 0;
       (at = text.find(" unexpected bytes during shutdown.\n", at)) != std::string::npos; ++at)
    ++reads;
  EXPECT_TRUE(reads > 0 && reads <= 3u * kShutdownReads) << reads;
}

// Told at once, with the trace off.
TEST(Framing, RequestEndedByALineFeedAloneIsTold) {
  DiagCapture diag;
  TestServer server;
  TestClient c(server.port());
  ASSERT_TRUE(c.send_all("<00#a#>\n"));
  EXPECT_TRUE(diag.wait_for("line feed alone; requests end in a carriage return (\\r).\n"));
  EXPECT_TRUE(c.silent_for(50));
}

TEST(Limits, SixtyFifthClientIsDumpedAndTheOthersKeepWorking) {
  DiagCapture diag;
  TestServer server;
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < kMaxConnections; ++i) {
    clients.push_back(std::make_unique<TestClient>(server.port()));
    ASSERT_TRUE(clients.back()->connected());
    // A round trip proves the client holds a slot before the next connects.
    ASSERT_TRUE(clients.back()->send_all("<00#" + std::to_string(i) + "#>\r"));
    ASSERT_EQ(clients.back()->read_replies(1), echo_reply(std::to_string(i)));
  }
  TestClient extra(server.port());
  ASSERT_TRUE(extra.connected());
  EXPECT_TRUE(extra.closed_by_server());
  EXPECT_NE(diag.text().find("dumping connection; too many or can't init processor...\n"),
            std::string::npos);
  for (int i = 0; i < kMaxConnections; ++i) {
    ASSERT_TRUE(clients[i]->send_all("<00#again" + std::to_string(i) + "#>\r"));
  }
  for (int i = 0; i < kMaxConnections; ++i) {
    EXPECT_EQ(clients[i]->read_replies(1), echo_reply("again" + std::to_string(i)));
  }
  // A freed slot serves the next client.
  clients.pop_back();
  ASSERT_TRUE(server.wait_closed(1));
  TestClient next(server.port());
  ASSERT_TRUE(next.send_all("<00#next#>\r"));
  EXPECT_EQ(next.read_replies(1), echo_reply("next"));
  EXPECT_NE(diag.text().find("  was closed by the client. Shutting down.\n"), std::string::npos);
}

// A partial request does not count; the active client is served throughout.
TEST(Limits, IdleTimeoutClosesAnIdleClientWhileAnActiveOneStays) {
  const TempFile conf("idle_timeout = 1\n", "palisim-idle");
  DiagCapture diag;
  TestServer server(conf.path());
  TestClient idle(server.port()), active(server.port());
  ASSERT_TRUE(idle.send_all("<00#part"));
  // A request at least every 250 ms, until the idle client is closed.
  for (int i = 0; i < 40 && idle.silent_for(250); ++i) {
    ASSERT_TRUE(active.send_all("<00#a#>\r"));
    EXPECT_EQ(active.read_replies(1), echo_reply("a"));
  }
  EXPECT_TRUE(idle.closed_by_server());
  ASSERT_TRUE(active.send_all("<00#a#>\r"));
  EXPECT_EQ(active.read_replies(1), echo_reply("a"));
  EXPECT_NE(diag.text().find(" sent no complete request in 1 seconds; closing it.\n"),
            std::string::npos);
  EXPECT_EQ(server.closed(), 1);
}

TEST(Stopping, StopWithClientsConnectedClosesEveryOne) {
  DiagCapture diag;
  TestServer server;
  TestClient a(server.port()), b(server.port()), c(server.port());
  for (TestClient* t : {&a, &b, &c}) {
    ASSERT_TRUE(t->send_all("<00#hi#>\r"));
    ASSERT_EQ(t->read_replies(1), echo_reply("hi"));
  }
  EXPECT_EQ(server.stop(), 0);
  EXPECT_TRUE(a.closed_by_server());
  EXPECT_TRUE(b.closed_by_server());
  EXPECT_TRUE(c.closed_by_server());
  EXPECT_EQ(server.accepted(), 3);
  EXPECT_EQ(server.closed(), 3);
  EXPECT_TRUE(server.stopped());
  std::string text = diag.text();
  size_t first = text.find("Acceptor restarting...\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("Acceptor restarting...\n", first + 1), std::string::npos);
}

TEST(Stopping, StopRequestedBeforeTheServerRunsStillEndsIt) {
  StopSignal stop;
  stop.signal();
  int result = -1;
  std::thread t([&] { result = run_server("localhost", 0, nullptr, {}, &stop); });
  t.join();
  EXPECT_EQ(result, 0);
}

TEST(Stopping, RestartOnTheSamePortAfterConnectionsClosed) {
  int port;
  {
    TestServer server;
    port = server.port();
    TestClient c(port);
    ASSERT_TRUE(c.send_all("<00#x#>\r"));
    ASSERT_EQ(c.read_replies(1), echo_reply("x"));
  }
  // Connections left in TIME_WAIT do not keep the port from a new listener.
  StopSignal stop;
  int listen_port = 0;
  ServerHooks hooks;
  hooks.owner = &listen_port;
  hooks.listening = [](ServerHooks* h, int) { *static_cast<int*>(h->owner) = 1; };
  std::thread t([&] { run_server("localhost", static_cast<uint16_t>(port), &hooks, {}, &stop); });
  for (int i = 0; i < 6000 && listen_port == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stop.signal();
  t.join();
  EXPECT_EQ(listen_port, 1);
}

TEST(Listener, PortInUseGivesBothReportsAndResultThree) {
  BusyPort busy(INADDR_LOOPBACK);
  ASSERT_NE(busy.port(), 0);
  DiagCapture diag;
  EXPECT_EQ(run_server("localhost", busy.port(), nullptr, {}, nullptr), 3);
  std::string text = diag.text();
  EXPECT_NE(text.find("bind() failed: Address already in use (98)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("failed to SetupListener(): Address already in use (98)\n"),
            std::string::npos)
      << text;
}

TEST(Listener, InterfaceNames) {
  EXPECT_EQ(resolve_interface("ANY")->s_addr, htonl(INADDR_ANY));
  EXPECT_EQ(resolve_interface("LocalHost")->s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(resolve_interface("127.0.0.1")->s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_FALSE(resolve_interface("no-such-host.invalid").has_value());
}

TEST(Settings, EachConnectionLoadsTheFileWhenAccepted) {
  char dir[] = "/tmp/palisim-conf-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/atalla.conf";
  std::ofstream(path) << "atalla default {\n  opt21 = false\n}\n";
  TestServer server(path.c_str());
  TestClient before(server.port());
  ASSERT_TRUE(before.send_all("<zz#>\r"));
  EXPECT_EQ(before.read_replies(1), "<00#230035#>\r\n");
  std::ofstream(path) << "atalla default {\n  opt21 = true\n  opt23 = true\n}\n";
  TestClient after(server.port());
  ASSERT_TRUE(after.send_all("<zz#>\r"));
  char buf[64];
  ssize_t n = recv(after.fd(), buf, sizeof buf, 0);
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "<00#230035#0203##>");
  // The first connection keeps what it started with.
  ASSERT_TRUE(before.send_all("<zz#>\r"));
  EXPECT_EQ(before.read_replies(1), "<00#230035#>\r\n");
  std::remove(path.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace palisim::testing
