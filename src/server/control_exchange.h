// How the control port changes and reads the inject rules without the
// serving loop ever waiting for it: the control thread edits the list under
// a mutex held only for copies, and bumps a version; the loop, between its
// passes, sees the version move and copies the list in, keeping what the
// rules it already had have used. After a pass in which a rule took a
// request the loop copies the uses out, so a listing is at most one pass old.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "config/inject_rules.h"
#include "server/control_rules.h"

namespace palisim {

// Where a rule came from, in the order rules are tried.
enum class RuleSource : uint8_t { kControl, kCommandLine, kFile };

// One rule as the control port lists it.
struct ListedRule {
  RuleSource source = RuleSource::kControl;
  uint32_t number = 0;  // the control port's id, or the place among the command line's or file's
  InjectRule rule;
  RuleUse use;  // for rules of the command line and file, `remaining` is per connection
};

class ControlExchange {
 public:
  // The control thread's side. False when kMaxControlRules are in place.
  bool add(const InjectRule& rule, ListedRule& added);
  bool remove(uint32_t id);  // false when no control rule has the id
  void remove_all();
  // Every rule in the order tried: the control port's, the command line's, the file's.
  std::vector<ListedRule> list() const;

  // The loop's side. Copies the list in when it changed since the last copy.
  void take(ControlRules& rules);
  // Copies out what the rules used, and the command line's and file's rules
  // that new connections get (`command_line` of them come first).
  void publish(const ControlRules& rules, const InjectRules& base, int32_t command_line);

 private:
  mutable std::mutex mutex_;
  std::atomic<uint64_t> version_{0};  // moves on every change of the list
  uint64_t taken_ = 0;                // the version the loop copied last; the loop's own
  ControlRules rules_;                // the list, with the uses published last
  InjectRules base_;
  int32_t command_line_ = 0;
  uint32_t next_id_ = 1;
};

}  // namespace palisim
