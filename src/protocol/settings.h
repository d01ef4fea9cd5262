// The simulated device's state as one connection sees it: MFK, pending MFK,
// the numbered option flags and the PIN and key-usage options.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace palisim {

struct Settings {
  std::array<uint8_t, 24> mfk{};   // master file key; bytes past mfk_len are 0
  int32_t mfk_len = 0;             // 0 (none), 8, 16 or 24
  uint8_t mfk_present = 0;         // 1 when an MFK was loaded
  std::array<uint8_t, 24> pmfk{};  // pending master file key; no command reads it
  uint8_t pmfk_present = 0;        // 1 when a pending MFK was loaded

  // Device option flags, 0 = off, 1 = on, in the order the file fills them;
  // kOptionFlags below names them and marks those no command reads.
  uint8_t opt20 = 0;
  uint8_t opt21 = 0;  // error replies carry the four-digit detail
  uint8_t opt23 = 0;  // replies end at '>' without CR LF
  uint8_t opt27 = 0;
  uint8_t opt44 = 0;
  uint8_t opt60 = 0;
  uint8_t opt61 = 0;
  uint8_t opt62 = 1;
  uint8_t opt63 = 1;
  uint8_t opt64 = 0;
  uint8_t opt66 = 0;  // command 37 accepts an empty old PIN block
  uint8_t opt68 = 0;
  uint8_t opt69 = 0;
  uint8_t opt6b = 0;
  uint8_t opt6c = 0;  // single-length keys allowed where callers refuse them
  uint8_t opt6e = 0;
  uint8_t opt6f = 0;
  uint8_t opt88 = 0;  // six-digit key check values
  uint8_t opt8a = 0;
  uint8_t opt8b = 0;
  uint8_t opt8c = 0;
  uint8_t opt8e = 0;

  int8_t min_pin_len = 4;        // shortest PIN command 30 accepts
  char pin_sanity = 'S';         // 'S' or 'L': PIN fault character for a length fault
  char second_pin = 'S';         // 'B', 'D' or 'S': DUKPT mode
  std::array<char, 32> opte0{};  // usage letters command 13 accepts, NUL-terminated
  std::array<char, 32> opte1{};  // usage letters commands 11 and 1A accept
  uint8_t opte2 = 0;             // widens key-encrypting-key header lists
  uint8_t opte3 = 0;             // widens key-encrypting-key header lists
  uint8_t opte4 = 0;             // no command reads it
};

// Whether a command reads an option. Options no command reads are still
// loaded and kept, since the file format names them all.
enum class OptionUse : uint8_t { kRead, kStoredOnly };

// The 22 option flags by their configuration names, in filling order, with
// the value both a fresh record and a file section without the key hold.
struct OptionFlag {
  std::string_view name;  // a literal, so data() is NUL-terminated
  uint8_t Settings::*member;
  uint8_t default_value;
  OptionUse use;
};
inline constexpr std::array<OptionFlag, 22> kOptionFlags = {{
    {"opt20", &Settings::opt20, 0, OptionUse::kStoredOnly},
    {"opt21", &Settings::opt21, 0, OptionUse::kRead},
    {"opt23", &Settings::opt23, 0, OptionUse::kRead},
    {"opt27", &Settings::opt27, 0, OptionUse::kStoredOnly},
    {"opt44", &Settings::opt44, 0, OptionUse::kStoredOnly},
    {"opt60", &Settings::opt60, 0, OptionUse::kStoredOnly},
    {"opt61", &Settings::opt61, 0, OptionUse::kStoredOnly},
    {"opt62", &Settings::opt62, 1, OptionUse::kStoredOnly},
    {"opt63", &Settings::opt63, 1, OptionUse::kStoredOnly},
    {"opt64", &Settings::opt64, 0, OptionUse::kStoredOnly},
    {"opt66", &Settings::opt66, 0, OptionUse::kRead},
    {"opt68", &Settings::opt68, 0, OptionUse::kStoredOnly},
    {"opt69", &Settings::opt69, 0, OptionUse::kStoredOnly},
    {"opt6b", &Settings::opt6b, 0, OptionUse::kStoredOnly},
    {"opt6c", &Settings::opt6c, 0, OptionUse::kRead},
    {"opt6e", &Settings::opt6e, 0, OptionUse::kStoredOnly},
    {"opt6f", &Settings::opt6f, 0, OptionUse::kStoredOnly},
    {"opt88", &Settings::opt88, 0, OptionUse::kRead},
    {"opt8a", &Settings::opt8a, 0, OptionUse::kStoredOnly},
    {"opt8b", &Settings::opt8b, 0, OptionUse::kStoredOnly},
    {"opt8c", &Settings::opt8c, 0, OptionUse::kStoredOnly},
    {"opt8e", &Settings::opt8e, 0, OptionUse::kStoredOnly},
}};

// The record's initializers above agree with the table, or the build fails.
static_assert([] {
  Settings fresh;
  for (const OptionFlag& flag : kOptionFlags) {
    if (fresh.*flag.member != flag.default_value) return false;
  }
  return true;
}());

void apply_default_settings(Settings& s);

// Wipes the key material of a record that goes out of use.
void wipe_settings(Settings& s);

}  // namespace palisim
