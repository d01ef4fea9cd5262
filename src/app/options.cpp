#include "app/options.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "config/environment_mfk.h"
#include "config/validation.h"

namespace palisim {

const char kProgramUsage[] =
    "usage: Palisim002 [--headless] [--config PATH] [--port N] [--tls-port N|off]\n"
    "                  [--interface any|localhost] [--quiet] [--trace[=full]] [--inject RULE]...\n"
    "                  [--metrics ADDRESS:PORT] [--control ADDRESS:PORT] [--seed HEX]\n"
    "       Palisim002 --check-config [--config PATH]\n"
    "  --headless          serve without the control window (also when there is no display)\n"
    "  --check-config      parse the configuration file as the server would, print each\n"
    "                      problem as PATH:LINE: message and a summary line, and exit: 0 when\n"
    "                      the file would load, 2 when not; serves nothing\n"
    "  --config PATH       configuration file (default atalla.conf in the working directory);\n"
    "                      headless, a named file that is missing or refused stops the start\n"
    "                      with exit status 2\n"
    "  --port N            TCP port 1 to 65535 (default: the file's port, else 7000); headless,\n"
    "                      0 binds a free port, which the start-up line shows\n"
    "  --tls-port N|off    TCP port 1 to 65535 for TLS, beside the plain port (default: the\n"
    "                      file's tls_port); headless, 0 binds a free port, which the start-up\n"
    "                      line shows; off turns TLS off. Needs tls_certificate and\n"
    "                      tls_private_key in the file\n"
    "  --interface NAME    any or localhost (default: the file's interface, else any)\n"
    "  --quiet             leave out the per-event loop lines\n"
    "  --trace             print each request and its reply, PINs, clear data and account\n"
    "                      numbers masked (also trace = true in the file)\n"
    "  --trace=full        the same, masking nothing\n"
    "  --inject RULE       a fault for testing clients, named as in an inject section of\n"
    "                      the file: CODE:NAME=VALUE,... with CODE a command code or *, e.g.\n"
    "                      31:latency_ms=200,probability=0.1 or '*:reply=<00#060235#>';\n"
    "                      repeatable (up to 16), tried before the file's rules\n"
    "  --metrics ADDR:PORT serve Prometheus metrics at http://ADDR:PORT/metrics, e.g.\n"
    "                      127.0.0.1:9464 (also metrics = \"...\" in the file); headless, port\n"
    "                      0 binds a free one, which the start-up line shows\n"
    "  --control ADDR:PORT serve the control API for test suites at http://ADDR:PORT/ (also\n"
    "                      control = \"...\" in the file); headless, port 0 binds a free one,\n"
    "                      which the start-up line shows. Beyond loopback it needs a token\n"
    "                      (control_token in the file, or PALISIM_CONTROL_TOKEN)\n"
    "  --seed HEX          16 to 64 hex digits: new keys, IVs and inject draws come from a\n"
    "                      generator seeded with it, restarted for each connection (also\n"
    "                      random_seed = \"...\" in the file)\n"
    "  --help              print this text\n"
    "PALISIM_CONFIG, PALISIM_PORT, PALISIM_TLS_PORT, PALISIM_INTERFACE, PALISIM_METRICS,\n"
    "PALISIM_CONTROL and PALISIM_SEED stand for --config, --port, --tls-port, --interface,\n"
    "--metrics, --control and --seed; the command line wins. PALISIM_CONTROL_TOKEN stands for\n"
    "control_token, and PALISIM_MFK for the mfk of section default.\n"
    "Headless, the simulator serves until SIGINT or SIGTERM. SIGUSR1 prints the requests\n"
    "served by command, as the end of the run does. SIGHUP has the next connection read the\n"
    "configuration file afresh.\n";

namespace {

bool set_config_path(const char* v, ProgramOptions& out, std::string& error) {
  if (!*v) {
    error = "empty configuration path";
    return false;
  }
  if (std::strlen(v) > kMaxConfigPathLen) {
    error = "configuration path longer than " + std::to_string(kMaxConfigPathLen) + " bytes";
    return false;
  }
  out.config_path = v;
  out.config_named = true;
  return true;
}

bool set_port(const char* v, ProgramOptions& out, std::string& error) {
  char* end = nullptr;
  long port = std::strtol(v, &end, 10);
  if (!*v || *end || port < 0 || port > 65535) {
    error = std::string("invalid port '") + v + "' (0 to 65535)";
    return false;
  }
  out.port = static_cast<int>(port);
  return true;
}

bool set_tls_port(const char* v, ProgramOptions& out, std::string& error) {
  if (std::strcmp(v, "off") == 0) {
    out.tls_port = kNoTlsPort;
    return true;
  }
  char* end = nullptr;
  long port = std::strtol(v, &end, 10);
  if (!*v || *end || port < 0 || port > 65535) {
    error = std::string("invalid TLS port '") + v + "' (0 to 65535, or off)";
    return false;
  }
  out.tls_port = static_cast<int>(port);
  return true;
}

// Checked here so that a bad key stops the start; the settings read the key
// itself from the environment, so no copy of it is kept.
bool check_environment_mfk(const char* v, ProgramOptions&, std::string& error) {
  if (is_key_text(v)) return true;
  error = "invalid MFK (16, 32 or 48 hex digits)";
  return false;
}

bool add_inject_rule(const char* v, ProgramOptions& out, std::string& error) {
  InjectRule rule;
  if (!parse_inject_rule(v, rule, error)) {
    error = std::string("invalid --inject rule '") + v + "': " + error;
    return false;
  }
  if (out.inject.count == kMaxInjectRules) {
    error = "more than " + std::to_string(kMaxInjectRules) + " --inject rules";
    return false;
  }
  out.inject.add(rule);
  return true;
}

// An ADDRESS:PORT to listen on, port 0 allowed; `what` names it in the error.
bool set_listen_address(const char* what, const char* v, std::string& into, std::string& error) {
  if (!is_listen_address(v, 0)) {
    error = std::string("invalid ") + what + " address '" + v + "' (ADDRESS:PORT)";
    return false;
  }
  into = v;
  return true;
}

bool set_metrics(const char* v, ProgramOptions& out, std::string& error) {
  return set_listen_address("metrics", v, out.metrics, error);
}

bool set_control(const char* v, ProgramOptions& out, std::string& error) {
  return set_listen_address("control", v, out.control, error);
}

bool set_control_token(const char* v, ProgramOptions& out, std::string& error) {
  for (const char* p = v; *p; ++p) {
    if (*p <= ' ' || *p > '~') {
      // The token itself is never printed.
      error = "invalid control token (printable text without blanks)";
      return false;
    }
  }
  out.control_token = v;
  return true;
}

bool set_seed(const char* v, ProgramOptions& out, std::string& error) {
  if (!parse_random_seed({v, std::strlen(v)}, out.seed)) {
    error = std::string("invalid seed '") + v + "' (16 to 64 hex digits)";
    return false;
  }
  return true;
}

bool set_interface(const char* v, ProgramOptions& out, std::string& error) {
  if (strcasecmp(v, "any") == 0) {
    out.interface_name = "any";
  } else if (strcasecmp(v, "localhost") == 0) {
    out.interface_name = "localhost";
  } else {
    error = std::string("invalid interface '") + v + "' (any or localhost)";
    return false;
  }
  return true;
}

using Setter = bool (*)(const char* value, ProgramOptions& out, std::string& error);

struct ValueOption {
  const char* flag;  // on the command line; null for none
  const char* env;   // the environment variable that stands for it; null for none
  Setter set;
};

constexpr ValueOption kValueOptions[] = {
    {"--config", "PALISIM_CONFIG", set_config_path},
    {"--port", "PALISIM_PORT", set_port},
    {"--tls-port", "PALISIM_TLS_PORT", set_tls_port},
    {"--interface", "PALISIM_INTERFACE", set_interface},
    {"--inject", nullptr, add_inject_rule},
    {"--metrics", "PALISIM_METRICS", set_metrics},
    {"--control", "PALISIM_CONTROL", set_control},
    {"--seed", "PALISIM_SEED", set_seed},
    // No flag: a token on the command line would show in the process list.
    {nullptr, "PALISIM_CONTROL_TOKEN", set_control_token},
    {nullptr, kMfkVariable, check_environment_mfk},
};

}  // namespace

bool parse_program_options(int argc, char** argv, ProgramOptions& out, std::string& error) {
  for (const ValueOption& option : kValueOptions) {
    const char* v = option.env ? std::getenv(option.env) : nullptr;
    if (v && !option.set(v, out, error)) {
      error += std::string(" in ") + option.env;
      return false;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const ValueOption* with_value = nullptr;
    for (const ValueOption& option : kValueOptions) {
      if (option.flag && std::strcmp(arg, option.flag) == 0) with_value = &option;
    }
    if (with_value) {
      if (i + 1 >= argc) {
        error = std::string("missing value after ") + arg;
        return false;
      }
      if (!with_value->set(argv[++i], out, error)) return false;
    } else if (std::strcmp(arg, "--headless") == 0) {
      out.headless = true;
    } else if (std::strcmp(arg, "--check-config") == 0) {
      out.check_config = true;
    } else if (std::strcmp(arg, "--quiet") == 0) {
      out.quiet = true;
    } else if (std::strcmp(arg, "--trace") == 0) {
      out.trace = TraceMode::kMasked;
    } else if (std::strcmp(arg, "--trace=full") == 0) {
      out.trace = TraceMode::kFull;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      out.help = true;
    } else {
      error = std::string("unknown option '") + arg + "'";
      return false;
    }
  }
  return true;
}

ListenAddress listen_address(const ProgramOptions& options, const ServerParameters* file) {
  ListenAddress address{"any", kDefaultPort};
  if (file) {
    address.interface_name = strcasecmp(file->interface_name, "any") == 0 ? "any" : "localhost";
    address.port = file->port;
  }
  if (!options.interface_name.empty()) address.interface_name = options.interface_name.c_str();
  if (options.port >= 0) address.port = static_cast<uint16_t>(options.port);
  return address;
}

}  // namespace palisim
