// Whether the display named by the environment answers. Qt aborts the process
// when its display is gone, so the program asks first: a stale DISPLAY (an old
// SSH session, a container given the variable) then means serving headless.
#pragma once

#include <string>

namespace palisim {

// True when DISPLAY or WAYLAND_DISPLAY names a display that accepts a
// connection. Otherwise `why` says what was tried, as the start of one line.
bool probe_display(std::string& why);

}  // namespace palisim
