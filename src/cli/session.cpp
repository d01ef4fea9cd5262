#include "cli/session.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "client/explain.h"
#include "client/request_text.h"
#include "protocol/escaped_text.h"

namespace palisim {

namespace {

int connection_lost(const char* what, int received, int expected) {
  std::fprintf(stderr, "palisim-cli: %s after %d of %d replies\n", what, received, expected);
  return kExitConnection;
}

// Standard input, one request line at a time, for scripts.
int run_pipe(Session& session) {
  std::string line;
  for (int number = 1; std::getline(std::cin, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (requests_of_line(line).empty()) {
      std::fprintf(stderr, "palisim-cli: line %d holds no request; not sent\n", number);
      continue;
    }
    if (int status = session.exchange(line); status != kExitOk) return status;
  }
  return kExitOk;
}

// --cacert, --cert and --key belong to --tls, and a certificate to its key.
bool tls_options(const CliOptions& o, ClientTlsOptions& tls, std::string& error) {
  if (!o.tls && (o.given & (kOptCacert | kOptCert | kOptKey))) {
    error = "--cacert, --cert and --key go with --tls";
    return false;
  }
  if (o.cert.empty() != o.key.empty()) {
    error = "--cert and --key go together";
    return false;
  }
  tls.on = o.tls;
  tls.cacert = o.cacert;
  tls.cert = o.cert;
  tls.key = o.key;
  // A server gone mid-write must fail the write, not end the program.
  if (tls.on) signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace

bool Session::connect(std::string_view host, int port, const ClientTlsOptions& tls) {
  std::string error;
  if (connection_.open(std::string(host).c_str(), port, error, tls, timeout_ms_)) return true;
  std::fprintf(stderr, "palisim-cli: %s\n", error.c_str());
  return false;
}

int Session::exchange(std::string_view line) {
  const std::vector<std::string_view> requests = requests_of_line(line);
  expected_ += static_cast<int>(requests.size());
  if (!connection_.send_line(line)) {
    return connection_lost(("send failed: " + connection_.error()).c_str(), received_, expected_);
  }
  std::string reply;
  std::string shown;
  for (std::string_view request : requests) {
    switch (connection_.read_reply(reply, timeout_ms_)) {
      case ReadResult::kReply:
        break;
      case ReadResult::kClosed:
        return connection_lost("the server closed the connection", received_, expected_);
      case ReadResult::kTimedOut: {
        char no_reply[48];
        std::snprintf(no_reply, sizeof no_reply, "no reply within %g seconds",
                      timeout_ms_ / 1000.0);
        return connection_lost(no_reply, received_, expected_);
      }
      case ReadResult::kFailed:
        return connection_lost(connection_.error().c_str(), received_, expected_);
      case ReadResult::kTooLong: {
        char too_long[48];
        std::snprintf(too_long, sizeof too_long, "reply longer than %zu bytes", kMaxReplyBytes);
        return connection_lost(too_long, received_, expected_);
      }
    }
    ++received_;
    // What the server sent reaches the terminal as text, never as control bytes.
    shown.resize(4 * reply.size() + 1);
    shown.resize(escape_bytes(reply, shown));
    std::printf("%s\n", shown.c_str());
    if (explain_) std::fputs(explain_reply(request, shown).c_str(), stdout);
    std::fflush(stdout);
  }
  return kExitOk;
}

int run_session(const CliOptions& o) {
  std::string error;
  const unsigned used =
      kOptHost | kOptPort | kOptExplain | kOptTls | kOptCacert | kOptCert | kOptKey | kOptTimeout;
  if (!check_options_used(o, used, "sending requests", error)) return refuse_input(error);
  ClientTlsOptions tls;
  if (!tls_options(o, tls, error)) return refuse_input(error);
  for (std::string_view word : o.words) {
    if (requests_of_line(word).empty()) {
      return refuse_input("'" + std::string(word) +
                          "' is no request: a request is <CODE#FIELD#...#>, quoted for the shell");
    }
  }
  Session session(o.explain, o.timeout_ms);
  if (!session.connect(o.host, o.port, tls)) return kExitConnection;
  for (std::string_view word : o.words) {
    if (int status = session.exchange(word); status != kExitOk) return status;
  }
  if (!o.words.empty()) return kExitOk;
  if (isatty(STDIN_FILENO)) return run_prompt(session, o.host, o.port);
  return run_pipe(session);
}

}  // namespace palisim
