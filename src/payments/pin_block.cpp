#include "payments/pin_block.h"

#include <cstring>

#include "crypto/random.h"
#include "crypto/secure_zero.h"

namespace palisim {

namespace {

constexpr uint8_t kFormat0 = 0;
constexpr uint8_t kFormat3 = 3;
constexpr uint8_t kFiller = 0xF;

// Nibbles 0 to 3 zero, nibbles 4 to 15 the 12 account digits.
void build_account_field(std::string_view account, uint8_t out[8]) {
  std::memset(out, 0, kPinBlockLen);
  for (size_t i = 0; i < kAccountLen; ++i)
    set_nibble(out, static_cast<int>(4 + i), static_cast<uint8_t>(account[i] - '0'));
}

}  // namespace

uint8_t get_nibble(const uint8_t block[8], int index) {
  uint8_t byte = block[index / 2];
  return (index % 2 == 0) ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 0x0F);
}

void set_nibble(uint8_t block[8], int index, uint8_t value) {
  uint8_t& byte = block[index / 2];
  if (index % 2 == 0) {
    byte = static_cast<uint8_t>((byte & 0x0F) | (value << 4));
  } else {
    byte = static_cast<uint8_t>((byte & 0xF0) | (value & 0x0F));
  }
}

void xor_block(uint8_t out[8], const uint8_t a[8], const uint8_t b[8]) {
  for (int i = 0; i < kPinBlockLen; ++i)
    out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

void build_pin_block(std::string_view pin, std::string_view account, uint8_t out[8]) {
  Wiped<PinBlock> pin_field;
  uint8_t* p = pin_field.value.data();
  std::memset(p, 0xFF, kPinBlockLen);
  p[0] = static_cast<uint8_t>(pin.size());  // format 0 in nibble 0, the length in nibble 1
  for (size_t i = 0; i < pin.size(); ++i)
    set_nibble(p, static_cast<int>(2 + i), static_cast<uint8_t>(pin[i] - '0'));
  PinBlock account_field;
  build_account_field(account, account_field.data());
  xor_block(out, p, account_field.data());
}

void build_pin_block_format3(std::string_view pin, std::string_view account, uint8_t out[8]) {
  constexpr uint8_t kFirstFill = 0xA;
  constexpr uint8_t kFillValues = 6;  // A to F
  build_pin_block(pin, account, out);
  // The block is the PIN field XOR the account field, so a changed PIN field
  // nibble changes the block's nibble by the same XOR.
  set_nibble(out, 0, static_cast<uint8_t>(get_nibble(out, 0) ^ kFormat3));
  Wiped<PinBlock> draw;
  random_block(draw.value.data());
  for (int i = 2 + static_cast<int>(pin.size()); i < 2 * kPinBlockLen; ++i) {
    const auto fill =
        static_cast<uint8_t>(kFirstFill + get_nibble(draw.value.data(), i) % kFillValues);
    set_nibble(out, i, static_cast<uint8_t>(get_nibble(out, i) ^ kFiller ^ fill));
  }
}

PinCheckResult extract_pin(const uint8_t clear[8], std::string_view account, PinText& pin) {
  PinBlock account_field;
  build_account_field(account, account_field.data());
  Wiped<PinBlock> pin_field;
  uint8_t* p = pin_field.value.data();
  xor_block(p, clear, account_field.data());

  const uint8_t format = get_nibble(p, 0);
  if (format != kFormat0 && format != kFormat3) return kPinBadFormat;
  const int n = get_nibble(p, 1);
  if (n < kMinPinLen || n > kMaxExtractedPinLen) return kPinBadLength;
  // Format 3 pads with random nibbles, so only format 0 padding means anything.
  if (format == kFormat0) {
    bool padding_ok = true;
    for (int i = n + 2; i < 2 * kPinBlockLen; ++i)
      padding_ok &= get_nibble(p, i) == kFiller;
    if (!padding_ok) return kPinBadPadding;
  }
  bool digits_ok = true;
  for (int i = 0; i < n; ++i) {
    const uint8_t digit = get_nibble(p, 2 + i);
    pin.digits[i] = static_cast<char>('0' + digit);
    digits_ok &= digit <= 9;
  }
  pin.digits[n] = '\0';
  pin.len = n;
  return digits_ok ? kPinValid : kPinBadDigit;
}

char pin_fault_character(PinCheckResult result, char length_fault) {
  return result == kPinBadLength ? length_fault : 'S';
}

}  // namespace palisim
