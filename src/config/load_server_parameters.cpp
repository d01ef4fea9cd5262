#include <confuse.h>

#include "config/config.h"
#include "config/copy_text.h"

namespace palisim {

bool load_server_parameters(ServerParameters& params, const char* path) {
  Configuration cfg = open_configuration(path);
  if (!cfg) return false;
  copy_text(params.interface_name, cfg_getstr(cfg.get(), "interface"));
  // The port check admits 1 to 65535 only.
  params.port = static_cast<uint16_t>(cfg_getint(cfg.get(), "port"));
  copy_text(params.logfile, cfg_getstr(cfg.get(), "logfile"));
  params.trace = cfg_getbool(cfg.get(), "trace") == cfg_true;
  copy_text(params.metrics, cfg_getstr(cfg.get(), "metrics"));
  return true;
}

}  // namespace palisim
