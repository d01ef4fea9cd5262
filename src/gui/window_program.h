// Palisim002 with a display: the control window, run until it closes or the
// process gets SIGINT or SIGTERM. SIGUSR1 prints the requests served by
// command, as the end of the program does.
#pragma once

#include "app/options.h"

namespace palisim {

// Returns the process exit status.
int run_window_program(int& argc, char** argv, const ProgramOptions& options);

}  // namespace palisim
