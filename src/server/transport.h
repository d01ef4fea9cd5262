// What a connection's bytes travel over, after Redis's ConnectionType: plain
// TCP or TLS, each behind the same calls, chosen by the listener that
// accepted the socket. The connection asks it to read, write, complete its
// handshake and close, and asks what the socket must become ready for; it
// never asks which kind it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "server/close_cause.h"

namespace palisim {

// What one read or write did.
enum class IoStatus : uint8_t {
  kMoved,       // `bytes` moved
  kWouldBlock,  // nothing moved; try again once the socket is ready
  kEnded,       // reads only: the peer closed its sending side
  kFailed,      // the connection must close, for `cause`
};

struct IoResult {
  IoStatus status = IoStatus::kWouldBlock;
  size_t bytes = 0;
  CloseCause cause = CloseCause::kNone;
};

// Reads of what a closing connection's client still sends, 1024 bytes each.
inline constexpr int kShutdownReads = 16;

class Transport {
 public:
  // `peer` ("address:port") names the client in diagnostic lines; the
  // transport keeps a copy, as it may change hands before its connection
  // has a slot.
  Transport(int fd, const char* peer);
  virtual ~Transport() = default;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  int fd() const { return fd_; }

  virtual IoResult read(std::span<char> into) = 0;
  virtual IoResult write(std::span<const char> bytes) = 0;
  // POLLIN or POLLOUT: what the handshake or the last read waits for.
  virtual short waits_for() const = 0;
  // Bytes read ahead that the transport holds and no poll announces.
  virtual bool has_pending_input() const = 0;

  // Whether bytes of the protocol flow yet; until then each readiness of the
  // socket takes the handshake a step, which says in a line how it ended.
  virtual bool handshake_done() const = 0;
  // kNone while the handshake goes on or once it completed; else why it failed.
  virtual CloseCause step_handshake() = 0;
  // When the handshake must have completed (steady clock, ms); 0 for never.
  virtual int64_t deadline_ms() const = 0;
  // kNone unless the handshake's time ran out at now_ms.
  virtual CloseCause on_deadline(int64_t now_ms) = 0;
  // What the handshake established about the client ("TLSv1.3 CN=..."),
  // for the trace; empty when nothing.
  virtual std::string_view identity() const = 0;

  // Ends the sending side; false when the socket is already unusable.
  virtual bool shutdown();
  // Shuts down, drains what the client still sends (at most kShutdownReads
  // reads) and closes the socket.
  void close();

 protected:
  const int fd_;   // the client's non-blocking socket
  char peer_[24];  // address:port, for diagnostic lines
};

// What a new connection's transport is made from.
struct TransportStart {
  int fd = -1;
  const char* peer = "";      // address:port
  int64_t now_ms = 0;         // when it was accepted (steady clock)
  int64_t idle_limit_ms = 0;  // the connection's idle limit; 0 = none
};

// Each listening socket's: makes the transport of every connection it accepts.
class TransportFactory {
 public:
  virtual ~TransportFactory() = default;
  virtual std::unique_ptr<Transport> open(const TransportStart& start) const = 0;
  // Whether its transports have a handshake to complete before they carry
  // the protocol's bytes.
  virtual bool handshakes() const = 0;
};

}  // namespace palisim
