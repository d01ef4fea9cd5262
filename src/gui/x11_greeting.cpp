#include "gui/x11_greeting.h"

#include <xcb/xcb.h>

namespace palisim {

bool greet_x11(const char* display) {
  xcb_connection_t* connection = xcb_connect(display, nullptr);
  bool answered = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answered;
}

}  // namespace palisim
