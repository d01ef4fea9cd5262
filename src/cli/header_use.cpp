#include "cli/header_use.h"

#include <span>

#include "commands/key_field_table.h"
#include "crypto/key_block.h"

namespace palisim {

namespace {

// "30 (field 1), 31 (fields 2, 3)" for the rows that pass the filter; the
// table keeps each command's rows together.
template <typename Filter>
std::string list_fields(std::span<const KeyFieldRow> rows, Filter pass) {
  std::string out;
  for (size_t i = 0; i < rows.size();) {
    std::string fields;
    int count = 0;
    int last = -1;
    size_t j = i;
    for (; j < rows.size() && rows[j].command == rows[i].command; ++j) {
      if (!pass(rows[j]) || rows[j].field == last) continue;
      fields += (count++ ? ", " : "") + std::to_string(rows[j].field);
      last = rows[j].field;
    }
    if (count > 0) {
      if (!out.empty()) out += ", ";
      out.append(rows[i].command).append(count > 1 ? " (fields " : " (field ") += fields + ")";
    }
    i = j;
  }
  return out;
}

}  // namespace

bool check_header_use(const Settings& s, std::string_view header, std::string& note,
                      std::string& error) {
  if (header.size() != kKeyHeaderLen) {
    error = "HEADER must be 8 characters, such as 1PUNE000";
    return false;
  }
  const std::span<const KeyFieldRow> rows = key_field_table();
  const char usage = header[1];
  auto takes_usage = [usage](const KeyFieldRow& row) {
    return row.usages.find(usage) != std::string_view::npos;
  };
  auto accepts = [&s, header](const KeyFieldRow& row) { return row.accepts(s, header); };
  auto refuses = [&](const KeyFieldRow& row) { return takes_usage(row) && !accepts(row); };

  const std::string h(header);
  if (list_fields(rows, accepts).empty()) {
    const std::string same_usage = list_fields(rows, takes_usage);
    error = same_usage.empty()
                ? "no command takes a key block with header " + h + " (usage letter " + usage + ")"
                : "header " + h + " is refused by every key field of usage " + usage + ": " +
                      same_usage;
    return false;
  }
  const std::string refusing = list_fields(rows, refuses);
  note = refusing.empty() ? "" : "header " + h + " is refused by " + refusing;
  return true;
}

}  // namespace palisim
