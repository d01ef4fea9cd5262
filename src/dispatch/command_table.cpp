#include "dispatch/command_table.h"

#include <array>

#include "commands/handlers.h"

namespace palisim {

namespace {

constexpr std::array kCommands = {
    CommandRow{"00", handle_echo},
    CommandRow{"10", handle_generate_key},
    CommandRow{"11", handle_translate_to_kek},
    CommandRow{"13", handle_translate_from_kek},
    CommandRow{"1a", handle_export_variant},
    CommandRow{"30", handle_encipher_pin},
    CommandRow{"31", handle_translate_pin},
    CommandRow{"32", handle_verify_pin},
    CommandRow{"37", handle_change_pin},
    CommandRow{"5d", handle_generate_cvv},
    CommandRow{"5e", handle_verify_cvv},
    CommandRow{"90", handle_decipher_pin},
    CommandRow{"97", handle_data_cipher},
    CommandRow{"98", handle_generate_mac},
    CommandRow{"99", handle_verify_mac},
    CommandRow{"11b", handle_import_variant},
};

constexpr bool rows_follow_catalogue() {
  if (kCommands.size() != kCommandCount) return false;
  for (size_t i = 0; i < kCommandCount; ++i) {
    if (kCommands[i].code != kCommandCatalog[i].code) return false;
  }
  return true;
}
static_assert(rows_follow_catalogue(), "one handler per catalogue row, in the catalogue's order");

}  // namespace

std::span<const CommandRow> command_table() {
  return kCommands;
}

}  // namespace palisim
