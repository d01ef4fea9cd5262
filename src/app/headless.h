// Serving without a window until SIGINT or SIGTERM; SIGUSR1 prints the
// requests served by command, as the end of the run does.
#pragma once

#include "app/options.h"

namespace palisim {

// Returns the process exit status: 0 after a signal, 3 when the listener
// could not be set up, 4 when the server ended without being asked to.
int run_headless(const ProgramOptions& options);

}  // namespace palisim
