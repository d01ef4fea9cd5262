// What the request trace hides unless asked for everything: clear PINs, the
// clear data of command 97 and the middle digits of account numbers. One row
// per field that carries such a secret.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace palisim {

enum class MessagePart : uint8_t { kRequest, kReply };

enum class MaskKind : uint8_t {
  kPin,             // every decimal digit; a PIN-check letter stays
  kAccount,         // all but the first six and last four (the last four only up to 10 digits)
  kEncipherInput,   // everything, unless field 1 is "D" (the field is then ciphertext)
  kDecipherOutput,  // everything when field 1 is "D"
};

struct TraceMask {
  std::string_view command;  // the request's code, lower case
  MessagePart part;          // the request, or its success reply
  int field;                 // field number, 0 being the code
  MaskKind kind;
};

inline constexpr std::array kTraceMasks = {
    TraceMask{"30", MessagePart::kRequest, 2, MaskKind::kPin},
    TraceMask{"30", MessagePart::kRequest, 3, MaskKind::kAccount},
    TraceMask{"31", MessagePart::kRequest, 5, MaskKind::kAccount},
    TraceMask{"32", MessagePart::kRequest, 9, MaskKind::kAccount},
    TraceMask{"32", MessagePart::kRequest, 10, MaskKind::kAccount},
    TraceMask{"37", MessagePart::kRequest, 9, MaskKind::kAccount},
    TraceMask{"37", MessagePart::kRequest, 11, MaskKind::kAccount},
    TraceMask{"90", MessagePart::kRequest, 4, MaskKind::kAccount},
    TraceMask{"90", MessagePart::kReply, 1, MaskKind::kPin},
    TraceMask{"5d", MessagePart::kRequest, 4, MaskKind::kAccount},
    TraceMask{"5e", MessagePart::kRequest, 4, MaskKind::kAccount},
    TraceMask{"97", MessagePart::kRequest, 7, MaskKind::kEncipherInput},
    TraceMask{"97", MessagePart::kReply, 8, MaskKind::kDecipherOutput},
};

// Overwrites with '*' what the rows of `command` hide in one message, "<...>"
// as it travelled: the request, or the success reply to a request of that
// code. Fields are cut at '#' as the dispatcher cuts them, and text after the
// last '#' counts as one more field, so a request missing its last '#' hides
// the same digits.
void mask_message(std::span<char> message, std::string_view command, MessagePart part);

}  // namespace palisim
