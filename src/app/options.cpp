#include "app/options.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace palisim {

const char kProgramUsage[] =
    "usage: Palisim002 [--headless] [--config PATH] [--port N] [--interface any|localhost] "
    "[--quiet]\n"
    "  --headless          serve without the control window (also when there is no display)\n"
    "  --config PATH       configuration file (default atalla.conf in the working directory)\n"
    "  --port N            TCP port 1 to 65535 (default: the file's port, else 7000)\n"
    "  --interface NAME    any or localhost (default: the file's interface, else any)\n"
    "  --quiet             leave out the per-event trace lines\n"
    "  --help              print this text\n"
    "Headless, the simulator serves until SIGINT or SIGTERM.\n";

bool parse_program_options(int argc, char** argv, ProgramOptions& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        error = std::string("missing value after ") + name;
        return nullptr;
      }
      return argv[++i];
    };
    if (std::strcmp(arg, "--headless") == 0) {
      out.headless = true;
    } else if (std::strcmp(arg, "--quiet") == 0) {
      out.quiet = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      out.help = true;
    } else if (std::strcmp(arg, "--config") == 0) {
      const char* v = value(arg);
      if (!v) return false;
      if (!*v) {
        error = "empty configuration path";
        return false;
      }
      out.config_path = v;
    } else if (std::strcmp(arg, "--port") == 0) {
      const char* v = value(arg);
      if (!v) return false;
      char* end = nullptr;
      long port = std::strtol(v, &end, 10);
      if (!*v || *end || port < 1 || port > 65535) {
        error = std::string("invalid port '") + v + "' (1 to 65535)";
        return false;
      }
      out.port = static_cast<int>(port);
    } else if (std::strcmp(arg, "--interface") == 0) {
      const char* v = value(arg);
      if (!v) return false;
      if (strcasecmp(v, "any") == 0) {
        out.interface_name = "any";
      } else if (strcasecmp(v, "localhost") == 0) {
        out.interface_name = "localhost";
      } else {
        error = std::string("invalid interface '") + v + "' (any or localhost)";
        return false;
      }
    } else {
      error = std::string("unknown option '") + arg + "'";
      return false;
    }
  }
  return true;
}

}  // namespace palisim
