// Palisim002 from its command line to its exit status: the control window
// when the build has one and a display answers, else headless serving.
#pragma once

#include "app/display_probe.h"
#include "app/options.h"

namespace palisim {

// The windowed program, supplied by a build with the control window.
using WindowProgram = int (*)(int& argc, char** argv, const ProgramOptions& options);

// `window` is null in a build without the control window; `greet`, when
// given, completes the X11 connection set-up before the window is tried.
int run_program(int argc, char** argv, WindowProgram window, X11Greeting greet = nullptr);

}  // namespace palisim
