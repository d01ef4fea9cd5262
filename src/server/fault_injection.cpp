#include "server/fault_injection.h"

#include <cstring>

namespace palisim {

Injection choose_injection(const InjectRules& rules, size_t command, uint64_t& random_state) {
  for (int32_t i = 0; i < rules.count; ++i) {
    const InjectRule& rule = rules.rules[static_cast<size_t>(i)];
    if (rule.command != kEveryCommand && static_cast<size_t>(rule.command) != command) continue;
    if (rule.probability <= 0.0) continue;
    if (rule.probability < 1.0) {
      // The top 53 bits as a double in [0, 1).
      double draw = static_cast<double>(next_random(random_state) >> 11) * 0x1.0p-53;
      if (draw >= rule.probability) continue;
    }
    int64_t jitter = 0;
    if (rule.jitter_ms > 0) {
      jitter = static_cast<int64_t>(next_random(random_state) %
                                    (static_cast<uint64_t>(rule.jitter_ms) + 1));
    }
    return {&rule, command, rule.latency_ms + jitter};
  }
  return {nullptr, command, 0};
}

void write_injected_reply(const Settings& s, const InjectRule& rule, ReplyBuffer& r) {
  r.len = 0;
  r.error = nullptr;
  append_text(r, {rule.reply.data(), strnlen(rule.reply.data(), rule.reply.size())});
  if (!s.opt23) append_text(r, "\r\n");
}

}  // namespace palisim
