#include <confuse.h>

#include "config/config.h"
#include "config/copy_text.h"

namespace palisim {

bool load_server_parameters(ServerParameters& params, const char* path, ParseReport* report) {
  Configuration cfg = open_configuration(path, nullptr, report);
  if (!cfg) return false;
  read_server_parameters(params, cfg.get());
  return true;
}

void read_server_parameters(ServerParameters& params, cfg_t* cfg) {
  copy_text(params.interface_name, cfg_getstr(cfg, "interface"));
  // The port check admits 1 to 65535 only.
  params.port = static_cast<uint16_t>(cfg_getint(cfg, "port"));
  copy_text(params.logfile, cfg_getstr(cfg, "logfile"));
  params.trace = cfg_getbool(cfg, "trace") == cfg_true;
  read_tls_parameters(params.tls, cfg);
  copy_text(params.metrics, cfg_getstr(cfg, "metrics"));
  copy_text(params.control, cfg_getstr(cfg, "control"));
  copy_text(params.control_token, cfg_getstr(cfg, "control_token"));
  // The check admits 0 to kMaxJournalSize.
  params.journal_size = static_cast<int32_t>(cfg_getint(cfg, "journal_size"));
  copy_text(params.random_seed, cfg_getstr(cfg, "random_seed"));
}

}  // namespace palisim
