// Requests to a server over one connection: from the command line, from a
// pipe (one line each), or typed at a prompt.
#pragma once

#include <string>
#include <string_view>

#include "cli/options.h"
#include "client/connection.h"

namespace palisim {

// One connection and what has passed over it.
class Session {
 public:
  Session(bool explain, int timeout_ms) : explain_(explain), timeout_ms_(timeout_ms) {}

  // False, after one line on standard error, when the connection or its
  // TLS handshake fails or takes longer than the time-out.
  bool connect(std::string_view host, int port, const ClientTlsOptions& tls = {});

  // Sends the line and prints the reply to each of its requests (explained
  // when asked). kExitOk, or kExitConnection after one line on standard
  // error saying why not every reply arrived.
  int exchange(std::string_view line);

  void set_explain(bool explain) { explain_ = explain; }

 private:
  ClientConnection connection_;
  bool explain_;
  int timeout_ms_;    // of the connect, the handshake, each send and each reply
  int expected_ = 0;  // replies asked for so far
  int received_ = 0;  // replies read so far
};

// The session part of the command line: the requests given, else standard
// input as a pipe or at a prompt. Returns the exit status.
int run_session(const CliOptions& o);

// The prompt with line editing and history, every reply explained.
int run_prompt(Session& session, std::string_view host, int port);

}  // namespace palisim
