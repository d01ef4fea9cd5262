// The line the program prints whenever its server starts listening, quiet or
// not, for people and for scripts: key=value pairs, the configuration path
// last so that it may hold spaces.
//
// Palisim002 ready: version=0.1.0 interface=0.0.0.0 port=7000 mfk=3FD5 commands=16
//   trace=off config_loaded=yes config=atalla.conf
//
// With inject rules, `inject=N` follows `trace`, and a line of its own says so.
// With a TLS listener, `tls_port=N` follows `port`; with the metrics endpoint
// on, `metrics=ADDRESS:PORT` follows `inject`.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/check_value.h"
#include "server/trace_mode.h"

struct cfg_t;

namespace palisim {

// What a parsed file (null for none) gives new connections: the check value
// of the default section's MFK, PALISIM_MFK's when set ("none" without one),
// and the number of its inject rules.
struct FileSummary {
  CheckValueText mfk = {'n', 'o', 'n', 'e'};
  int32_t inject_rules = 0;
};
FileSummary summarise_file(cfg_t* cfg);

// "off", "masked" or "full".
const char* trace_name(TraceMode trace);

// The text with control bytes and backslashes escaped as the trace shows
// them (\n, \x1B, \\), so that it prints as part of one line.
std::string escape_control_bytes(const char* text);

// Reads the address the socket is bound to and the configuration file's MFK
// (its check value only) and inject rules, and prints the banner as one
// diagnostic line; with the MFK from PALISIM_MFK, the trace full, or with
// inject rules (the file's and `command_line_rules` more), a further line
// says so.
// `tls_listening_fd` is the TLS listener, or -1 for none; `metrics` is the
// metrics endpoint's address, "" when it is off.
void print_banner(int listening_fd, int tls_listening_fd, const char* config_path, TraceMode trace,
                  int32_t command_line_rules, const char* metrics);

}  // namespace palisim
