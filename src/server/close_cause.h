// What a connection's handlers tell the event loop, and why a connection
// closed: shared by the connection, its transport, the loop and what counts
// closes, so none of them needs the connection's own header.
#pragma once

#include <cstdint>

namespace palisim {

// What a handler of a connection asks of the event loop.
enum class Verdict : uint8_t { kKeep, kClose };

// Why a connection closed.
enum class CloseCause : uint8_t {
  kNone,         // still open
  kPeerClosed,   // the client closed its side
  kReadFailed,   // receiving failed
  kWriteFailed,  // sending failed
  kSocketError,  // the socket reported an error
  kOverlong,     // a line outgrew the input buffer
  kInjected,     // an inject rule closed it
  kIdle,         // no complete request within the idle limit
  kStopped,      // the server stopped
  kTlsRefused,   // its TLS handshake failed, or plain text came to the TLS port
  kTlsStalled,   // its TLS handshake did not complete within the limit
  kWrongPort,    // a TLS handshake came to the plain port
};

// The message a close reports the socket's pending error with; null when
// the connection closed of its own accord.
const char* close_report_message(CloseCause cause);

}  // namespace palisim
