#include "commands/key_field_rules.h"

#include "commands/key_management.h"
#include "crypto/header_list.h"

namespace palisim {

bool key_field_accepts(const Settings& s, const KeyField& field, std::string_view header) {
  switch (field.rule) {
    case HeaderRule::kList:
      return header_in_list(header, field.headers);
    case HeaderRule::kGenerateKek:
      return header_in_list(header, generate_kek_headers(s));
    case HeaderRule::kTranslateKek:
      return header_in_list(header, translate_kek_headers(s));
    case HeaderRule::kExportKek:
      return header_in_list(header, export_kek_headers(s));
    case HeaderRule::kImportKek:
      return is_import_kek_header(header);
    case HeaderRule::kChangePinPvk:
      // Without an old PIN block, command 37 also takes generation keys under opt66.
      return header_in_list(header, s.opt66 ? kPvkListWithGeneration : field.headers);
  }
  return false;
}

}  // namespace palisim
