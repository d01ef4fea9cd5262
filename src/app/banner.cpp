#include "app/banner.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "config/config.h"
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

void print_banner(int listening_fd, const char* config_path, TraceMode trace) {
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(listening_fd, reinterpret_cast<sockaddr*>(&bound), &len);
  char address[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &bound.sin_addr, address, sizeof address);

  ServerParameters params;
  bool loaded = load_server_parameters(params, config_path);
  CheckValueText mfk = {'n', 'o', 'n', 'e'};
  if (loaded) {
    Settings s;
    apply_default_settings(s);
    if (load_settings(s, config_path, kDefaultSectionTitle) && s.mfk_present) {
      key_check_value(s.mfk.data(), s.mfk_len, mfk, false);
    }
    wipe_settings(s);
  }
  diag(
      "Palisim002 ready: version=%s interface=%s port=%d mfk=%s commands=%zu trace=%s "
      "config_loaded=%s config=%s\n",
      PALISIM_VERSION, address, ntohs(bound.sin_port), mfk.data(), command_table().size(),
      trace_name(trace), loaded ? "yes" : "no", config_path);
  if (trace == TraceMode::kFull) {
    diag("The request trace is full: PINs, clear data and account numbers are shown as sent.\n");
  }
}

}  // namespace palisim
