// The echo command and requests that dispatch refuses before any handler.
#include "sample_builders.h"

namespace palisim::testing::samples {

void add_echo_requests(std::vector<SampleRequest>& out) {
  add_valid(out, "00_echo", {"00", "hello"}, "00", "<00#000035#hello#>");
  add_valid(out, "00_echo_field", {"00", "hello", "^77"}, "00", "<00#000035#hello#^77#>");
  add_valid(out, "00_surplus_fields", {"00", "a", "b", "c"}, "00", "<00#000035#a#>");

  add_error(out, "00_no_field_1", {"00"}, 4, 2, 300);
  add_error(out, "00_only_echo_field", {"00", "^x"}, 4, 2, 300);
  out.push_back({"00_field_not_ended", "<00#abc>", "", "", 4, 2, 300});
  out.push_back({"dispatch_empty", "<>", "", "", 2, 0, 101});
  out.push_back({"dispatch_no_separator", "<00>", "", "", 2, 0, 101});
  add_error(out, "dispatch_empty_code", {""}, 23, 0, 203);
  add_error(out, "dispatch_unknown_code", {"zz"}, 23, 0, 203);
  add_error(out, "dispatch_code_000", {"000", "x"}, 23, 0, 203);
}

}  // namespace palisim::testing::samples
