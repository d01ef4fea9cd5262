// Serving without a window until SIGINT or SIGTERM; SIGUSR1 prints the
// requests served by command, as the end of the run does; SIGHUP has the next
// connection read the configuration file afresh.
#pragma once

#include "app/options.h"

namespace palisim {

// A configuration file named on the command line or in the environment that
// is missing or refused: nothing is served. A supervisor should not retry.
inline constexpr int kRefusedConfiguration = 2;

// Returns the process exit status: 0 after a signal, 2 for a named file that
// is missing or refused or for what prepare_start refuses (TLS files, the
// metrics address), 3 when the listener could not be set up, 4 when the
// server ended without being asked to.
int run_headless(const ProgramOptions& options);

}  // namespace palisim
