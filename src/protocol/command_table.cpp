#include "protocol/command_table.h"

#include <array>

#include "commands/handlers.h"

namespace palisim {

namespace {

constexpr std::array kCommands = {
    CommandRow{"00", handle_echo},
};

}  // namespace

std::span<const CommandRow> command_table() {
  return kCommands;
}

}  // namespace palisim
