#include "dispatch/command_table.h"

#include <array>

#include "commands/handlers.h"

namespace palisim {

namespace {

// The minimum is the count every request of the command needs; commands 31
// and 32 ask for more once field 1 or 2 has chosen DUKPT.
constexpr std::array kCommands = {
    CommandRow{"00", 2, handle_echo},
    CommandRow{"10", 2, handle_generate_key},
    CommandRow{"11", 4, handle_translate_to_kek},
    CommandRow{"13", 4, handle_translate_from_kek},
    CommandRow{"1a", 4, handle_export_variant},
    CommandRow{"30", 4, handle_encipher_pin},
    CommandRow{"31", 6, handle_translate_pin},
    CommandRow{"32", 11, handle_verify_pin},
    CommandRow{"37", 12, handle_change_pin},
    CommandRow{"5d", 5, handle_generate_cvv},
    CommandRow{"5e", 6, handle_verify_cvv},
    CommandRow{"90", 5, handle_decipher_pin},
    CommandRow{"97", 8, handle_data_cipher},
    CommandRow{"98", 8, handle_generate_mac},
    CommandRow{"99", 9, handle_verify_mac},
    CommandRow{"11b", 4, handle_import_variant},
};
static_assert(kCommands.size() == 16, "the sixteen host commands, one row each");

static_assert(kCommands.size() == kCommandCount);

}  // namespace

std::span<const CommandRow> command_table() {
  return kCommands;
}

}  // namespace palisim
