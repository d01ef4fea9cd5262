#include "server/control_exchange.h"

#include <algorithm>

namespace palisim {

bool ControlExchange::add(const InjectRule& rule, ListedRule& added) {
  std::lock_guard lock(mutex_);
  if (rules_.count == kMaxControlRules) return false;
  const auto at = static_cast<size_t>(rules_.count++);
  rules_.rules[at] = rule;
  rules_.uses[at].start(rule);
  rules_.ids[at] = next_id_++;
  added = {RuleSource::kControl, rules_.ids[at], rule, rules_.uses[at]};
  version_.fetch_add(1, std::memory_order_release);
  return true;
}

bool ControlExchange::remove(uint32_t id) {
  std::lock_guard lock(mutex_);
  const auto end = rules_.ids.begin() + rules_.count;
  const auto found = std::find(rules_.ids.begin(), end, id);
  if (found == end) return false;
  const auto at = found - rules_.ids.begin();
  // The rules after it move up, keeping the order they are tried in.
  std::move(rules_.rules.begin() + at + 1, rules_.rules.begin() + rules_.count,
            rules_.rules.begin() + at);
  std::move(rules_.uses.begin() + at + 1, rules_.uses.begin() + rules_.count,
            rules_.uses.begin() + at);
  std::move(found + 1, end, found);
  --rules_.count;
  version_.fetch_add(1, std::memory_order_release);
  return true;
}

void ControlExchange::remove_all() {
  std::lock_guard lock(mutex_);
  rules_.count = 0;
  version_.fetch_add(1, std::memory_order_release);
}

std::vector<ListedRule> ControlExchange::list() const {
  std::lock_guard lock(mutex_);
  std::vector<ListedRule> out;
  for (int32_t i = 0; i < rules_.count; ++i) {
    const auto at = static_cast<size_t>(i);
    out.push_back({RuleSource::kControl, rules_.ids[at], rules_.rules[at], rules_.uses[at]});
  }
  for (int32_t i = 0; i < base_.count; ++i) {
    const auto at = static_cast<size_t>(i);
    const bool command_line = i < command_line_;
    RuleUse use;
    use.start(base_.rules[at]);
    use.matched = rules_.base_matched[at];
    out.push_back({command_line ? RuleSource::kCommandLine : RuleSource::kFile,
                   static_cast<uint32_t>(command_line ? i + 1 : i - command_line_ + 1),
                   base_.rules[at], use});
  }
  return out;
}

void ControlExchange::take(ControlRules& rules) {
  // One relaxed load per pass while nothing changes.
  if (version_.load(std::memory_order_acquire) == taken_) return;
  std::lock_guard lock(mutex_);
  taken_ = version_.load(std::memory_order_relaxed);
  ControlRules next = rules_;
  // A rule the loop already had keeps what it used meanwhile.
  for (int32_t i = 0; i < next.count; ++i) {
    const auto at = static_cast<size_t>(i);
    const auto end = rules.ids.begin() + rules.count;
    const auto had = std::find(rules.ids.begin(), end, next.ids[at]);
    if (had != end) next.uses[at] = rules.uses[static_cast<size_t>(had - rules.ids.begin())];
  }
  next.base_matched = rules.base_matched;
  next.used = rules.used;
  rules = next;
}

void ControlExchange::publish(const ControlRules& rules, const InjectRules& base,
                              int32_t command_line) {
  std::lock_guard lock(mutex_);
  // Only the rules still listed: one removed meanwhile stays removed.
  for (int32_t i = 0; i < rules.count; ++i) {
    const auto at = static_cast<size_t>(i);
    const auto end = rules_.ids.begin() + rules_.count;
    const auto listed = std::find(rules_.ids.begin(), end, rules.ids[at]);
    if (listed != end)
      rules_.uses[static_cast<size_t>(listed - rules_.ids.begin())] = rules.uses[at];
  }
  rules_.base_matched = rules.base_matched;
  base_ = base;
  command_line_ = command_line;
}

}  // namespace palisim
