// Servers that turn against the client: each wait ends in an outcome, never
// in a crash.
#include "client/connection.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>
#include <cstdlib>

#include "scripted_peer.h"

namespace palisim::testing {

// A trickle cannot hold a reply past its time-out; a plain server answering
// the TLS hello leaves no connection to send on or read from.
TEST(ClientConnection, HostileServersEndEachWaitInAnOutcome) {
  ScriptedPeer::Script trickle(20, {50, "x"});
  trickle.front().second = "<00#";
  trickle.push_back({0, "#>"});
  const std::pair<ScriptedPeer::Script, ReadResult> plain_then_tls[] = {
      {trickle, ReadResult::kTimedOut}, {{{0, "<00#000035#>\r\n"}}, ReadResult::kFailed}};
  for (bool tls : {false, true}) {
    ScriptedPeer server(plain_then_tls[tls].first);
    ClientConnection connection;
    std::string error, reply;
    EXPECT_EQ(connection.open("127.0.0.1", server.port(), error, {tls, "", "", ""}), !tls);
    EXPECT_EQ(connection.send_line("<00#x#>"), !tls) << connection.error();
    EXPECT_EQ(connection.read_reply(reply, 400), plain_then_tls[tls].second) << reply;
  }
}

// A TLS server that left unannounced resets what the client sends after; the
// close alert the client sends on leaving is no reason for SIGPIPE.
TEST(TlsClient, LeavingAServerThatResetTheConnectionEndsNormally) {
  char dir[] = "/tmp/palisim-client-tls-XXXXXX";
  const std::string certs = mkdtemp(dir);
  const std::string make = PALISIM_SOURCE_DIR "/scripts/test-certs.sh " + certs + " >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  SSL_CTX* tls = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(SSL_CTX_use_certificate_chain_file(tls, (certs + "/server.pem").c_str()), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(tls, (certs + "/server.key").c_str(), SSL_FILETYPE_PEM), 1);
  auto leave = [&] {
    ScriptedPeer server({{-1, ""}}, tls);
    std::signal(SIGPIPE, SIG_DFL);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{
        AF_INET, htons(static_cast<uint16_t>(server.port())), {htonl(INADDR_LOOPBACK)}, {}};
    connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    {
      TlsClient client;
      std::string error;
      if (!client.connect(fd, "127.0.0.1", {true, certs + "/ca.pem", "", ""}, 5000, error))
        _exit(2);
      // The first request sends the server away, the second comes back
      // reset; a poll for no event waits for the reset.
      for (int until : {POLLRDHUP, 0}) {
        if (client.write("<00#x#>\r") <= 0) _exit(3);
        pollfd p{fd, static_cast<short>(until), 0};
        if (poll(&p, 1, 10000) != 1) _exit(4);
      }
    }
    _exit(0);
  };
  EXPECT_EXIT(leave(), ::testing::ExitedWithCode(0), "");
  SSL_CTX_free(tls);
  std::system(("rm -rf " + certs).c_str());
}

}  // namespace palisim::testing
