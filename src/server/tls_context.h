// The TLS listener's OpenSSL context: the server's certificate chain and
// key, the CA that client certificates must chain to, and the versions
// accepted, loaded once before the server starts.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "config/tls_parameters.h"

namespace palisim {

struct SslContextFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using TlsContext = std::unique_ptr<SSL_CTX, SslContextFree>;

// The context for tls, or none with one line in `error` naming the option,
// its file and OpenSSL's reason. The key file's bytes are wiped from our
// buffers once OpenSSL holds the key.
TlsContext load_tls_context(const TlsParameters& tls, std::string& error);

}  // namespace palisim
