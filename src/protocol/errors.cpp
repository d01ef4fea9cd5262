#include "protocol/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

namespace palisim {

const ErrorKind* find_error_kind(uint8_t type, int32_t detail) {
  for (const ErrorKind& kind : kErrorKinds) {
    if (kind.type == type && kind.detail == detail) return &kind;
  }
  return nullptr;
}

bool refuse(const Settings& s, ReplyBuffer& r, ErrorId id, int field) {
  const ErrorKind& kind = kErrorKinds[id];
  error_reply(s, r, kind.type, static_cast<uint8_t>(field), kThird, kind.detail);
  r.error = &kind;
  r.note.text[0] = '\0';
  return false;
}

bool refuse_length(const Settings& s, ReplyBuffer& r, int field, size_t came, const char* unit,
                   const char* expected, ...) {
  refuse(s, r, kWrongLength, field);
  std::span<char> note(r.note.text);
  // Units are written in the plural: "1 character", "2 characters".
  const int unit_len = static_cast<int>(std::strlen(unit)) - (came == 1 ? 1 : 0);
  int n = std::snprintf(note.data(), note.size(), "%zu %.*s, ", came, unit_len, unit);
  if (n < 0 || static_cast<size_t>(n) >= note.size()) return false;
  va_list ap;
  va_start(ap, expected);
  std::vsnprintf(note.data() + n, note.size() - static_cast<size_t>(n), expected, ap);
  va_end(ap);
  return false;
}

}  // namespace palisim
