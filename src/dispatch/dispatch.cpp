#include <cstddef>
#include <cstdint>

#include "commands/request_context.h"
#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "protocol/errors.h"

namespace palisim {

size_t dispatch_request(const Settings& s, KeyCache& keys, RandomSource& random, char* text,
                        int32_t text_len, ReplyBuffer& r) {
  Fields f;
  split_request(text, text_len, f);
  return dispatch_fields(s, keys, random, f, r);
}

size_t dispatch_fields(const Settings& s, KeyCache& keys, RandomSource& random, Fields& f,
                       ReplyBuffer& r) {
  r.len = 0;
  r.error = nullptr;
  if (f.count == 0) {
    refuse(s, r, kNoFields, 0);
    return kCommandCount;
  }
  const size_t index = command_row(f[0]);
  if (index == kCommandCount) {
    refuse(s, r, kUnknownCommand, 0);
    return kCommandCount;
  }
  const int min_fields = kCommandCatalog[index].min_fields;
  if (field_count_rule(f, min_fields) == kRefused) {
    refuse(s, r, kTooFewFields, min_fields);
    return index;
  }
  RequestContext context(s, keys, random, f, r);
  command_table()[index].handler(context);
  return index;
}

}  // namespace palisim
