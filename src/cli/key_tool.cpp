// key wrap, key form, key open and key kcv: key blocks under the MFK of the
// simulator's configuration, built and opened by the simulator's own code.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/header_use.h"
#include "cli/tool_input.h"
#include "cli/tools.h"
#include "crypto/check_value.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/secure_zero.h"
#include "crypto/wrapping_key.h"

namespace palisim {

namespace {

constexpr size_t kMinComponents = 2;
constexpr size_t kMaxComponents = 3;
constexpr int32_t kSingleKeyLen = 8;

// The device settings of the tool, wiped when it ends.
struct ToolSettings {
  Settings s;
  ToolSettings() = default;
  ToolSettings(const ToolSettings&) = delete;
  ToolSettings& operator=(const ToolSettings&) = delete;
  ~ToolSettings() { wipe_settings(s); }
};

// Six hex digits: replies carry the first four unless opt88 is on.
std::string check_value(const Key& key) {
  CheckValueText text;
  key_check_value(key.bytes.data(), key.len, text, true);
  return text.data();
}

// The settings, then the header against them, then the block on stdout.
int wrap_and_print(std::string_view header, const Key& key, ToolSettings& t, const CliOptions& o) {
  std::string error, note;
  if (!load_tool_settings(o.config, o.mfk, t.s, error)) return refuse_input(error);
  if (!check_header_use(t.s, header, note, error)) return refuse_input(error);
  KeyBlockText block;
  build_key_block(t.s.mfk.data(), kMfkWrappingLen, header, key.bytes.data(), key.len, block);
  std::printf("%s\n", block.data());
  if (!note.empty()) std::fprintf(stderr, "palisim-cli: note: %s\n", note.c_str());
  if (key.len == kSingleKeyLen) {
    std::fprintf(stderr,
                 "palisim-cli: note: a single-length key: the commands refuse it unless opt6c "
                 "is on (it is %s)\n",
                 t.s.opt6c ? "on" : "off");
  }
  return kExitOk;
}

int wrap(const CliOptions& o) {
  if (o.words.size() != 4) return refuse_input("key wrap takes HEADER CLEARKEY");
  Key key;
  std::string error;
  if (o.words[2].size() != kKeyHeaderLen) return refuse_input("HEADER must be 8 characters");
  if (!read_key_argument(o.words[3], "CLEARKEY", key, error)) return refuse_input(error);
  ToolSettings t;
  const int status = wrap_and_print(o.words[2], key, t, o);
  if (status == kExitOk && o.kcv) std::printf("%s\n", check_value(key).c_str());
  return status;
}

int form(const CliOptions& o) {
  const size_t components = o.words.size() - 3;
  if (o.words.size() < 3 + kMinComponents || components > kMaxComponents) {
    return refuse_input("key form takes HEADER and 2 or 3 COMPONENTs");
  }
  if (o.words[2].size() != kKeyHeaderLen) return refuse_input("HEADER must be 8 characters");
  Key parts[kMaxComponents];
  Key key;
  std::string error;
  for (size_t i = 0; i < components; ++i) {
    const std::string what = "COMPONENT " + std::to_string(i + 1);
    if (!read_key_argument(o.words[3 + i], what, parts[i], error)) return refuse_input(error);
    if (parts[i].len != parts[0].len) return refuse_input("the COMPONENTs differ in length");
    for (int32_t b = 0; b < parts[i].len; ++b)
      key.bytes[b] ^= parts[i].bytes[b];
  }
  key.len = parts[0].len;
  ToolSettings t;
  const int status = wrap_and_print(o.words[2], key, t, o);
  if (status != kExitOk) return status;
  std::printf("key check value: %s\n", check_value(key).c_str());
  for (size_t i = 0; i < components; ++i)
    std::printf("component %zu check value: %s\n", i + 1, check_value(parts[i]).c_str());
  return kExitOk;
}

int open(const CliOptions& o) {
  if (o.words.size() != 3) return refuse_input("key open takes BLOCK");
  const std::string_view text = o.words[2];
  if (!check_key_block_form(text)) {
    return refuse_input(
        "BLOCK must be a key block: 74 characters, commas at 8 and 57, hex digits "
        "after the header");
  }
  ToolSettings t;
  std::string error;
  if (!load_tool_settings(o.config, o.mfk, t.s, error)) return refuse_input(error);
  Key key;
  if (!open_key_block(t.s.mfk.data(), kMfkWrappingLen, text, key)) {
    Key mfk;
    mfk.len = t.s.mfk_len;
    std::copy_n(t.s.mfk.begin(), mfk.len, mfk.bytes.begin());
    return refuse_input("the key block does not verify under this MFK (check value " +
                        check_value(mfk) + "): another MFK wrapped it, or it was changed");
  }
  char hex[2 * kMaxKeyLen + 1];
  binary_to_hex(hex, key.bytes.data(), static_cast<size_t>(key.len));
  std::printf("%s\n%s\n", hex, check_value(key).c_str());
  secure_zero(hex, sizeof hex);
  return kExitOk;
}

int kcv(const CliOptions& o) {
  if (o.words.size() != 3) return refuse_input("key kcv takes CLEARKEY");
  Key key;
  std::string error;
  if (!read_key_argument(o.words[2], "CLEARKEY", key, error)) return refuse_input(error);
  std::printf("%s\n", check_value(key).c_str());
  return kExitOk;
}

}  // namespace

int run_key_tool(const CliOptions& o) {
  const std::string_view tool = o.words.size() > 1 ? o.words[1] : "";
  const unsigned under_mfk = kOptConfig | kOptMfk;
  std::string error;
  if (tool == "wrap" || tool == "form" || tool == "open") {
    const unsigned used = tool == "wrap" ? under_mfk | kOptKcv : under_mfk;
    if (!check_options_used(o, used, "key " + std::string(tool), error)) return refuse_input(error);
    if ((o.given & kOptConfig) && (o.given & kOptMfk)) {
      return refuse_input("give --config or --mfk, not both");
    }
    return tool == "wrap" ? wrap(o) : tool == "form" ? form(o) : open(o);
  }
  if (tool == "kcv") {
    if (!check_options_used(o, 0, "key kcv", error)) return refuse_input(error);
    return kcv(o);
  }
  return refuse_input("key takes wrap, form, open or kcv");
}

}  // namespace palisim
