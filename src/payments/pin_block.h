// ISO 9564 PIN blocks: formats 0 and 3 built and taken apart, and the
// character by which a command reports a PIN that fails its check.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace palisim {

inline constexpr int kPinBlockLen = 8;
inline constexpr int kPinBlockHexLen = 16;
inline constexpr size_t kAccountLen = 12;  // account digits of the account field
inline constexpr int kMinPinLen = 4;
inline constexpr int kMaxBuiltPinLen = 12;      // longest PIN command 30 puts in a block
inline constexpr int kMaxExtractedPinLen = 14;  // longest PIN a received block may hold

using PinBlock = std::array<uint8_t, kPinBlockLen>;

// The outcome of extract_pin, in the order its tests run.
enum PinCheckResult : int {
  kPinValid = 0,
  kPinBadFormat = 1,   // format nibble neither 0 nor 3
  kPinBadLength = 2,   // length nibble outside 4 to 14
  kPinBadPadding = 3,  // format 0 padding nibble other than F
  kPinBadDigit = 4,    // a PIN nibble above 9
};

// A PIN taken out of a block: its digits, a NUL, and its length.
struct PinText {
  std::array<char, kMaxExtractedPinLen + 1> digits{};
  int len = 0;
  std::string_view view() const { return {digits.data(), static_cast<size_t>(len)}; }
};

// Nibble 2i is the high half of byte i, nibble 2i+1 its low half.
uint8_t get_nibble(const uint8_t block[8], int index);
void set_nibble(uint8_t block[8], int index, uint8_t value);

void xor_block(uint8_t out[8], const uint8_t a[8], const uint8_t b[8]);

// Format 0 clear block of a PIN of 4 to 12 decimal digits and a 12-digit
// account text; the caller has checked both.
void build_pin_block(std::string_view pin, std::string_view account, uint8_t out[8]);

// Format 3: as format 0, with format nibble 3 and the padding nibbles drawn
// at random from A to F.
void build_pin_block_format3(std::string_view pin, std::string_view account, uint8_t out[8]);

// Checks a clear block against the 12-digit account text. The PIN text is
// written for kPinValid and kPinBadDigit only.
PinCheckResult extract_pin(const uint8_t clear[8], std::string_view account, PinText& pin);

// The character that reports a failed check: length_fault (the device's
// opta1, 'S' or 'L') for a bad length, 'S' for every other fault.
char pin_fault_character(PinCheckResult result, char length_fault);

}  // namespace palisim
