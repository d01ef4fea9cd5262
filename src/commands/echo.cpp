// Command 00: echo, which answers with field 1.
#include "commands/handlers.h"

namespace palisim {

void handle_echo(RequestContext& c) {
  c.begin("00");
  append_field(c.reply, "000035");
  append_field(c.reply, c[1]);
  c.finish();
}

}  // namespace palisim
