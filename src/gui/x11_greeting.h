// The X11 connection set-up, done by the X library as Qt would do it.
#pragma once

namespace palisim {

// True when the X server of `display` completes the connection set-up with
// this client's authorization. A refusal's reason goes to standard error.
// Blocks for as long as the server takes: the caller bounds it.
bool greet_x11(const char* display);

}  // namespace palisim
