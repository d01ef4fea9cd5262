// Command 00: echo, which answers with field 1.
#include "commands/handlers.h"

namespace palisim {

void handle_echo(const Settings& s, KeyCache&, const Fields& f, ReplyBuffer& r) {
  begin_success(r, "00");
  append_field(r, "000035");
  append_field(r, f[1]);
  finish_success(s, r, f);
}

}  // namespace palisim
