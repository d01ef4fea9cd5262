// The clock that times requests, in nanoseconds on the steady clock's scale.
#pragma once

#include <cstdint>

namespace palisim {

// Where the kernel keeps time by the processor's time-stamp counter, the
// counter is read directly and scaled to the steady clock, which it is
// checked against every second: clock_gettime orders its reading of the
// counter with a fence that waits for every instruction before it, and
// that stall, once per request, costs cipher-heavy requests a few per cent.
// Elsewhere, and until the scale is known, it is the steady clock.
int64_t request_clock_ns();

}  // namespace palisim
