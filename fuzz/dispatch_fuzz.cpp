// dispatch_request over arbitrary bytes. The first two bytes choose the
// connection's options; the rest is the request text.
#include <cstdint>
#include <cstring>

#include "crypto/hex.h"
#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "fuzz_check.h"
#include "server/connection.h"

namespace {

palisim::Settings settings_from(uint8_t a, uint8_t b) {
  palisim::Settings s;
  const char mfk[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
  palisim::hex_to_binary(s.mfk.data(), mfk, 48);
  s.mfk_len = 24;
  s.mfk_present = (a & 0x80) ? 0 : 1;
  s.opt21 = a & 1;
  s.opt23 = (a >> 1) & 1;
  s.opt6c = (a >> 2) & 1;
  s.opt66 = (a >> 3) & 1;
  s.opt88 = (a >> 4) & 1;
  s.opte2 = (a >> 5) & 1;
  s.opte3 = (a >> 6) & 1;
  s.pin_sanity = (b & 1) ? 'L' : 'S';
  s.second_pin = "BDSB"[(b >> 1) & 3];
  s.min_pin_len = static_cast<int8_t>(4 + ((b >> 3) % 9));
  std::strcpy(s.opte0.data(), (b & 0x80) ? "KPdVCIDMA" : "");
  std::strcpy(s.opte1.data(), (b & 0x40) ? "KPdVCIDMA" : "");
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > palisim::kInputCapacity + 2) return 0;
  palisim::Settings s = settings_from(data[0], data[1]);
  char request[palisim::kInputCapacity];
  size_t len = size - 2;
  std::memcpy(request, data + 2, len);
  // Requests reach dispatch from carriage-return lines, so they never hold one.
  for (size_t i = 0; i < len; ++i) {
    if (request[i] == '\r') request[i] = ' ';
  }

  // One byte past the capacity shows whether a reply ever writes beyond it.
  char reply[palisim::kReplyCapacity + 1];
  reply[palisim::kReplyCapacity] = 0x5A;
  palisim::ReplyBuffer r{std::span<char>(reply, palisim::kReplyCapacity), 0};
  palisim::KeyCache keys;
  palisim::dispatch_request(s, keys, request, static_cast<int32_t>(len), r);

  FUZZ_CHECK(reply[palisim::kReplyCapacity] == 0x5A);
  FUZZ_CHECK(r.len > 0 && r.len <= palisim::kReplyCapacity);
  FUZZ_CHECK(reply[0] == '<');
  int32_t end = r.len;
  if (!s.opt23) {
    FUZZ_CHECK(end >= 3 && reply[end - 2] == '\r' && reply[end - 1] == '\n');
    end -= 2;
  }
  FUZZ_CHECK(reply[end - 1] == '>');
  // Exactly one reply: no other '>' and no line end inside it.
  for (int32_t i = 0; i < end - 1; ++i) {
    FUZZ_CHECK(reply[i] != '>' && reply[i] != '\r');
  }
  return 0;
}
