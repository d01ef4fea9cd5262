#include "protocol/errors.h"

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
  return false;
}

}  // namespace palisim
