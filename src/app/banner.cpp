#include "app/banner.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>

#include "config/config.h"
#include "config/inject_rules.h"
#include "crypto/check_value.h"
#include "dispatch/command_table.h"
#include "server/diag.h"

namespace palisim {

namespace {

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

}  // namespace

void print_banner(int listening_fd, const char* config_path, TraceMode trace,
                  int32_t command_line_rules, const char* metrics) {
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(listening_fd, reinterpret_cast<sockaddr*>(&bound), &len);
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &bound.sin_addr, address, sizeof address);

  Configuration cfg = open_configuration(config_path);
  CheckValueText mfk = {'n', 'o', 'n', 'e'};
  InjectRules rules;
  if (cfg) {
    Settings s;
    apply_default_settings(s);
    if (read_settings(s, cfg.get(), kDefaultSectionTitle) && s.mfk_present) {
      key_check_value(s.mfk.data(), s.mfk_len, mfk, false);
    }
    wipe_settings(s);
    read_inject_rules(rules, cfg.get(), kDefaultSectionTitle);
  }
  int32_t active = rules.count + command_line_rules;
  char inject[24] = "";
  if (active != 0) std::snprintf(inject, sizeof inject, " inject=%d", active);
  diag(
      "Palisim002 ready: version=%s interface=%s port=%d mfk=%s commands=%zu trace=%s%s%s%s "
      "config_loaded=%s config=%s\n",
      PALISIM_VERSION, address, ntohs(bound.sin_port), mfk.data(), command_table().size(),
      trace_name(trace), inject, *metrics ? " metrics=" : "", metrics, cfg ? "yes" : "no",
      config_path);
  if (trace == TraceMode::kFull) {
    diag("The request trace is full: PINs, clear data and account numbers are shown as sent.\n");
  }
  if (active != 0) {
    diag(
        "Fault injection is on: %d inject rules (%d from the file, %d from --inject) may delay, "
        "replace or approve replies, or close connections.\n",
        active, rules.count, command_line_rules);
  }
}

}  // namespace palisim
