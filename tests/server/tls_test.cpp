// The TLS listener over loopback: client certificates required, optional or
// refused, the wrong protocol on either port, a stalled handshake beside a
// served client, pipelined requests, and the refusals of a bad setup.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "client/connection.h"
#include "server/connection.h"
#include "server/handshake_worker.h"
#include "server/tls_context.h"
#include "temp_file.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A client leaving a connection the server refused writes its close
    // alert to a socket the server closed.
    std::signal(SIGPIPE, SIG_IGN);
    char dir[] = "/tmp/palisim-tls-XXXXXX";
    dir_ = mkdtemp(dir);
    std::string make =
        std::string(PALISIM_SOURCE_DIR) + "/scripts/test-certs.sh " + dir_ + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    // A certificate list over the 16 KiB a client may send: its own, then
    // the CA's again and again.
    std::ofstream junk(cert("junk-chain.pem"));
    junk << std::ifstream(cert("client.pem")).rdbuf();
    for (int i = 0; i < 40; ++i)
      junk << std::ifstream(cert("ca.pem")).rdbuf();
    std::system(("cp " + cert("client.key") + " " + cert("junk-chain.key")).c_str());
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + dir_).c_str()); }

  static std::string cert(const char* name) { return dir_ + "/" + name; }

  static TlsParameters parameters(bool with_ca, uint8_t protocols = kTls12 | kTls13) {
    TlsParameters p;
    p.protocols = protocols;
    p.port = 1;
    std::snprintf(p.certificate, sizeof p.certificate, "%s", cert("server.pem").c_str());
    std::snprintf(p.private_key, sizeof p.private_key, "%s", cert("server.key").c_str());
    if (with_ca) std::snprintf(p.client_ca, sizeof p.client_ca, "%s", cert("ca.pem").c_str());
    return p;
  }

  static TlsContext context(bool with_ca, uint8_t protocols = kTls12 | kTls13) {
    std::string error;
    TlsContext ctx = load_tls_context(parameters(with_ca, protocols), error);
    EXPECT_TRUE(ctx) << error;
    return ctx;
  }

  // A TLS client trusting the test CA (or another), with the named client
  // certificate ("" for none).
  static ClientTlsOptions client(const std::string& name, const char* trusted = "ca.pem") {
    ClientTlsOptions o;
    o.on = true;
    o.cacert = cert(trusted);
    if (!name.empty())
      o.cert = cert((name + ".pem").c_str()), o.key = cert((name + ".key").c_str());
    return o;
  }

  static std::string dir_;
};
std::string TlsTest::dir_;

TEST_F(TlsTest, ClientCertificatesAcceptedOrRefusedWithTheReason) {
  struct Case {
    bool server_has_ca;
    const char* client_cert;
    const char* line;  // the diagnostic naming the outcome
    const char* client_trusts = "ca.pem";
    uint8_t protocols = kTls12 | kTls13;
  };
  const char* unknown_ca = "TLS handshake failed: the client sent alert unknown ca";
  const Case cases[] = {
      {true, "client", "TLS established, TLSv1.3 CN=switch-test-01"},
      {true, "", "TLS handshake failed: peer did not return a certificate"},
      {true, "other-client",
       "TLS handshake failed: certificate verify failed: unable to get local issuer certificate"},
      {false, "", "TLS established, TLSv1.3 no client certificate"},
      {true, "junk-chain", "TLS handshake failed: excessive message size"},
      // The client refuses the server: over TLS 1.2 it resets the connection
      // with the server's last records unread, after its alert.
      {false, "", unknown_ca, "other-ca.pem"},
      {false, "", unknown_ca, "other-ca.pem", kTls12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    DiagCapture diag;
    TlsContext ctx = context(c.server_has_ca, c.protocols);
    TestServer server("no-such-file.conf", ctx.get());
    ASSERT_NE(server.tls_port(), 0);
    ClientConnection conn;
    std::string error, reply;
    bool opened =
        conn.open("localhost", server.tls_port(), error, client(c.client_cert, c.client_trusts));
    ASSERT_TRUE(opened || c.line == unknown_ca) << error;
    bool served = opened && conn.send_line("<00#over tls#>") &&
                  conn.read_reply(reply, 5000) == ReadResult::kReply;
    bool accepted = std::string(c.line).find("established") != std::string::npos;
    EXPECT_EQ(served, accepted);
    if (accepted) {
      EXPECT_EQ(reply, "<00#000035#over tls#>");
    }
    EXPECT_TRUE(diag.wait_for(c.line)) << diag.text();
    // Exactly one line explains a refusal.
    if (!accepted) {
      EXPECT_EQ(diag.text().find("TLS handshake failed"),
                diag.text().rfind("TLS handshake failed"));
    }
  }
}

TEST_F(TlsTest, TheWrongProtocolOnEitherPortIsClosedWithOneLine) {
  DiagCapture diag;
  TlsContext ctx = context(false);
  TestServer server("no-such-file.conf", ctx.get());
  TestClient plain_to_tls(server.tls_port());
  ASSERT_TRUE(plain_to_tls.send_all("<00#hello#>\r"));
  EXPECT_TRUE(plain_to_tls.closed_by_server());
  EXPECT_TRUE(diag.wait_for("plain text on the TLS port; closing it."));

  ClientConnection tls_to_plain;
  std::string error;
  EXPECT_FALSE(tls_to_plain.open("localhost", server.port(), error, client("")));
  EXPECT_TRUE(diag.wait_for("a TLS handshake on the plain port; closing it.")) << diag.text();
  // The client of the TLS port never got a slot: its handshake failed first.
  EXPECT_TRUE(server.wait_closed(1));
  EXPECT_EQ(server.accepted(), 1);
}

TEST_F(TlsTest, StalledHandshakeIsClosedAtItsLimitWhileAnotherClientIsServed) {
  const TempFile conf("idle_timeout = 1\n", "palisim-tls-conf");
  DiagCapture diag;
  TlsContext ctx = context(true);
  TestServer server(conf.path(), ctx.get());
  // The start of a handshake record, and then nothing.
  TestClient stalled(server.tls_port());
  ASSERT_TRUE(stalled.send_all("\x16\x03\x01"));
  ClientConnection served;
  std::string error, reply;
  ASSERT_TRUE(served.open("127.0.0.1", server.tls_port(), error, client("client"))) << error;
  ASSERT_TRUE(served.send_line("<00#while stalled#>"));
  EXPECT_EQ(served.read_reply(reply, 5000), ReadResult::kReply);
  EXPECT_EQ(reply, "<00#000035#while stalled#>");
  EXPECT_TRUE(stalled.closed_by_server());
  EXPECT_TRUE(diag.wait_for("TLS handshake not completed within 1 seconds; closing it."));
}

// Handshakes in progress hold no slot, and TLS connections no more than
// their share: every slot the TLS port leaves is there for plain clients.
TEST_F(TlsTest, HandshakesAndTlsConnectionsLeavePlainClientsTheirSlots) {
  DiagCapture diag;
  TlsContext ctx = context(false);
  TestServer server("no-such-file.conf", ctx.get(), 2);
  std::vector<std::unique_ptr<TestClient>> stalled, plain;
  for (int i = 0; i < kMaxHandshakes; ++i) {
    stalled.push_back(std::make_unique<TestClient>(server.tls_port()));
    ASSERT_TRUE(stalled.back()->send_all("\x16\x03\x01"));
  }
  ASSERT_TRUE(diag.wait_for("Accepted connection from", kMaxHandshakes));
  for (int i = 0; i < kMaxConnections; ++i) {
    plain.push_back(std::make_unique<TestClient>(server.port()));
    ASSERT_TRUE(plain.back()->send_all("<00#p#>\r"));
  }
  for (auto& p : plain)
    EXPECT_EQ(p->read_replies(1), "<00#000035#p#>\r\n");
  plain.clear();
  stalled.clear();
  ASSERT_TRUE(server.wait_closed(kMaxConnections));

  // Two TLS connections fill the share of two; a third is refused, plain
  // clients are not, and a slot the share gets back is taken again.
  std::unique_ptr<ClientConnection> tls[4];
  std::string error, reply;
  for (int i = 0; i < 4; ++i) {
    tls[i] = std::make_unique<ClientConnection>();
    ASSERT_TRUE(tls[i]->open("localhost", server.tls_port(), error, client(""))) << error;
    bool served =
        tls[i]->send_line("<00#t#>") && tls[i]->read_reply(reply, 5000) == ReadResult::kReply;
    EXPECT_EQ(served, i != 2) << i;
    if (i != 2) continue;
    EXPECT_TRUE(
        diag.wait_for(": 2 TLS connections are open, as many as tls_max_connections allows; "
                      "closing it.\n"));
    auto still = std::make_unique<TestClient>(server.port());
    ASSERT_TRUE(still->send_all("<00#p#>\r"));
    EXPECT_EQ(still->read_replies(1), "<00#000035#p#>\r\n");
    still.reset();
    tls[0].reset();
    ASSERT_TRUE(server.wait_closed(kMaxConnections + 2));
  }
}

// One write of many lines gives TLS records larger than the input buffer,
// so the server reads on from bytes OpenSSL holds, and replies are held
// while the client does not read.
TEST_F(TlsTest, PipelinedRequestsAreAllAnsweredInOrder) {
  TlsContext ctx = context(true);
  TestServer server("no-such-file.conf", ctx.get());
  ClientConnection conn;
  std::string error;
  ASSERT_TRUE(conn.open("localhost", server.tls_port(), error, client("client"))) << error;
  std::string lines;
  std::vector<std::string> expected;
  for (int line = 0; line < 40; ++line) {
    for (int i = 0; i < 100; ++i) {
      std::string field = std::to_string(line * 100 + i);
      lines += "<00#" + field + "#>";
      expected.push_back("<00#000035#" + field + "#>");
    }
    lines += line + 1 < 40 ? "\r" : "";
  }
  ASSERT_TRUE(conn.send_line(lines));
  std::string reply;
  for (const std::string& want : expected) {
    ASSERT_EQ(conn.read_reply(reply, 5000), ReadResult::kReply) << want;
    ASSERT_EQ(reply, want);
  }
}

// palisimstress --tls, a process of its own: both pacings complete, and a
// client without the required certificate is refused before the run.
TEST_F(TlsTest, StressClientRunsOverTls) {
  TlsContext ctx = context(true);
  TestServer server("no-such-file.conf", ctx.get());
  const std::string base = std::string(PALISIM_BINARY_DIR) + "/palisimstress --port " +
                           std::to_string(server.tls_port()) + " --tls --cacert " + cert("ca.pem");
  const std::string with_cert =
      base + " --cert " + cert("client.pem") + " --key " + cert("client.key");
  struct Case {
    std::string command;
    int status;
    const char* last_line;
  };
  const Case cases[] = {
      {with_cert + " --alg maximalmoosh --count 20000", 0, "amortized duration: "},
      {with_cert + " --alg pingpong --count 200", 0, "amortized duration: "},
      {base + " --count 10", 1, "after 0 of 10 replies"},
      // The load mode over TLS: many connections, a pipeline, a rate.
      {with_cert + " --connections 4 --pipeline 8 --count 4000", 0,
       "requests: 4000 sent, 4000 replies, 0 errors, 0 mismatched\n"},
      {with_cert + " --connections 2 --rate 2000 --count 200 --json", 0, "\"replies\":200,"},
      {base + " --connections 2 --count 10", 1, "connections: 2 opened, 0 refused, 2 lost\n"},
  };
  for (const Case& c : cases) {
    FILE* out = popen(c.command.c_str(), "r");
    ASSERT_TRUE(out);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out))
      text += buf;
    int status = pclose(out);
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.command << "\n" << text;
    EXPECT_NE(text.find(c.last_line), std::string::npos) << text;
  }
}

TEST_F(TlsTest, BadSetupIsRefusedNamingTheFileAndTheReason) {
  struct Case {
    const char* certificate;
    const char* key;
    const char* ca;
    const char* message;
  };
  const Case cases[] = {
      {"no-such.pem", "server.key", "", "tls_certificate '%s/no-such.pem': "},
      {"server.key", "server.key", "", "tls_certificate '%s/server.key': no start line"},
      {"server.pem", "no-such.key", "",
       "tls_private_key '%s/no-such.key': No such file or directory"},
      {"server.pem", "client.key", "",
       "tls_private_key '%s/client.key' does not match tls_certificate '%s/server.pem': key values "
       "mismatch"},
      {"server.pem", "server.key", "no-such-ca.pem", "tls_client_ca '%s/no-such-ca.pem': "},
  };
  for (const Case& c : cases) {
    TlsParameters p = parameters(false);
    std::snprintf(p.certificate, sizeof p.certificate, "%s", cert(c.certificate).c_str());
    std::snprintf(p.private_key, sizeof p.private_key, "%s", cert(c.key).c_str());
    if (*c.ca) std::snprintf(p.client_ca, sizeof p.client_ca, "%s", cert(c.ca).c_str());
    char expected[512];
    std::snprintf(expected, sizeof expected, c.message, dir_.c_str(), dir_.c_str());
    std::string error;
    EXPECT_FALSE(load_tls_context(p, error));
    EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
  }
  TlsParameters no_files;
  no_files.port = 7443;
  std::string error;
  EXPECT_FALSE(load_tls_context(no_files, error));
  EXPECT_EQ(error, "tls_port 7443 needs tls_certificate and tls_private_key");
  TlsParameters no_ca = parameters(false);
  no_ca.auth_clients = TlsClientAuth::kYes;
  EXPECT_FALSE(load_tls_context(no_ca, error));
  EXPECT_EQ(error, "tls_auth_clients yes needs tls_client_ca");
}

}  // namespace
}  // namespace palisim::testing
