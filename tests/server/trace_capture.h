// A connection served with the request trace on, for the tests of what the
// trace writes.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sample_configuration.h"
#include "server/command_stats.h"
#include "server/connection.h"
#include "server/request_trace.h"
#include "test_client.h"

namespace palisim::testing {

// The diagnostic lines written while one connection under the sample
// configuration is sent each chunk in turn (each must fit the input buffer;
// replies are dropped) and is then closed. `stats`, when given, counts.
inline std::string served_trace(const std::vector<std::string>& chunks, TraceMode mode,
                                CommandStats* stats = nullptr) {
  const Settings settings = sample_settings();
  auto c = std::make_unique<Connection>();
  auto trace = std::make_unique<RequestTrace>(mode);
  DiagCapture diag;
  RequestObservers observers;
  if (mode != TraceMode::kOff) observers.add(trace.get(), RequestTrace::kNeeds);
  observers.add(stats);
  // No socket: closing the connection then closes nothing.
  c->open(-1, settings, {"127.0.0.1:4000", &observers});
  for (const std::string& chunk : chunks) {
    c->on_received(chunk, 0);
    c->discard_output();
  }
  c->close(CloseCause::kPeerClosed);
  return diag.text();
}

}  // namespace palisim::testing
