#include "cli/tool_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#include "config/config.h"
#include "crypto/hex.h"
#include "payments/pin_block.h"

namespace palisim {

namespace {

constexpr const char* kSection = "default";  // the section the simulator reads
constexpr const char* kLocalConfig = "atalla.conf";
constexpr const char* kInstalledConfig = "/etc/palisim/atalla.conf";  // the package's

// --config, else the working directory's file, else the installed one.
std::string tool_config_path(std::string_view given) {
  if (!given.empty()) return std::string(given);
  if (access(kLocalConfig, F_OK) == 0) return kLocalConfig;
  std::fprintf(stderr, "palisim-cli: no %s here; using %s\n", kLocalConfig, kInstalledConfig);
  return kInstalledConfig;
}

bool is_key_length(size_t digits) {
  return digits == 16 || digits == 32 || digits == 48;
}

// The configuration's own messages, caught so that only one line reaches the user.
class CaughtMessages {
 public:
  CaughtMessages() : stream_(open_memstream(&text_, &len_)) { set_configuration_output(stream_); }
  ~CaughtMessages() {
    set_configuration_output(nullptr);
    if (stream_) std::fclose(stream_);
    std::free(text_);
  }
  CaughtMessages(const CaughtMessages&) = delete;
  CaughtMessages& operator=(const CaughtMessages&) = delete;

  // The first message, without a "warning: " in front or the line end.
  std::string first_line() {
    if (!stream_) return {};
    std::fflush(stream_);
    std::string_view all(text_ ? text_ : "", len_);
    if (all.starts_with("warning: ")) all.remove_prefix(9);
    return std::string(all.substr(0, all.find('\n')));
  }

 private:
  char* text_ = nullptr;
  size_t len_ = 0;
  FILE* stream_;
};

}  // namespace

bool read_key_argument(std::string_view text, std::string_view what, Key& key, std::string& error) {
  if (!is_key_length(text.size())) {
    error =
        std::string(what) + " must be 16, 32 or 48 hex digits, not " + std::to_string(text.size());
    return false;
  }
  if (!all_hex_digits(text)) {
    error = std::string(what) + " must be hex digits only";
    return false;
  }
  key.len = static_cast<int32_t>(text.size() / 2);
  hex_to_binary(key.bytes.data(), text.data(), text.size());
  return true;
}

bool read_pin_argument(std::string_view text, std::string& error) {
  if (text.size() < static_cast<size_t>(kMinPinLen) ||
      text.size() > static_cast<size_t>(kMaxBuiltPinLen) || !all_decimal_digits(text)) {
    error = "--pin must be 4 to 12 decimal digits";
    return false;
  }
  return true;
}

bool read_pan_argument(std::string_view text, std::string_view& account, std::string& error) {
  if (text.size() < kAccountLen || text.size() > kMaxPanLen || !all_decimal_digits(text)) {
    error = "--pan must be 12 account digits or a card number of 13 to 19 digits";
    return false;
  }
  account =
      text.size() == kAccountLen ? text : text.substr(text.size() - 1 - kAccountLen, kAccountLen);
  return true;
}

bool load_tool_settings(std::string_view config, std::string_view mfk, Settings& s,
                        std::string& error) {
  apply_default_settings(s);
  if (!mfk.empty()) {
    Key key;
    if (!read_key_argument(mfk, "--mfk", key, error)) return false;
    std::copy_n(key.bytes.begin(), key.len, s.mfk.begin());
    s.mfk_len = key.len;
    s.mfk_present = 1;
    return true;
  }
  const std::string path = tool_config_path(config);
  CaughtMessages messages;
  if (!load_settings(s, path.c_str(), kSection)) {
    std::string why = messages.first_line();
    if (why.empty()) why = path + " has no section 'atalla " + kSection + "'";
    error = why + "; give --config PATH or --mfk HEX";
    return false;
  }
  if (!s.mfk_present) {
    error = "no MFK in " + path + "; give --mfk HEX or set mfk in its 'atalla default' section";
    return false;
  }
  return true;
}

}  // namespace palisim
