// A connection served with the request trace on, for the tests of what the
// trace writes.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sample_configuration.h"
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
  auto table = std::make_unique<ConnectionTable>();
  auto trace = std::make_unique<RequestTrace>(mode);
  DiagCapture diag;
  // No socket: closing the slot then closes nothing.
  Connection* c = open_connection_slot(*table, -1, settings);
  c->trace = mode == TraceMode::kOff ? nullptr : trace.get();
  c->stats = stats;
  std::snprintf(c->peer, sizeof c->peer, "127.0.0.1:4000");
  for (const std::string& chunk : chunks) {
    std::copy(chunk.begin(), chunk.end(), c->bufs->input + c->in_len);
    c->in_len += static_cast<int32_t>(chunk.size());
    process_input_lines(*c);
    c->out_start = c->out_len = 0;
  }
  close_connection_slot(*c);
  return diag.text();
}

}  // namespace palisim::testing
