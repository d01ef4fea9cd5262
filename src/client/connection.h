// A blocking TCP connection to any server of the protocol: a line of
// requests goes out with its carriage return, replies come back one by one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palisim {

enum class ReadResult { kReply, kClosed, kFailed, kTimedOut, kTooLong };

// The longest reply read: a server of the protocol builds each reply in a
// buffer of 5120 bytes, so more without a '>' is no such reply.
inline constexpr size_t kMaxReplyBytes = 8192;

class ClientConnection {
 public:
  ClientConnection() = default;
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  // False, with the reason in words in error, when the host does not resolve
  // or no address of it accepts the connection.
  bool open(const char* host, int port, std::string& error);

  // The line and a carriage return; false when the connection fails.
  bool send_line(std::string_view line);

  // The next reply, from its '<' to its '>', without what surrounds it (the
  // CR LF, or nothing with opt23). Waits at most timeout_ms for the whole
  // reply; kTooLong once kMaxReplyBytes arrived without one.
  ReadResult read_reply(std::string& reply, int timeout_ms);

 private:
  int fd_ = -1;          // the socket, or -1 before open
  std::string pending_;  // bytes received and not yet handed out as a reply
};

}  // namespace palisim
