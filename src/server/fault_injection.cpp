#include "server/fault_injection.h"

#include <cstdio>
#include <cstring>

namespace palisim {

Injection choose_injection(std::span<const InjectRule> rules, std::span<RuleUse> uses,
                           size_t command, RandomSource& random) {
  for (size_t i = 0; i < rules.size(); ++i) {
    const InjectRule& rule = rules[i];
    if (rule.command != kEveryCommand && static_cast<size_t>(rule.command) != command) continue;
    if (rule.probability <= 0.0 || uses[i].remaining == 0) continue;
    if (rule.probability < 1.0) {
      // The top 53 bits as a double in [0, 1).
      double draw = static_cast<double>(random.draw() >> 11) * 0x1.0p-53;
      if (draw >= rule.probability) continue;
    }
    int64_t jitter = 0;
    if (rule.jitter_ms > 0) {
      jitter = static_cast<int64_t>(random.draw() % (static_cast<uint64_t>(rule.jitter_ms) + 1));
    }
    if (uses[i].remaining > 0) --uses[i].remaining;
    ++uses[i].matched;
    return {&rule, command, rule.latency_ms + jitter};
  }
  return {nullptr, command, 0};
}

void injection_words(const Injection& injection, char (&out)[kInjectionWordsCapacity]) {
  const InjectRule& rule = *injection.rule;
  int n = 0;
  out[0] = '\0';
  if (rule.latency_ms != 0 || rule.jitter_ms != 0) {
    n = std::snprintf(out, sizeof out, "latency %lld ms",
                      static_cast<long long>(injection.delay_ms));
  }
  const char* action = rule.close      ? "close"
                       : rule.approve  ? "approve"
                       : rule.reply[0] ? "reply"
                                       : nullptr;
  if (action) {
    std::snprintf(out + n, sizeof out - static_cast<size_t>(n), "%s%s", n ? ", " : "", action);
  }
}

void write_injected_reply(const Settings& s, const InjectRule& rule, ReplyBuffer& r) {
  r.len = 0;
  r.error = nullptr;
  append_text(r, {rule.reply.data(), strnlen(rule.reply.data(), rule.reply.size())});
  if (!s.opt23) append_text(r, "\r\n");
}

}  // namespace palisim
