// The run's byte stream: the connected socket itself, or TLS over it. Sends
// and receives behave as send(2) and recv(2) on the non-blocking socket do,
// EAGAIN included, so the pacing algorithms are the same for both.
//
// Over TLS, sends are gathered into records of up to 16 KiB, written when
// one is full or before the next receive: TCP merges a pipelining client's
// small sends into full segments, while every TLS record costs the server a
// decryption of its own.
#pragma once

#include <openssl/ssl.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <string>

namespace palisim::stress {

struct TlsOptions {
  bool on = false;  // --tls
  const char* cacert =
      nullptr;  // --cacert FILE: CA the server's certificate chains to; null: the system's
  const char* cert = nullptr;  // --cert FILE: a client certificate
  const char* key = nullptr;   // --key FILE: its key
};

// The client context of a run, shared by all its connections.
class TlsContext {
 public:
  TlsContext() = default;
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // False after printing why the options' files cannot be used.
  bool load(const TlsOptions& options);
  SSL_CTX* get() const { return ctx_; }

 private:
  SSL_CTX* ctx_ = nullptr;
};

enum class Handshake { kDone, kWantRead, kWantWrite, kFailed };

class Link {
 public:
  explicit Link(int fd) : fd_(fd) {}
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // TLS as the client of host on the socket; false after printing why not.
  bool begin_tls(const TlsContext& ctx, const char* host);
  // One step of the handshake on the non-blocking socket: what it waits
  // for, or kFailed with the reason in why.
  Handshake continue_handshake(std::string& why);
  // begin_tls and the whole handshake, before the timed run, within
  // timeout_s; false after printing why it failed.
  bool start_tls(const TlsContext& ctx, const char* host, double timeout_s);

  // Tells the server the run ended (TLS close alert); never waits.
  void notify_close();

  ssize_t send(const char* data, size_t len);
  ssize_t recv(char* buf, size_t len);
  // Writes the gathered bytes now (some may wait for the socket); false,
  // with errno, when the connection failed.
  bool push() { return flush(); }
  bool has_unsent() const { return out_len_ > 0; }
  // Decrypted or received bytes a poll of the socket will not announce.
  bool has_buffered_input() const { return ssl_ && SSL_has_pending(ssl_) == 1; }
  int fd() const { return fd_; }
  // What to poll for after a send or receive would block: input, and room
  // for the gathered bytes while some wait.
  short wanted_events() const;

 private:
  ssize_t result(int ret, size_t moved);
  // Writes gathered bytes; false, with errno, when the connection failed.
  bool flush();

  int fd_;
  SSL* ssl_ = nullptr;           // null for plain TCP
  std::array<char, 16384> out_;  // gathered bytes of the next record
  size_t out_len_ = 0;           // bytes gathered
  size_t retry_len_ = 0;  // a write that waited for the socket: retried with this length; 0 if none
};

}  // namespace palisim::stress
