// Servers that stall the client, over TCP and TLS: silent, trickling bytes
// that never make a reply, silent after the handshake (its session tickets
// wake the client up), never answering the handshake, or too busy to
// accept. Each ends at --timeout with one line and status 1.
#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <cstdlib>

#include "cli_run.h"
#include "scripted_peer.h"

namespace palisim::testing {
namespace {

TEST(CliTimeout, EveryWaitEndsAtTheTimeoutWithOneLineAndStatus1) {
  char dir[] = "/tmp/palisim-cli-tls-XXXXXX";
  const std::string certs = mkdtemp(dir);
  ASSERT_EQ(std::system((kSourceDir + "/scripts/test-certs.sh " + certs + " >/dev/null").c_str()),
            0);
  SSL_CTX* tls = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(SSL_CTX_use_certificate_chain_file(tls, (certs + "/server.pem").c_str()), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(tls, (certs + "/server.key").c_str(), SSL_FILETYPE_PEM), 1);
  const std::string no_reply = "no reply within 0.3 seconds after 0 of 1 replies";
  const std::string no_connection =
      "cannot connect to 127.0.0.1:PORT: no answer within 0.3 seconds";
  const struct {
    Stall stall;
    bool server_tls, client_tls;
    std::string error;  // after "palisim-cli: "; PORT stands for the port
  } cases[] = {
      {Stall::kSilent, false, false, no_reply},
      {Stall::kTrickle, false, false, no_reply},
      {Stall::kSilent, false, true,
       "127.0.0.1:PORT: TLS handshake failed: no answer within 0.3 seconds"},
      {Stall::kSilent, true, true, no_reply},
      {Stall::kTrickle, true, true, no_reply},
      {Stall::kFullBacklog, false, false, no_connection},
      {Stall::kFullBacklog, false, true, no_connection},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    StallingServer server(c.stall, c.server_tls ? tls : nullptr);
    const std::string port = std::to_string(server.port());
    // The handshake with a TLS server is in the time-out too, and a loaded
    // machine may take a while over it.
    const std::string timeout = c.server_tls ? "1.5" : "0.3";
    std::vector<std::string> args{"--host", "127.0.0.1", "--port", port, "--timeout", timeout};
    if (c.client_tls) args.insert(args.end(), {"--tls", "--cacert", certs + "/ca.pem"});
    args.push_back("<00#x#>");
    const Outcome got = cli(args);
    std::string error = "palisim-cli: " + c.error + "\n";
    if (size_t at = error.find("PORT"); at != std::string::npos) error.replace(at, 4, port);
    error.replace(error.find("0.3"), 3, timeout);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, error);
  }
  SSL_CTX_free(tls);
  std::system(("rm -rf " + certs).c_str());
}

}  // namespace
}  // namespace palisim::testing
