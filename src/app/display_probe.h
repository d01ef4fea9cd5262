// Whether the display named by the environment answers. Qt aborts the process
// when its display is gone or refuses it, and waits without end for one that
// never answers, so the program asks first: a stale DISPLAY (an old SSH
// session, a container given the variable) then means serving headless.
#pragma once

#include <string>

namespace palisim {

// Completes the X11 connection set-up with `display`; false when refused.
// Supplied by a build with an X library; it may block, and may write the
// server's reason to standard error.
using X11Greeting = bool (*)(const char* display);

// True when DISPLAY or WAYLAND_DISPLAY names a display that accepts a
// connection and, with `greet` given, an X server there completes the
// connection set-up within 2 seconds. Otherwise `why` says what was tried,
// as the start of one line.
bool probe_display(std::string& why, X11Greeting greet = nullptr);

}  // namespace palisim
