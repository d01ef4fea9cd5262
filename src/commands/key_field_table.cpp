#include "commands/key_field_table.h"

#include <array>

#include "commands/data_fields.h"
#include "commands/key_management.h"
#include "commands/pin_fields.h"
#include "crypto/header_list.h"
#include "payments/cvv.h"
#include "payments/mac.h"

namespace palisim {

namespace {

template <const std::string_view& kList>
bool in_list(const Settings&, std::string_view header) {
  return header_in_list(header, kList);
}

template <std::string_view (*list)(const Settings&)>
bool in_option_list(const Settings& s, std::string_view header) {
  return header_in_list(header, list(s));
}

bool import_kek(const Settings&, std::string_view header) {
  return is_import_kek_header(header);
}

// With opt66, command 37 without an old PIN block also takes generation keys.
bool change_pin_pvk(const Settings& s, std::string_view header) {
  return header_in_list(header, s.opt66 ? kPvkListWithGeneration : kPvkList);
}

constexpr std::array kRows = {
    KeyFieldRow{"10", 2, "KEK", "KA", in_option_list<generate_kek_headers>},
    KeyFieldRow{"11", 2, "KEK", "KA", in_option_list<translate_kek_headers>},
    KeyFieldRow{"13", 2, "KEK", "KA", in_option_list<translate_kek_headers>},
    KeyFieldRow{"1A", 2, "KEK", "KA", in_option_list<export_kek_headers>},
    KeyFieldRow{"11B", 3, "import KEK", "", import_kek},
    KeyFieldRow{"30", 1, "PIN key", "P", in_list<kEncipherPinKeyList>},
    KeyFieldRow{"31", 2, "incoming PIN key", "P", in_list<kDecipherPinKeyList>},
    KeyFieldRow{"31", 2, "BDK", "d", in_list<kBdkList>},
    KeyFieldRow{"31", 3, "outgoing PIN key", "P", in_list<kEncipherPinKeyList>},
    KeyFieldRow{"32", 4, "PIN key", "P", in_list<kDecipherPinKeyList>},
    KeyFieldRow{"32", 4, "BDK", "d", in_list<kBdkList>},
    KeyFieldRow{"32", 5, "PVK", "V", in_list<kPvkList>},
    KeyFieldRow{"37", 4, "PIN key", "P", in_list<kDecipherPinKeyList>},
    KeyFieldRow{"37", 5, "PVK", "V", change_pin_pvk},
    KeyFieldRow{"90", 3, "PIN key", "P", in_list<kDecipherPinKeyList>},
    KeyFieldRow{"5D", 2, "CVK", "C", in_list<kCardKeyHeaders>},
    KeyFieldRow{"5E", 2, "CVK", "C", in_list<kCardKeyHeaders>},
    KeyFieldRow{"97", 3, "data key", "D", in_list<kDataKeyHeaders>},
    KeyFieldRow{"97", 4, "chaining value", "I", in_list<kChainingValueHeaders>},
    KeyFieldRow{"98", 1, "MAC key", "M", in_list<kMacKeyHeaders>},
    KeyFieldRow{"98", 4, "chaining value", "I", in_list<kChainingValueHeaders>},
    KeyFieldRow{"99", 1, "MAC key", "M", in_list<kMacKeyHeaders>},
    KeyFieldRow{"99", 3, "chaining value", "I", in_list<kChainingValueHeaders>},
};

}  // namespace

std::span<const KeyFieldRow> key_field_table() {
  return kRows;
}

}  // namespace palisim
