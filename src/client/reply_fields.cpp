#include "client/reply_fields.h"

namespace palisim {

const CommandInfo* find_reply_row(std::string_view request_code, std::string_view reply_code) {
  for (const CommandInfo& row : kCommandCatalog) {
    if (same_code(row.code, request_code) && row.reply_code == reply_code) return &row;
  }
  for (const CommandInfo& row : kCommandCatalog) {
    if (row.reply_code == reply_code) return &row;
  }
  return nullptr;
}

}  // namespace palisim
