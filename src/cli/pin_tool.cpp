// pin block: the clear ISO 9564 PIN block of a PIN and card, or the block a
// terminal sends under its PIN key.
#include <cstdio>
#include <string>

#include "cli/tool_input.h"
#include "cli/tools.h"
#include "crypto/des.h"
#include "crypto/hex.h"
#include "payments/pin_block.h"

namespace palisim {

int run_pin_tool(const CliOptions& o) {
  std::string error;
  if (o.words.size() != 2 || o.words[1] != "block") return refuse_input("pin takes block");
  if (!check_options_used(o, kOptPin | kOptPan | kOptFormat | kOptKey, "pin block", error)) {
    return refuse_input(error);
  }
  if (!(o.given & kOptPin) || !(o.given & kOptPan)) {
    return refuse_input("pin block needs --pin and --pan");
  }
  if (o.format != "0" && o.format != "3") return refuse_input("--format must be 0 or 3");
  std::string_view account;
  if (!read_pin_argument(o.pin, error) || !read_pan_argument(o.pan, account, error)) {
    return refuse_input(error);
  }
  Key key;
  if ((o.given & kOptKey) && !read_key_argument(o.key, "--key", key, error)) {
    return refuse_input(error);
  }

  Wiped<PinBlock> block;
  uint8_t* b = block.value.data();
  if (o.format == "3") {
    build_pin_block_format3(o.pin, account, b);
  } else {
    build_pin_block(o.pin, account, b);
  }
  if (o.given & kOptKey) encipher_block_by_key_length(key.bytes.data(), key.len, b, b);
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, b, kPinBlockLen);
  std::printf("%s\n", hex);
  return kExitOk;
}

}  // namespace palisim
