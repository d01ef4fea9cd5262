#include "protocol/fields.h"

#include "protocol/errors.h"

namespace palisim {

void split_request(char* text, int32_t text_len, Fields& f) {
  f.count = 0;
  f.visible = 0;
  f.echo = false;
  if (text_len <= 1) return;
  int32_t start = 1;
  for (int32_t pos = 1; pos < text_len && f.count < kMaxFields; ++pos) {
    char c = text[pos];
    if (c == '>') break;
    if (c == '#') {
      text[pos] = '\0';
      f.ptr[f.count] = text + start;
      f.len[f.count] = static_cast<uint16_t>(pos - start);
      ++f.count;
      start = pos + 1;
    }
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
