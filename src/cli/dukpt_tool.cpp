// dukpt: a terminal's view of ANSI X9.24 DUKPT, through the same derivation
// that commands 31 and 32 decipher with.
#include <cstdio>
#include <string>

#include "cli/tool_input.h"
#include "cli/tools.h"
#include "crypto/hex.h"
#include "payments/dukpt.h"
#include "payments/pin_block.h"

namespace palisim {

namespace {

void print_key(const char* name, const Key& key) {
  char hex[2 * kMaxKeyLen + 1];
  binary_to_hex(hex, key.bytes.data(), static_cast<size_t>(key.len));
  std::printf("%s: %s\n", name, hex);
  secure_zero(hex, sizeof hex);
}

}  // namespace

int run_dukpt_tool(const CliOptions& o) {
  std::string error;
  if (o.words.size() != 1) return refuse_input("dukpt takes options only");
  if (!check_options_used(o, kOptBdk | kOptKsn | kOptSingle | kOptPin | kOptPan, "dukpt", error)) {
    return refuse_input(error);
  }
  if (!(o.given & kOptBdk) || !(o.given & kOptKsn)) {
    return refuse_input("dukpt needs --bdk and --ksn");
  }
  Key bdk;
  if (!read_key_argument(o.bdk, "--bdk", bdk, error)) return refuse_input(error);
  if (o.ksn.size() < kMinKsnHexLen || o.ksn.size() > kMaxKsnHexLen || !all_hex_digits(o.ksn)) {
    return refuse_input("--ksn must be 10 to 20 hex digits");
  }
  const bool with_pin = (o.given & kOptPin) || (o.given & kOptPan);
  std::string_view account;
  if (with_pin && (!(o.given & kOptPin) || !(o.given & kOptPan))) {
    return refuse_input("--pin and --pan go together");
  }
  if (with_pin && (!read_pin_argument(o.pin, error) || !read_pan_argument(o.pan, account, error))) {
    return refuse_input(error);
  }
  Ksn ksn;
  assemble_ksn(o.ksn, ksn);
  const DukptMode mode = o.single ? DukptMode::kSingle : DukptMode::kDouble;
  Key initial, pin_key;
  if (!dukpt_pin_key(mode, ksn, bdk.bytes.data(), bdk.len, pin_key)) {
    return refuse_input("--ksn has a transaction counter of 0, which no transaction uses");
  }
  dukpt_initial_key(mode, ksn, bdk.bytes.data(), bdk.len, initial);
  print_key("initial key", initial);
  print_key("PIN key", pin_key);
  if (!with_pin) return kExitOk;

  Wiped<PinBlock> block;
  build_pin_block(o.pin, account, block.value.data());
  dukpt_encipher_block(pin_key, block.value.data(), block.value.data());
  char hex[kPinBlockHexLen + 1];
  binary_to_hex(hex, block.value.data(), kPinBlockLen);
  std::printf("PIN block: %s\n", hex);
  return kExitOk;
}

}  // namespace palisim
