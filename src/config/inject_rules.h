// Fault-injection rules: the `inject` sections of an `atalla` section and
// the --inject rules of the command line. A rule makes the requests it takes
// answer late, answer with a set reply, report their verifications as
// passed, or close the connection instead of an answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct cfg_t;

namespace palisim {

// Rules from one source: an `atalla` section, or the command line.
inline constexpr int32_t kMaxInjectRules = 16;
// A rule's reply text and its NUL; longer text is cut, as the file's other texts are.
inline constexpr size_t kInjectReplyCapacity = 128;
// Each of latency_ms and jitter_ms: one hour at most.
inline constexpr int32_t kMaxInjectDelayMs = 3'600'000;
// The command of a rule written "*".
inline constexpr int32_t kEveryCommand = -1;
// A rule's times: how many matching requests it takes at most.
inline constexpr int32_t kMaxInjectTimes = 1'000'000'000;

struct InjectRule {
  int32_t command = kEveryCommand;  // row of the command table, or kEveryCommand
  double probability = 1.0;         // share of the matching requests the rule takes, 0 to 1
  int32_t latency_ms = 0;           // added before the reply leaves
  int32_t jitter_ms = 0;            // plus a uniform draw of 0 to jitter_ms
  std::array<char, kInjectReplyCapacity> reply{};  // sent instead of the real reply; "" for none
  bool close = false;                              // the connection closes instead of answering
  bool approve = false;                            // verification results report a pass
  int32_t times = 0;  // takes this many matching requests, then none; 0 for no limit

  // The handler does not run: the rule answers, or closes.
  bool replaces_reply() const { return close || reply[0] != '\0'; }
  bool operator==(const InjectRule&) const = default;
};

// The rules of one connection, tried in order: the command line's, then the file's.
struct InjectRules {
  std::array<InjectRule, 2 * kMaxInjectRules> rules{};
  int32_t count = 0;

  // False, adding nothing, when the list is full.
  bool add(const InjectRule& rule) {
    if (count == static_cast<int32_t>(rules.size())) return false;
    rules[static_cast<size_t>(count++)] = rule;
    return true;
  }
};

// Adds the `inject` sections of the `atalla` section with that title, in
// the file's order; the checks admit at most kMaxInjectRules of them.
void read_inject_rules(InjectRules& rules, cfg_t* cfg, const char* section_title);

// One command-line rule, "CODE:NAME=VALUE,..." with the names of an inject
// section and the same checks (a NAME alone stands for NAME=true). On a
// refusal returns false with the reason in `error`.
bool parse_inject_rule(std::string_view text, InjectRule& rule, std::string& error);

// One NAME=VALUE of a rule, the value written as on the command line.
struct InjectItem {
  std::string_view name;
  std::string_view value;
  std::string_view text;  // the item as written, for the message when it is not NAME=VALUE
};
// A rule from its command and items, with the checks of an inject section;
// on a refusal returns false with the file's message in `error`.
bool build_inject_rule(std::string_view command, std::span<const InjectItem> items,
                       InjectRule& rule, std::string& error);

}  // namespace palisim
