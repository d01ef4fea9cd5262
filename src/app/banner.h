// The line the program prints whenever its server starts listening, quiet or
// not, for people and for scripts: key=value pairs, the configuration path
// last so that it may hold spaces.
//
// Palisim002 ready: version=0.1.0 interface=0.0.0.0 port=7000 mfk=3FD5 commands=16
//   trace=off config_loaded=yes config=atalla.conf
#pragma once

#include "server/trace_mode.h"

namespace palisim {

// Reads the address the socket is bound to and the configuration file's MFK
// (its check value only) and prints the banner as one diagnostic line; with
// the trace full, a second line says that nothing is masked.
void print_banner(int listening_fd, const char* config_path, TraceMode trace);

}  // namespace palisim
