// Building blocks of the sample requests: key blocks under the sample MFK,
// PIN blocks, and requests made from a list of fields.
#pragma once

#include <string>
#include <vector>

#include "sample_requests.h"

namespace palisim::testing::samples {

using FieldList = std::vector<std::string>;

// "<" + each field followed by "#" + ">".
std::string text_of(const FieldList& fields);

// A key block of the key (hex) under the sample MFK, or under a wrapping key (hex).
std::string block(const std::string& header, const std::string& key_hex);
std::string block_under(const std::string& wrapping_hex, const std::string& header,
                        const std::string& key_hex);

// The block with its last MAC digit changed / with a '.' in place of its first comma.
std::string forged(std::string key_block);
std::string bad_form(std::string key_block);

// A format 0 PIN block: the PIN field (16 hex digits, nibble by nibble) with
// the 12 account digits, enciphered under the key (hex).
std::string pin_block(const std::string& key_hex, const std::string& pin_field,
                      const std::string& account);

// The clear format 0 PIN block (hex) of a PIN field and 12 account digits.
std::string clear_pin_block(const std::string& pin_field, const std::string& account);

// The fields with field i replaced, or with only the first n kept.
FieldList with(FieldList fields, size_t i, const std::string& value);
FieldList cut(FieldList fields, size_t n);

// Appends a request that succeeds with the reply code (and, when given, the whole reply).
void add_valid(std::vector<SampleRequest>& out, const std::string& name, const FieldList& fields,
               const std::string& reply_code, const std::string& known_reply = "");

// Appends a request refused with error type/field, detail.
void add_error(std::vector<SampleRequest>& out, const std::string& name, const FieldList& fields,
               int type, int field, int detail);

// The requests of each family of commands.
void add_echo_requests(std::vector<SampleRequest>& out);           // 00 and dispatch
void add_key_requests(std::vector<SampleRequest>& out);            // 10, 11, 13, 1A, 11B
void add_pin_requests(std::vector<SampleRequest>& out);            // 30, 31, 32, 37, 90
void add_card_and_data_requests(std::vector<SampleRequest>& out);  // 5D, 5E, 97, 98, 99

// The secrets each family's requests hold in clear.
void add_key_secrets(SampleSecrets& out);
void add_pin_secrets(SampleSecrets& out);
void add_card_and_data_secrets(SampleSecrets& out);

}  // namespace palisim::testing::samples
