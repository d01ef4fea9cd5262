#include "config/tls_parameters.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "config/copy_text.h"

namespace palisim {

namespace {

std::string_view text_of(cfg_opt_t* opt) {
  const char* text = cfg_opt_getnstr(opt, 0);
  return text ? std::string_view(text) : std::string_view();
}

bool same_word(std::string_view word, const char* name) {
  return word.size() == std::strlen(name) && strncasecmp(word.data(), name, word.size()) == 0;
}

TlsClientAuth auth_of(std::string_view word) {
  if (same_word(word, "yes")) return TlsClientAuth::kYes;
  if (same_word(word, "optional")) return TlsClientAuth::kOptional;
  if (same_word(word, "no")) return TlsClientAuth::kNo;
  return TlsClientAuth::kUnset;
}

}  // namespace

uint8_t parse_tls_protocols(std::string_view text) {
  uint8_t mask = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = text.find_first_not_of(' ', pos);
    if (start == std::string_view::npos) break;
    size_t end = std::min(text.find(' ', start), text.size());
    std::string_view word = text.substr(start, end - start);
    if (same_word(word, "TLSv1.2")) {
      mask |= kTls12;
    } else if (same_word(word, "TLSv1.3")) {
      mask |= kTls13;
    } else {
      return 0;
    }
    pos = end;
  }
  return mask;
}

int check_tls_port(cfg_t* cfg, cfg_opt_t* opt) {
  long port = cfg_opt_getnint(opt, 0);
  if (port >= 0 && port <= 65535) return 0;
  cfg_error(cfg, "invalid tls_port %ld (1 to 65535, or 0 for a free port)", port);
  return -1;
}

int check_tls_max_connections(cfg_t* cfg, cfg_opt_t* opt) {
  long n = cfg_opt_getnint(opt, 0);
  if (n >= 1 && n <= kMaxTlsMaxConnections) return 0;
  cfg_error(cfg, "invalid tls_max_connections %ld (1 to %d: plain clients keep the other slots)", n,
            kMaxTlsMaxConnections);
  return -1;
}

int check_tls_auth_clients(cfg_t* cfg, cfg_opt_t* opt) {
  if (auth_of(text_of(opt)) != TlsClientAuth::kUnset) return 0;
  cfg_error(cfg, "tls_auth_clients must be yes, optional or no");
  return -1;
}

int check_tls_protocols(cfg_t* cfg, cfg_opt_t* opt) {
  if (parse_tls_protocols(text_of(opt)) != 0) return 0;
  // Older versions are named here so the refusal of "TLSv1.1" reads as meant.
  cfg_error(cfg, "tls_protocols must be TLSv1.2, TLSv1.3 or both; nothing older is accepted");
  return -1;
}

void read_tls_parameters(TlsParameters& tls, cfg_t* cfg) {
  // The check admits 0 to 65535 only.
  tls.port =
      cfg_size(cfg, "tls_port") ? static_cast<int32_t>(cfg_getint(cfg, "tls_port")) : kNoTlsPort;
  // The check admits 1 to kMaxTlsMaxConnections only.
  tls.max_connections = static_cast<int>(cfg_getint(cfg, "tls_max_connections"));
  copy_text(tls.certificate, cfg_getstr(cfg, "tls_certificate"));
  copy_text(tls.private_key, cfg_getstr(cfg, "tls_private_key"));
  copy_text(tls.client_ca, cfg_getstr(cfg, "tls_client_ca"));
  const char* auth = cfg_getstr(cfg, "tls_auth_clients");
  tls.auth_clients = auth ? auth_of(auth) : TlsClientAuth::kUnset;
  tls.protocols = parse_tls_protocols(cfg_getstr(cfg, "tls_protocols"));
}

}  // namespace palisim
