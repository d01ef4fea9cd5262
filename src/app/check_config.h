// Palisim002 --check-config: the configuration file parsed as the server
// parses it, its problems and what it would serve, without serving.
#pragma once

#include "app/options.h"

namespace palisim {

// Prints each problem as "PATH:LINE: message", then one summary line, to
// standard output. Returns 0 when the file would load, 2 when not.
int check_configuration(const ProgramOptions& options);

}  // namespace palisim
