// Every key field of every command with the headers it accepts, read from the
// lists the handlers use, so a tool can say where a key block will be taken.
#pragma once

#include <span>
#include <string_view>

#include "protocol/settings.h"

namespace palisim {

struct KeyFieldRow {
  std::string_view command;  // the code as the protocol guide writes it
  int field;
  std::string_view content;  // what the field holds, in words
  std::string_view usages;   // usage letters of the headers it may accept
  bool (*accepts)(const Settings& s, std::string_view header);
};

std::span<const KeyFieldRow> key_field_table();

}  // namespace palisim
