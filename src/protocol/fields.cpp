#include "protocol/fields.h"

#include <cstring>

#include "protocol/errors.h"

namespace palisim {

void split_request(char* text, int32_t text_len, Fields& f) {
  f.count = 0;
  f.visible = 0;
  f.echo = false;
  if (text_len <= 1) return;
  // Fields end at '#'; the first '>' ends the request. memchr finds both a
  // long field's end faster than a loop over its characters.
  char* end = static_cast<char*>(std::memchr(text + 1, '>', static_cast<size_t>(text_len - 1)));
  if (end == nullptr) end = text + text_len;
  char* start = text + 1;
  while (f.count < kMaxFields) {
    auto* hash = static_cast<char*>(std::memchr(start, '#', static_cast<size_t>(end - start)));
    if (hash == nullptr) break;
    *hash = '\0';
    f.ptr[f.count] = start;
    f.len[f.count] = static_cast<uint16_t>(hash - start);
    ++f.count;
    start = hash + 1;
  }
  f.visible = f.count;
}

int field_count_rule(Fields& f, int minimum) {
  f.echo = f.count > 0 && f.len[f.count - 1] > 0 && f.ptr[f.count - 1][0] == '^';
  f.visible = f.echo ? f.count - 1 : f.count;
  if (f.visible < minimum) return kRefused;
  return f.echo ? kAcceptedWithEcho : kAccepted;
}

bool check_field_count(const Settings& s, const Fields& f, ReplyBuffer& r, int minimum) {
  if (f.visible < minimum) return refuse(s, r, kTooFewFields, minimum);
  return true;
}

void append_echo_field(ReplyBuffer& r, const Fields& f) {
  if (!f.echo) return;
  append_text(r, {f.ptr[f.count - 1], f.len[f.count - 1]});
  append_separator(r);
}

}  // namespace palisim
