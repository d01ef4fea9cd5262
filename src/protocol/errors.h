// Every way a request is refused: the error type and detail code that its
// reply carries, and a short text that names it. The error table of
// docs/protocol.md lists the same rows (a test compares the two).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// Indexes kErrorKinds.
enum ErrorId : uint8_t {
  kWrongLength,
  kNoFields,
  kBadCharacter,
  kValueNotAccepted,
  kValueRefused,
  kTooFewFields,
  kKeyLengthNotAccepted,
  kNoMfk,
  kHeaderNotAccepted,
  kKeyBlockCheck,
  kKeyTooLong,
  kUnknownCommand,
  kErrorKindCount,
};

struct ErrorKind {
  ErrorId id;
  uint8_t type;           // TT of the error reply
  int32_t detail;         // DDDD, sent with opt21
  std::string_view text;  // what went wrong, in words
};

inline constexpr std::array<ErrorKind, kErrorKindCount> kErrorKinds = {{
    {kWrongLength, 1, 3, "wrong length"},
    {kNoFields, 2, 101, "no fields"},
    {kBadCharacter, 2, 102, "character outside the field's set"},
    {kValueNotAccepted, 3, 200, "value not accepted"},
    {kValueRefused, 3, 203, "value refused"},
    {kTooFewFields, 4, 300, "too few fields"},
    {kKeyLengthNotAccepted, 6, 209, "key length not accepted"},
    {kNoMfk, 6, 602, "no MFK loaded"},
    {kHeaderNotAccepted, 6, 620, "key block header not accepted"},
    {kKeyBlockCheck, 6, 622, "key block check failed"},
    {kKeyTooLong, 7, 3, "key too long for its wrapping key"},
    {kUnknownCommand, 23, 203, "unknown command"},
}};

constexpr bool each_error_at_its_index() {
  for (size_t i = 0; i < kErrorKinds.size(); ++i) {
    if (static_cast<size_t>(kErrorKinds[i].id) != i) return false;
  }
  return true;
}
static_assert(each_error_at_its_index());

// The row with this type and detail, or nullptr.
const ErrorKind* find_error_kind(uint8_t type, int32_t detail);

// Writes the error reply of `id` against `field` and records the error in r,
// then returns false, so that a check can end with `return refuse(...)`.
bool refuse(const Settings& s, ReplyBuffer& r, ErrorId id, int field);

// refuse() with kWrongLength, noting for the trace the field's length in
// `unit` (plural) and, printf-style, what was expected:
//   refuse_length(s, r, 7, text.size(), "hex digits", "the length field says %d", chars)
// notes "28 hex digits, the length field says 32".
bool refuse_length(const Settings& s, ReplyBuffer& r, int field, size_t came, const char* unit,
                   const char* expected, ...) __attribute__((format(printf, 6, 7)));

}  // namespace palisim
