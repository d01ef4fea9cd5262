// The inject rules the control port adds while the server runs, as the
// serving loop holds them: tried before every connection's own rules, from
// the next request of every connection, with what each rule has used.
#pragma once

#include <array>
#include <cstdint>

#include "config/inject_rules.h"
#include "server/fault_injection.h"

namespace palisim {

inline constexpr int32_t kMaxControlRules = 64;
// The command line's rules and a section's, as one connection holds them.
inline constexpr size_t kMaxBaseRules = 2 * kMaxInjectRules;

struct ControlRules {
  std::array<InjectRule, kMaxControlRules> rules{};
  std::array<RuleUse, kMaxControlRules> uses{};
  std::array<uint32_t, kMaxControlRules> ids{};  // the control port's numbers for them
  int32_t count = 0;
  // Requests each rule of the command line and the file took, on every
  // connection, by its place among them.
  std::array<uint64_t, kMaxBaseRules> base_matched{};
  bool used = false;  // a rule took a request since the loop last published
};

}  // namespace palisim
