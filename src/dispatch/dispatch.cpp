#include <cstddef>
#include <cstdint>

#include "commands/request_context.h"
#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "protocol/errors.h"

namespace palisim {

namespace {

bool code_matches(std::string_view field, std::string_view code) {
  if (field.size() != code.size()) return false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = field[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != code[i]) return false;
  }
  return true;
}

const CommandRow* find_command(std::string_view code) {
  for (const CommandRow& row : command_table()) {
    if (code_matches(code, row.code)) return &row;
  }
  return nullptr;
}

}  // namespace

size_t command_row(std::string_view code) {
  const CommandRow* row = find_command(code);
  return row ? static_cast<size_t>(row - command_table().data()) : kCommandCount;
}

size_t command_of_request(std::string_view request) {
  std::string_view fields = request.substr(1);
  fields = fields.substr(0, fields.find('>'));
  size_t end = fields.find('#');
  return end == std::string_view::npos ? kCommandCount : command_row(fields.substr(0, end));
}

size_t dispatch_request(const Settings& s, KeyCache& keys, char* text, int32_t text_len,
                        ReplyBuffer& r) {
  r.len = 0;
  r.error = nullptr;
  Fields f;
  split_request(text, text_len, f);
  if (f.count == 0) {
    refuse(s, r, kNoFields, 0);
    return kCommandCount;
  }
  const CommandRow* row = find_command({f.ptr[0], f.len[0]});
  if (row == nullptr) {
    refuse(s, r, kUnknownCommand, 0);
    return kCommandCount;
  }
  auto index = static_cast<size_t>(row - command_table().data());
  if (field_count_rule(f, row->min_fields) == kRefused) {
    refuse(s, r, kTooFewFields, row->min_fields);
    return index;
  }
  RequestContext context(s, keys, f, r);
  row->handler(context);
  return index;
}

size_t dispatch_request(const Settings& s, char* text, int32_t text_len, ReplyBuffer& r) {
  KeyCache keys;
  return dispatch_request(s, keys, text, text_len, r);
}

}  // namespace palisim
