#include "protocol/fields.h"

namespace palisim {

void split_request(char* text, int32_t text_len, Fields& f) {
  f.count = 0;
  f.visible = 0;
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

int field_count_rule(Fields& f, int minimum, int /*maximum*/) {
  bool echo = f.count > 0 && f.len[f.count - 1] > 0 && f.ptr[f.count - 1][0] == '^';
  int counted = echo ? f.count - 1 : f.count;
  f.visible = counted;
  if (counted < minimum) return kRefused;
  return echo ? kAcceptedWithEcho : kAccepted;
}

int check_field_count(const Settings& s, Fields& f, ReplyBuffer& r, int minimum, int maximum) {
  int result = field_count_rule(f, minimum, maximum);
  if (result == kRefused) error_reply(s, r, 4, static_cast<uint8_t>(minimum), kThird, 300);
  return result;
}

void append_echo_field(int rule_result, ReplyBuffer& r, const Fields& f) {
  if (rule_result != kAcceptedWithEcho) return;
  append_text(r, {f.ptr[f.count - 1], f.len[f.count - 1]});
  append_separator(r);
}

}  // namespace palisim
