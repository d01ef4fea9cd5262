// What the stress client prints about a run.
#pragma once

#include <chrono>
#include <cstdint>

#include "stress/pacing.h"
#include "stress/run_parameters.h"

namespace palisim::stress {

void print_start_line(const RunParameters& params);

// Seconds per command and commands per second; a count of 0 gives 0 for both.
void print_figures(std::chrono::steady_clock::duration elapsed, uint32_t count);

// Says after how many replies (or commands) a run that did not complete
// stopped, and for a time-out, after how long.
void print_stop(const RunOutcome& outcome, uint32_t count, double timeout_s);

}  // namespace palisim::stress
