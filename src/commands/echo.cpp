// Command 00: echo, which answers with field 1.
#include "commands/handlers.h"

namespace palisim {

void handle_echo(RequestContext& c) {
  c.begin("00");
  append_field(c.r, "000035");
  append_field(c.r, c[1]);
  c.finish();
}

}  // namespace palisim
