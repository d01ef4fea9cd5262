#include "sample_requests.h"

#include <cstdio>

#include "crypto/des.h"
#include "crypto/key_block.h"
#include "hex_text.h"
#include "sample_builders.h"

namespace palisim::testing {

namespace samples {

namespace {

const uint8_t* raw(const std::string& bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

}  // namespace

std::string text_of(const FieldList& fields) {
  std::string out = "<";
  for (const std::string& field : fields)
    out += field + "#";
  return out + ">";
}

std::string block(const std::string& header, const std::string& key_hex) {
  return block_under(kSampleMfkHex, header, key_hex);
}

std::string block_under(const std::string& wrapping_hex, const std::string& header,
                        const std::string& key_hex) {
  std::string wrapping = bytes_from_hex(wrapping_hex);
  std::string key = bytes_from_hex(key_hex);
  KeyBlockText out;
  build_key_block(raw(wrapping), static_cast<int32_t>(wrapping.size()), header, raw(key),
                  static_cast<int32_t>(key.size()), out);
  return out.data();
}

std::string forged(std::string key_block) {
  key_block.back() = key_block.back() == '0' ? '1' : '0';
  return key_block;
}

std::string bad_form(std::string key_block) {
  key_block[8] = '.';
  return key_block;
}

std::string clear_pin_block(const std::string& pin_field, const std::string& account) {
  std::string clear = bytes_from_hex(pin_field);
  std::string account_field = bytes_from_hex("0000" + account);
  for (size_t i = 0; i < clear.size(); ++i)
    clear[i] = static_cast<char>(clear[i] ^ account_field[i]);
  return to_hex(raw(clear), 8);
}

std::string pin_block(const std::string& key_hex, const std::string& pin_field,
                      const std::string& account) {
  std::string clear = bytes_from_hex(clear_pin_block(pin_field, account));
  std::string key = bytes_from_hex(key_hex);
  uint8_t enciphered[8];
  encipher_block_by_key_length(raw(key), static_cast<int32_t>(key.size()), raw(clear), enciphered);
  return to_hex(enciphered, sizeof enciphered);
}

FieldList with(FieldList fields, size_t i, const std::string& value) {
  if (fields.size() <= i) fields.resize(i + 1);
  fields[i] = value;
  return fields;
}

FieldList cut(FieldList fields, size_t n) {
  fields.resize(n);
  return fields;
}

void add_valid(std::vector<SampleRequest>& out, const std::string& name, const FieldList& fields,
               const std::string& reply_code, const std::string& known_reply) {
  SampleRequest r;
  r.name = name;
  r.text = text_of(fields);
  r.reply_code = reply_code;
  r.known_reply = known_reply;
  out.push_back(r);
}

void add_error(std::vector<SampleRequest>& out, const std::string& name, const FieldList& fields,
               int type, int field, int detail) {
  SampleRequest r;
  r.name = name;
  r.text = text_of(fields);
  r.error_type = type;
  r.error_field = field;
  r.error_detail = detail;
  out.push_back(r);
}

}  // namespace samples

const std::vector<SampleRequest>& sample_requests() {
  static const std::vector<SampleRequest> all = [] {
    std::vector<SampleRequest> out;
    samples::add_echo_requests(out);
    samples::add_key_requests(out);
    samples::add_pin_requests(out);
    samples::add_card_and_data_requests(out);
    return out;
  }();
  return all;
}

const std::string& sample_text(const std::string& name) {
  static const std::string none;
  for (const SampleRequest& r : sample_requests()) {
    if (r.name == name) return r.text;
  }
  return none;
}

const SampleSecrets& sample_secrets() {
  static const SampleSecrets all = [] {
    SampleSecrets out;
    samples::add_key_secrets(out);
    samples::add_pin_secrets(out);
    samples::add_card_and_data_secrets(out);
    return out;
  }();
  return all;
}

std::string expected_error_reply(const SampleRequest& request, bool with_detail) {
  char text[40];
  if (with_detail) {
    std::snprintf(text, sizeof text, "<00#%02d%02d35#%04d##>\r\n", request.error_type,
                  request.error_field, request.error_detail);
  } else {
    std::snprintf(text, sizeof text, "<00#%02d%02d35#>\r\n", request.error_type,
                  request.error_field);
  }
  return text;
}

bool is_error_reply(const std::string& reply) {
  if (reply.size() < 11 || reply.compare(0, 4, "<00#") != 0 || reply[10] != '#') return false;
  for (size_t i = 4; i < 10; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return false;
  }
  return reply.compare(4, 6, "000035") != 0;
}

}  // namespace palisim::testing
