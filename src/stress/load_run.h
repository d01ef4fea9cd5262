// The load mode: many connections from one thread on epoll, each keeping
// up to a pipeline depth of requests in flight, unpaced or at a constant
// rate, for a count of requests or a duration.
#pragma once

#include <netinet/in.h>

#include "stress/link.h"
#include "stress/load_figures.h"
#include "stress/request_mix.h"
#include "stress/run_parameters.h"

namespace palisim::stress {

// Connects (over TLS with tls), runs and counts; prints nothing.
LoadFigures run_load(const RunParameters& params, const RequestMix& mix, in_addr address,
                     const TlsContext* tls);

}  // namespace palisim::stress
