#include "stress/command_line.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace palisim::stress {

namespace {

constexpr const char* kHelpLines[] = {
    "palisimstress:  stress tests an Atalla connection, ostensibly for palisim\n",
    "usage:  palisimstress {options}, where options are:\n",
    "    --host HOSTNAME   name or IP of host, or 'localhost'\n",
    "    --port PORT       port to use, defaults to 7000\n",
    "    --count COUNT     number of times to issue command\n",
    "    --cmd COMMAND     Atalla command to issue for testing\n",
    "    --alg ALG         either pingpong or maximalmoosh\n",
    "\nNote:\n",
    "By default this sends an echo command repeatedly.  You can substitute any\n",
    "valid Atalla command (for your MFK) to include the effect of encryption.  Also,\n",
    "because Atalla commands use the < and > characters, it will be necessary to\n",
    "enclose the command in quotes to avoid these being interpreted by the shell.\n",
};

void print_help() {
  for (const char* line : kHelpLines)
    std::fputs(line, stdout);
}

void set_command(RunParameters& params, const char* text, size_t text_len) {
  std::memcpy(params.command.data(), text, text_len);
  std::memcpy(params.command.data() + text_len, "\r\n", 2);
  params.command_len = text_len + 2;
}

// An unknown name keeps the algorithm chosen so far; the run goes on.
void set_algorithm(RunParameters& params, const char* name) {
  if (strcasecmp(name, "pingpong") == 0) {
    params.algorithm = Algorithm::kPingPong;
  } else if (strcasecmp(name, "maximalmoosh") == 0 || strcasecmp(name, "ballstothewall") == 0) {
    params.algorithm = Algorithm::kPipelined;
  } else {
    std::printf("algortihm '%s' unrecognized", name);
  }
}

// Options with the message printed when their value is missing; the load
// flags take no value (nullptr).
enum class Option {
  kHost,
  kPort,
  kCount,
  kCmd,
  kAlg,
  kConnections,
  kPipeline,
  kDuration,
  kWarmup,
  kRate,
  kMix,
  kCheck,
  kJson,
  kCsv,
  kCacert,
  kCert,
  kKey,
  kTimeout,
};

struct OptionName {
  const char* name;
  Option option;
  const char* missing_message;
};

constexpr OptionName kOptions[] = {
    {"--host", Option::kHost, "missing hostname"},
    {"--port", Option::kPort, "missing port"},
    {"--count", Option::kCount, "missing count"},
    {"--cmd", Option::kCmd, "missing command"},
    {"--alg", Option::kAlg, "missing algorithm"},
    {"--connections", Option::kConnections, "missing connections\n"},
    {"--pipeline", Option::kPipeline, "missing pipeline depth\n"},
    {"--duration", Option::kDuration, "missing duration\n"},
    {"--warmup", Option::kWarmup, "missing warmup\n"},
    {"--rate", Option::kRate, "missing rate\n"},
    {"--mix", Option::kMix, "missing mix file\n"},
    {"--check", Option::kCheck, nullptr},
    {"--json", Option::kJson, nullptr},
    {"--csv", Option::kCsv, nullptr},
    {"--cacert", Option::kCacert, "missing CA file\n"},
    {"--cert", Option::kCert, "missing certificate file\n"},
    {"--key", Option::kKey, "missing key file\n"},
    {"--timeout", Option::kTimeout, "missing timeout\n"},
};

// A whole argument read as a number within [low, high]; prints why not.
bool read_number(const char* name, const char* text, double low, double high, double& out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= low && v <= high)) {
    std::printf("%s takes a number from %g to %g, not '%s'\n", name, low, high, text);
    return false;
  }
  out = v;
  return true;
}

void set_load_flag(LoadOptions& load, Option option) {
  load.used = true;
  if (option == Option::kCheck) load.check = true;
  if (option == Option::kJson) load.format = OutputFormat::kJson;
  if (option == Option::kCsv) load.format = OutputFormat::kCsv;
}

// Applies one load option; false after printing why its value is refused.
bool set_load_option(LoadOptions& load, const OptionName& o, const char* value) {
  load.used = true;
  double v = 0;
  switch (o.option) {
    case Option::kConnections:
      if (!read_number(o.name, value, 1, kMaxConnections, v)) return false;
      load.connections = static_cast<int32_t>(v);
      return true;
    case Option::kPipeline:
      if (!read_number(o.name, value, 1, 1e6, v)) return false;
      load.pipeline = static_cast<int32_t>(v);
      return true;
    case Option::kDuration:
      return read_number(o.name, value, 1e-3, 1e6, load.duration_s);
    case Option::kWarmup:
      return read_number(o.name, value, 0, 1e6, load.warmup_s);
    case Option::kRate:
      return read_number(o.name, value, 1e-3, 1e9, load.rate);
    case Option::kMix:
      load.mix_file = value;
      return true;
    default:
      return true;
  }
}

const OptionName* find_option(const char* arg) {
  for (const OptionName& o : kOptions) {
    if (strcasecmp(arg, o.name) == 0) return &o;
  }
  return nullptr;
}

}  // namespace

int32_t read_leading_integer(const char* text) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p)))
    ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t value = 0;
  while (*p >= '0' && *p <= '9')
    value = value * 10u + static_cast<uint32_t>(*p++ - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

ParseResult parse_command_line(int argc, char** argv, RunParameters& params) {
  set_command(params, kDefaultCommandText, sizeof kDefaultCommandText - 1);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcasecmp(arg, "--help") == 0) {
      print_help();
      return {false, 2};
    }
    if (strcasecmp(arg, "--tls") == 0) {
      params.tls.on = true;
      continue;
    }
    const OptionName* o = find_option(arg);
    if (!o) {
      std::printf("unrecognized command '%s', try --help\n", arg);
      return {false, 1};
    }
    if (!o->missing_message) {
      set_load_flag(params.load, o->option);
      continue;
    }
    if (i + 1 >= argc) {
      std::fputs(o->missing_message, stdout);
      return {false, 1};
    }
    const char* value = argv[++i];
    switch (o->option) {
      case Option::kHost:
        params.host = value;
        break;
      case Option::kPort:
        params.port = read_leading_integer(value);
        break;
      case Option::kCount:
        params.count = read_leading_integer(value);
        break;
      case Option::kCmd: {
        size_t len = std::strlen(value);
        // Only reachable where the system passes longer arguments than Linux on x86.
        if (len > kMaxCommandTextLen) {
          std::printf("command longer than %zu bytes\n", kMaxCommandTextLen);
          return {false, 1};
        }
        set_command(params, value, len);
        break;
      }
      case Option::kAlg:
        set_algorithm(params, value);
        break;
      case Option::kCacert:
        params.tls.cacert = value;
        break;
      case Option::kCert:
        params.tls.cert = value;
        break;
      case Option::kKey:
        params.tls.key = value;
        break;
      case Option::kTimeout:
        if (!read_number(o->name, value, 1e-3, 86400, params.timeout_s)) return {false, 1};
        break;
      default:
        if (!set_load_option(params.load, *o, value)) return {false, 1};
        break;
    }
  }
  if (!params.tls.on && (params.tls.cacert || params.tls.cert || params.tls.key)) {
    std::fputs("--cacert, --cert and --key go with --tls\n", stdout);
    return {false, 1};
  }
  if (!params.tls.cert != !params.tls.key) {
    std::fputs("--cert and --key go together\n", stdout);
    return {false, 1};
  }
  return {true, 0};
}

}  // namespace palisim::stress
