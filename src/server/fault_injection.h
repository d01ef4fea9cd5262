// Applying a connection's inject rules to one request: which rule takes it,
// drawn from the connection's own random source, the delay before its reply and
// the reply a rule sets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

// What a rule of `times` has left, and how many requests it took.
struct RuleUse {
  int64_t remaining = -1;  // requests it may still take; -1 for no limit
  uint64_t matched = 0;    // requests it took
  void start(const InjectRule& rule) {
    remaining = rule.times != 0 ? rule.times : -1;
    matched = 0;
  }
};

// Tries the rules in order: the first whose command matches the request's
// row, that has times left and whose draw falls within its probability
// takes the request, and its use is counted. Rules of probability 0 or 1
// draw nothing.
Injection choose_injection(std::span<const InjectRule> rules, std::span<RuleUse> uses,
                           size_t command, RandomSource& random);

// What a rule did to a request, in the trace's words: "latency 213 ms" (the
// delay drawn), "reply", "approve", "close", or a delay and an action
// ("latency 5 ms, reply").
inline constexpr size_t kInjectionWordsCapacity = 48;
void injection_words(const Injection& injection, char (&out)[kInjectionWordsCapacity]);

// The rule's reply, ended as the device ends replies: CR LF unless opt23.
void write_injected_reply(const Settings& s, const InjectRule& rule, ReplyBuffer& r);

}  // namespace palisim
