// Applying a connection's inject rules to one request: which rule takes it,
// drawn from the connection's own generator, the delay before its reply and
// the reply a rule sets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/inject_rules.h"
#include "crypto/random_source.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// What the rules decided for one request.
struct Injection {
  const InjectRule* rule = nullptr;  // the rule that took the request; null when none did
  size_t command = 0;                // the request's row of the command table, or kCommandCount
  int64_t delay_ms = 0;              // latency_ms plus the jitter drawn
};

// Tries the rules in order: the first whose command matches the request's
// row and whose draw falls within its probability takes the request. Rules
// of probability 0 or 1 draw nothing.
Injection choose_injection(const InjectRules& rules, size_t command, uint64_t& random_state);

// The rule's reply, ended as the device ends replies: CR LF unless opt23.
void write_injected_reply(const Settings& s, const InjectRule& rule, ReplyBuffer& r);

}  // namespace palisim
