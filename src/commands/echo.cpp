// Command 00: echo, which answers with field 1.
#include "commands/handlers.h"

namespace palisim {

void handle_echo(const Settings& s, Fields& f, ReplyBuffer& r) {
  int rule = check_field_count(s, f, r, 2, 2);
  if (rule == kRefused) return;
  begin_success(r, "00");
  append_field(r, "000035");
  append_field(r, f[1]);
  finish_success(s, r, f, rule);
}

}  // namespace palisim
