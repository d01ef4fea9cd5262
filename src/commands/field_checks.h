// Field checks that several commands share. Each writes the command's error
// reply and returns false on failure. Handlers reach them through the readers
// of their RequestContext (commands/request_context.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/errors.h"
#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// A field that may not be empty: 1/F/35, detail 3.
bool check_not_empty(const Settings& s, const Fields& f, ReplyBuffer& r, int field);

// Exactly len characters: 1/F/35 detail 3 for any other length.
bool check_field_length(const Settings& s, const Fields& f, ReplyBuffer& r, int field, size_t len);

// One character out of `choices`. Any other first character, or none, gives
// value_error (3/F/35 detail 200, or detail 203 where a command says so); a
// second character gives 1/F/35 detail 3.
bool check_one_character_choice(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                                std::string_view choices, ErrorId value_error = kValueNotAccepted);

// min_len to max_len decimal digits: 1/F/35 detail 3 for another length,
// 2/F/35 detail 102 for another character.
bool check_decimal_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                         size_t min_len, size_t max_len);

// Decimal digits with a value of at most `max`: 2/F/35 detail 102 for another
// character, 3/F/35 detail 200 above max. An empty field reads as 0; callers
// that refuse it check first. Long digit strings cannot overflow.
bool read_decimal_at_most(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          int32_t max, int32_t& value);

// A PIN block of 16 hex digits in either case, converted into 8 bytes:
// 1/F/35 detail 3 for another length, 2/F/35 detail 102 for another character.
bool read_pin_block_field(const Settings& s, const Fields& f, ReplyBuffer& r, int field,
                          uint8_t block[8]);

}  // namespace palisim
