#include "client/reply_fields.h"

namespace palisim {

namespace {

// Commands 5E and 99 share their reply codes with 5D and 98, so a request
// code picks the row when there is one.
constexpr std::array<CommandReplyRow, 16> kRows = {{
    {"00", "00", "echo", {"success (000035)", "field 1 of the request"}},
    {"10",
     "20",
     "generate a working key",
     {"key under the MFK", "key under the KEK", "check value"}},
    {"11", "21", "translate a key from the MFK to a KEK", {"key under the KEK", "check value"}},
    {"13", "23", "translate a key from a KEK to the MFK", {"key under the MFK", "check value"}},
    {"1A", "2A", "export a key under a KEK variant", {"enciphered key", "check value"}},
    {"11B", "21B", "import a key from a KEK variant", {"key under the MFK", "check value"}},
    {"30", "40", "encipher a clear PIN", {"PIN block"}},
    {"31", "41", "translate a PIN block", {"PIN block under the outgoing key", "PIN check"}},
    {"32", "42", "verify a PIN against a PVV", {"PIN check"}},
    {"37", "47", "change a PIN", {"status", "new PVV"}},
    {"90", "A0", "decipher a PIN block", {"PIN, or the PIN check letter"}},
    {"5D",
     "6D",
     "generate a card verification value",
     {"eight digits, the CVV first", "check value", "empty"}},
    {"5E", "6D", "verify a card verification value", {"match", "check value", "empty"}},
    {"97",
     "A7",
     "encipher or decipher data",
     {"mode", "option", "check value", "chaining value used", "chaining value reached",
      "data format", "output length", "output data"}},
    {"98",
     "A8",
     "generate a MAC",
     {"MAC output", "MAC, or the chaining value for output 0", "check value",
      "algorithm (6 and 7 only)"}},
    {"99",
     "A8",
     "verify a MAC",
     {"MAC output", "match, or the chaining value for output 0",
      "empty, or the check value for output 0", "check value, or the algorithm for output 0",
      "algorithm (6 and 7 only)"}},
}};

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const CommandReplyRow* find_reply_row(std::string_view request_code, std::string_view reply_code) {
  for (const CommandReplyRow& row : kRows) {
    if (same_ignoring_case(row.command, request_code) && row.reply_code == reply_code) return &row;
  }
  for (const CommandReplyRow& row : kRows) {
    if (row.reply_code == reply_code) return &row;
  }
  return nullptr;
}

}  // namespace palisim
