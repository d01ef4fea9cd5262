#include "commands/key_management.h"

#include <cstring>

#include "crypto/check_value.h"
#include "crypto/header_list.h"
#include "protocol/errors.h"

namespace palisim {

namespace {

// Each list indexed by opte2 + 2 * opte3. The optional parts are appended in
// a fixed order: "1KDNE0001KDNN000" (opte2), "1ADEE000" (opte3), "1ADNE000"
// (both).
constexpr std::array<std::string_view, 4> kGenerateKekHeaders = {
    "1KDEE0001KDNN000",
    "1KDEE0001KDNN0001KDNE0001KDNN000",
    "1KDEE0001KDNN0001ADEE000",
    "1KDEE0001KDNN0001KDNE0001KDNN0001ADEE0001ADNE000",
};
constexpr std::array<std::string_view, 4> kExportKekHeaders = {
    "1KDEE0001KDEN000",
    "1KDEE0001KDEN0001KDNE0001KDNN000",
    "1KDEE0001KDEN0001ADEE000",
    "1KDEE0001KDEN0001KDNE0001KDNN0001ADEE0001ADNE000",
};

int option_index(const Settings& s) {
  return (s.opte2 ? 1 : 0) + (s.opte3 ? 2 : 0);
}

}  // namespace

std::string_view generate_kek_headers(const Settings& s) {
  return kGenerateKekHeaders[option_index(s)];
}

// Commands 11 and 13 take the 1A list without the opte3 additions.
std::string_view translate_kek_headers(const Settings& s) {
  return kExportKekHeaders[s.opte2 ? 1 : 0];
}

std::string_view export_kek_headers(const Settings& s) {
  return kExportKekHeaders[option_index(s)];
}

bool is_import_kek_header(std::string_view header) {
  return header[4] == 'N' && (header[6] == 'I' || header[6] == 'K');
}

KeyHeader counterpart_header(std::string_view header) {
  KeyHeader out{};
  header.copy(out.data(), out.size());
  constexpr std::string_view kModes = "EDVG";
  constexpr std::string_view kCounterparts = "DEGV";
  size_t at = kModes.find(out[3]);
  if (at != std::string_view::npos) out[3] = kCounterparts[at];
  return out;
}

bool check_key_may_move(RequestContext& c, std::string_view block, int field,
                        const std::array<char, 32>& letters) {
  std::string_view allowed{letters.data(), strnlen(letters.data(), letters.size())};
  if (block[4] != 'N' && usage_letter_allowed(block, allowed)) return true;
  return c.refuse(kHeaderNotAccepted, field);
}

bool check_key_fits(RequestContext& c, int32_t key_len, int32_t wrapping_key_len, int field) {
  if (key_len > wrapping_key_len) return c.refuse(kKeyTooLong, field);
  return true;
}

void reply_with_key_block(RequestContext& c, std::string_view reply_code, const KeyBlockText& block,
                          const Key& key) {
  CheckValueText check_value;
  key_check_value(key.bytes.data(), key.len, check_value, c.settings.opt88);
  c.begin(reply_code);
  append_field(c.reply, block.data());
  append_field(c.reply, check_value.data());
  c.finish();
}

}  // namespace palisim
