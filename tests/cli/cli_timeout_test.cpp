// Servers that stall the client, over TCP and TLS: silent, trickling bytes
// that never make a reply, silent after the handshake (its session tickets
// wake the client up), never answering the handshake, or too busy to
// accept. Each ends at --timeout with one line and status 1.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <cstdlib>
#include <memory>

#include "cli_run.h"
#include "scripted_peer.h"

namespace palisim::testing {
namespace {

enum class Peer { kSilent, kTrickle, kTlsSilent, kTlsTrickle, kFullBacklog };

class CliTimeout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/palisim-cli-tls-XXXXXX";
    dir_ = mkdtemp(dir);
    ASSERT_EQ(std::system((kSourceDir + "/scripts/test-certs.sh " + dir_ + " >/dev/null").c_str()),
              0);
    ctx_ = SSL_CTX_new(TLS_server_method());
    ASSERT_EQ(SSL_CTX_use_certificate_chain_file(ctx_, (dir_ + "/server.pem").c_str()), 1);
    ASSERT_EQ(SSL_CTX_use_PrivateKey_file(ctx_, (dir_ + "/server.key").c_str(), SSL_FILETYPE_PEM),
              1);
  }
  static void TearDownTestSuite() {
    SSL_CTX_free(ctx_);
    std::system(("rm -rf " + dir_).c_str());
  }
  static std::string dir_;
  static SSL_CTX* ctx_;
};
std::string CliTimeout::dir_;
SSL_CTX* CliTimeout::ctx_ = nullptr;

TEST_F(CliTimeout, EveryWaitEndsAtTheTimeoutWithOneLineAndStatus1) {
  const struct {
    Peer peer;
    bool tls;
    std::string error;  // after "palisim-cli: "; PORT stands for the port
  } cases[] = {
      {Peer::kSilent, false, "no reply within 0.3 seconds after 0 of 1 replies"},
      {Peer::kTrickle, false, "no reply within 0.3 seconds after 0 of 1 replies"},
      {Peer::kSilent, true, "127.0.0.1:PORT: TLS handshake failed: no answer within 0.3 seconds"},
      {Peer::kTlsSilent, true, "no reply within 0.3 seconds after 0 of 1 replies"},
      {Peer::kTlsTrickle, true, "no reply within 0.3 seconds after 0 of 1 replies"},
      {Peer::kFullBacklog, false, "cannot connect to 127.0.0.1:PORT: no answer within 0.3 seconds"},
      {Peer::kFullBacklog, true, "cannot connect to 127.0.0.1:PORT: no answer within 0.3 seconds"},
  };
  for (const auto& c : cases) {
    const bool trickles = c.peer == Peer::kTrickle || c.peer == Peer::kTlsTrickle;
    const bool in_tls = c.peer == Peer::kTlsSilent || c.peer == Peer::kTlsTrickle;
    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<FullBacklog> backlog;
    int port = 0;
    if (c.peer == Peer::kFullBacklog) {
      port = (backlog = std::make_unique<FullBacklog>())->port();
    } else {
      // One byte every 50 ms for a second, and never a '>'.
      ScriptedPeer::Script script =
          trickles ? ScriptedPeer::Script(20, {50, "x"}) : ScriptedPeer::Script{};
      peer = std::make_unique<ScriptedPeer>(script, in_tls ? ctx_ : nullptr);
      port = peer->port();
    }
    std::vector<std::string> args{"--host",    "127.0.0.1", "--port", std::to_string(port),
                                  "--timeout", "0.3"};
    if (c.tls) args.insert(args.end(), {"--tls", "--cacert", dir_ + "/ca.pem"});
    args.push_back("<00#x#>");
    const Outcome got = cli(args);
    std::string error = "palisim-cli: " + c.error + "\n";
    if (size_t at = error.find("PORT"); at != std::string::npos) {
      error.replace(at, 4, std::to_string(port));
    }
    const std::string where = std::to_string(static_cast<int>(c.peer)) + (c.tls ? " tls" : "");
    EXPECT_EQ(got.status, 1) << where;
    EXPECT_EQ(got.out, "") << where;
    EXPECT_EQ(got.err, error) << where;
  }
}

}  // namespace
}  // namespace palisim::testing
