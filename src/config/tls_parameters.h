// The TLS listener's options at the top level of the configuration file:
// its port, the server's certificate and key, the CA that client
// certificates must chain to, and the protocol versions accepted.
#pragma once

#include <confuse.h>

#include <cstdint>
#include <string_view>

namespace palisim {

// tls_port when the file does not set it, and --tls-port off.
inline constexpr int32_t kNoTlsPort = -1;

// Paths are cut to this many bytes, NUL included.
inline constexpr size_t kTlsPathCapacity = 1024;

enum class TlsClientAuth : uint8_t {
  kUnset,     // not given: kYes when a CA is set, else kNo
  kYes,       // a certificate that chains to the CA is required
  kOptional,  // a certificate is checked when the client sends one
  kNo,        // none is asked for
};

// Protocol versions, one bit each; only these two are ever accepted.
enum TlsProtocolBit : uint8_t {
  kTls12 = 1u << 0,
  kTls13 = 1u << 1,
};
inline constexpr char kDefaultTlsProtocols[] = "TLSv1.2 TLSv1.3";
// TLS connections hold at most this many of the 64 slots unless the file says
// otherwise, so that plain clients always find one; never all of them.
inline constexpr int kDefaultTlsMaxConnections = 32;
inline constexpr int kMaxTlsMaxConnections = 63;

struct TlsParameters {
  int32_t port = kNoTlsPort;                // 0 for a free port; kNoTlsPort: no TLS listener
  char certificate[kTlsPathCapacity] = "";  // PEM: the server's certificate, then its chain
  char private_key[kTlsPathCapacity] = "";  // PEM: the certificate's key
  char client_ca[kTlsPathCapacity] = "";    // PEM: CAs client certificates chain to; "" for none
  TlsClientAuth auth_clients = TlsClientAuth::kUnset;
  uint8_t protocols = kTls12 | kTls13;              // TlsProtocolBit of each version accepted
  int max_connections = kDefaultTlsMaxConnections;  // slots TLS connections may hold at once

  // What client authentication comes to once the default is applied.
  TlsClientAuth effective_auth() const {
    if (auth_clients != TlsClientAuth::kUnset) return auth_clients;
    return client_ca[0] ? TlsClientAuth::kYes : TlsClientAuth::kNo;
  }
};

// "TLSv1.2", "TLSv1.3" or both, separated by blanks, in any case. Returns
// the TlsProtocolBit mask, or 0 for an empty list or another word.
uint8_t parse_tls_protocols(std::string_view text);

// Checks of the parser for tls_port, tls_max_connections, tls_auth_clients
// and tls_protocols.
int check_tls_port(cfg_t* cfg, cfg_opt_t* opt);
int check_tls_max_connections(cfg_t* cfg, cfg_opt_t* opt);
int check_tls_auth_clients(cfg_t* cfg, cfg_opt_t* opt);
int check_tls_protocols(cfg_t* cfg, cfg_opt_t* opt);

// Fills tls from the top level of a parsed file.
void read_tls_parameters(TlsParameters& tls, cfg_t* cfg);

}  // namespace palisim
