#include "expected_reply.h"
#include "crypto/key_cache.h"

#include "crypto/hex.h"
#include "dispatch/command_table.h"

namespace palisim::testing {

namespace {

std::string dispatch_once(const Settings& s, std::string request) {
  char buf[6144];
  ReplyBuffer r{buf, 0};
  KeyCache keys;
  dispatch_request(s, keys, request.data(), static_cast<int32_t>(request.size()), r);
  return std::string(r.view());
}

// Where the field that starts at `from` ends: its '#', the final '>', or the end.
std::string::size_type next_separator(const std::string& text, std::string::size_type from) {
  std::string::size_type at = text.find_first_of("#>", from);
  return at == std::string::npos ? text.size() : at;
}

bool is_hex(char c) {
  return all_hex_digits(std::string_view(&c, 1));
}

}  // namespace

ExpectedReply::ExpectedReply(const Settings& s, const std::string& request)
    : sample_(dispatch_once(s, request)) {
  std::string second = dispatch_once(s, request);
  if (second == sample_) return;
  varying_.assign(sample_.size(), '=');
  // Field by field: one whose text differs between the runs at the same length varies.
  std::string::size_type a = 1, b = 1;
  while (a < sample_.size() && b < second.size()) {
    std::string::size_type a_end = next_separator(sample_, a);
    std::string::size_type b_end = next_separator(second, b);
    if (sample_.compare(a, a_end - a, second, b, b_end - b) != 0 && a_end - a == b_end - b) {
      varying_.replace(a, a_end - a, a_end - a, 'v');
    }
    a = a_end + 1;
    b = b_end + 1;
  }
}

bool ExpectedReply::matches(std::string_view reply) const {
  if (reply.size() != sample_.size()) return false;
  if (exact()) return reply == sample_;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (varying_[i] == 'v' && is_hex(sample_[i])) {
      if (!is_hex(reply[i])) return false;
    } else if (reply[i] != sample_[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace palisim::testing
