#include "app/banner.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>

#include "config/config.h"
#include "config/environment_mfk.h"
#include "config/inject_rules.h"
#include "crypto/check_value.h"
#include "protocol/command_catalog.h"
#include "server/diag.h"

namespace palisim {

const char* trace_name(TraceMode trace) {
  switch (trace) {
    case TraceMode::kMasked:
      return "masked";
    case TraceMode::kFull:
      return "full";
    case TraceMode::kOff:
      break;
  }
  return "off";
}

std::string escape_control_bytes(const char* text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = text; *p; ++p) {
    auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte != 0x7F && byte != '\\') {
      out += *p;
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else {
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return out;
}

FileSummary summarise_file(cfg_t* cfg) {
  FileSummary summary;
  Settings s;
  apply_default_settings(s);
  if (cfg) read_settings(s, cfg, kDefaultSectionTitle);
  apply_environment_mfk(s);
  if (s.mfk_present) key_check_value(s.mfk.data(), s.mfk_len, summary.mfk, false);
  wipe_settings(s);
  if (!cfg) return summary;
  InjectRules rules;
  read_inject_rules(rules, cfg, kDefaultSectionTitle);
  summary.inject_rules = rules.count;
  return summary;
}

void print_banner(int listening_fd, int tls_listening_fd, const char* config_path, TraceMode trace,
                  int32_t command_line_rules, const char* metrics) {
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(listening_fd, reinterpret_cast<sockaddr*>(&bound), &len);
  char tls[24] = "";
  if (tls_listening_fd >= 0) {
    sockaddr_in tls_bound{};
    len = sizeof tls_bound;
    getsockname(tls_listening_fd, reinterpret_cast<sockaddr*>(&tls_bound), &len);
    std::snprintf(tls, sizeof tls, " tls_port=%d", ntohs(tls_bound.sin_port));
  }
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &bound.sin_addr, address, sizeof address);

  // The program has said what the file holds wrong, once.
  ParseReport quietly;
  quietly.quiet = true;
  Configuration cfg = open_configuration(config_path, nullptr, &quietly);
  FileSummary file = summarise_file(cfg.get());
  int32_t active = file.inject_rules + command_line_rules;
  char inject[24] = "";
  if (active != 0) std::snprintf(inject, sizeof inject, " inject=%d", active);
  diag(
      "Palisim002 ready: version=%s interface=%s port=%d%s mfk=%s commands=%zu trace=%s%s%s%s "
      "config_loaded=%s config=%s\n",
      PALISIM_VERSION, address, ntohs(bound.sin_port), tls, file.mfk.data(), kCommandCount,
      trace_name(trace), inject, *metrics ? " metrics=" : "", metrics, cfg ? "yes" : "no",
      escape_control_bytes(config_path).c_str());
  if (environment_mfk_given()) diag("The MFK comes from %s.\n", kMfkVariable);
  if (trace == TraceMode::kFull) {
    diag("The request trace is full: PINs, clear data and account numbers are shown as sent.\n");
  }
  if (active != 0) {
    diag(
        "Fault injection is on: %d inject rules (%d from the file, %d from --inject) may delay, "
        "replace or approve replies, or close connections.\n",
        active, file.inject_rules, command_line_rules);
  }
}

}  // namespace palisim
