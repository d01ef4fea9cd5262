#include "cli/header_use.h"

#include "commands/key_field_rules.h"
#include "crypto/key_block.h"
#include "protocol/command_catalog.h"

namespace palisim {

namespace {

// "30 (field 1), 31 (fields 2, 3)" for the key fields that pass the filter.
template <typename Filter>
std::string list_fields(Filter pass) {
  std::string out;
  for (const CommandInfo& command : kCommandCatalog) {
    std::string fields;
    int count = 0;
    int last = -1;
    for (const KeyField& key : command.key_fields) {
      if (!pass(key) || key.field == last) continue;
      fields += (count++ ? ", " : "") + std::to_string(key.field);
      last = key.field;
    }
    if (count > 0) {
      if (!out.empty()) out += ", ";
      out.append(written_code(command.code).view()).append(count > 1 ? " (fields " : " (field ") +=
          fields + ")";
    }
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
  const char usage = header[1];
  auto takes_usage = [usage](const KeyField& key) {
    return key.usages.find(usage) != std::string_view::npos;
  };
  auto accepts = [&s, header](const KeyField& key) { return key_field_accepts(s, key, header); };
  auto refuses = [&](const KeyField& key) { return takes_usage(key) && !accepts(key); };

  const std::string h(header);
  if (list_fields(accepts).empty()) {
    const std::string same_usage = list_fields(takes_usage);
    error = same_usage.empty()
                ? "no command takes a key block with header " + h + " (usage letter " + usage + ")"
                : "header " + h + " is refused by every key field of usage " + usage + ": " +
                      same_usage;
    return false;
  }
  const std::string refusing = list_fields(refuses);
  note = refusing.empty() ? "" : "header " + h + " is refused by " + refusing;
  return true;
}

}  // namespace palisim
