// A TCP connection to any server of the protocol: a line of requests goes
// out with its carriage return, replies come back one by one. Every wait,
// the connect and the TLS handshake included, is bounded by a time-out.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "client/tls_client.h"

namespace palisim {

enum class ReadResult { kReply, kClosed, kFailed, kTimedOut, kTooLong };

// The longest reply read: a server of the protocol builds each reply in a
// buffer of 5120 bytes, so more without a '>' is no such reply.
inline constexpr size_t kMaxReplyBytes = 8192;

// Long enough for the slowest command of a loaded simulator; a server that
// never answers ends the run instead of hanging it.
inline constexpr int kDefaultTimeoutMs = 30000;

class ClientConnection {
 public:
  ClientConnection() = default;
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  // False, with the reason in words in error, when the host does not resolve,
  // no address of it accepts the connection within timeout_ms, or the TLS
  // handshake asked for fails or takes longer. Sends wait as long at most.
  bool open(const char* host, int port, std::string& error, const ClientTlsOptions& tls = {},
            int timeout_ms = kDefaultTimeoutMs);

  // The line and a carriage return; false when the connection fails or the
  // server takes none of it for the time-out.
  bool send_line(std::string_view line);

  // The next reply, from its '<' to its '>', without what surrounds it (the
  // CR LF, or nothing with opt23). Waits at most timeout_ms for the whole
  // reply; kTooLong once kMaxReplyBytes arrived without one.
  ReadResult read_reply(std::string& reply, int timeout_ms);

  // Why the last send or read failed.
  const std::string& error() const { return error_; }

 private:
  // Waits for the socket (or what TLS wants of it); false, with error_ set,
  // at the deadline or on failure.
  bool wait(short events, Deadline deadline);

  int fd_ = -1;                         // the non-blocking socket, or -1 before open
  int timeout_ms_ = kDefaultTimeoutMs;  // of the connect, the handshake and each send
  std::string pending_;                 // bytes received and not yet handed out as a reply
  std::unique_ptr<TlsClient> tls_;      // the TLS on fd_; null for plain TCP
  std::string error_;                   // why the last send or read failed
};

}  // namespace palisim
