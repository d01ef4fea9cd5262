// What a handler works with: the connection's settings and key cache, the
// request's fields and the reply being written, and the readers of the field
// kinds that several commands share. Each reader writes the command's error
// reply and returns false (a key reader: null) on failure, so a handler reads
// as a checklist:
//   const ReadyKey* key = c.key_field(2, kCardKeyHeaders);
//   if (key == nullptr || !c.decimal_field(4, 1, kMaxCardDataLen)) return;
// It only refers to what the dispatcher holds for the request: nothing is
// copied or allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "commands/field_checks.h"
#include "commands/key_block_field.h"
#include "crypto/key_cache.h"
#include "protocol/errors.h"
#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

class RequestContext {
 public:
  RequestContext(const Settings& settings, KeyCache& keys, const Fields& fields, ReplyBuffer& reply)
      : settings(settings), keys(keys), fields(fields), reply(reply) {}
  RequestContext(const RequestContext&) = delete;
  RequestContext& operator=(const RequestContext&) = delete;

  const Settings& settings;  // the connection's device state
  KeyCache& keys;            // the keys its requests opened
  const Fields& fields;      // the request, cut at '#'; field 0 is the command code
  ReplyBuffer& reply;        // where the reply is written

  std::string_view operator[](int n) const { return fields[n]; }

  // Field n as a key block with a header in `headers` (empty: any), opened
  // under the MFK. A single-length key is refused unless opt6c is on or
  // refuse_single_length is false.
  const ReadyKey* key_field(int n, std::string_view headers, bool refuse_single_length = true) {
    const ReadyKey* key = nullptr;
    return read_key_block_field(fields[n], n, headers, settings, keys, reply, key,
                                refuse_single_length)
               ? key
               : nullptr;
  }
  // The same under a key-encrypting key instead of the MFK.
  const ReadyKey* key_field_under(int n, std::string_view headers, const Key& kek,
                                  bool refuse_single_length) {
    const ReadyKey* key = nullptr;
    return read_key_block_field_under_key(fields[n], n, headers, settings, keys, reply, key,
                                          refuse_single_length, kek)
               ? key
               : nullptr;
  }

  bool pin_block_field(int n, uint8_t block[8]) {
    return read_pin_block_field(settings, fields, reply, n, block);
  }
  bool decimal_field(int n, size_t min_len, size_t max_len) {
    return check_decimal_field(settings, fields, reply, n, min_len, max_len);
  }
  bool decimal_value(int n, int32_t max, int32_t& value) {
    return read_decimal_at_most(settings, fields, reply, n, max, value);
  }
  bool choice_field(int n, std::string_view choices, ErrorId value_error = kValueNotAccepted) {
    return check_one_character_choice(settings, fields, reply, n, choices, value_error);
  }
  bool length_field(int n, size_t len) {
    return check_field_length(settings, fields, reply, n, len);
  }
  bool not_empty(int n) { return check_not_empty(settings, fields, reply, n); }
  bool field_count(int minimum) { return check_field_count(settings, fields, reply, minimum); }
  bool refuse(ErrorId id, int field) { return palisim::refuse(settings, reply, id, field); }

  // "<code#": the start of every success reply.
  void begin(std::string_view reply_code) { begin_success(reply, reply_code); }
  // The echo field, if any, and the end of the reply.
  void finish() { finish_success(settings, reply, fields); }
};

}  // namespace palisim
