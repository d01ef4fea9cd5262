// What the simulator knows about each host command, one row per command: its
// request and reply codes, what it does, how many fields it needs, the names
// of its reply fields, the fields the request trace hides, whether an inject
// rule may approve it and the key fields it reads. The dispatcher binds one
// handler to each row, in the same order; the trace, the inject checks, the
// client's explanations, the key tool and the statistics read the rows.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "protocol/key_headers.h"
#include "protocol/request_code.h"

namespace palisim {

// Up to N items of a row, written as a braced list.
template <typename T, size_t N>
struct RowList {
  std::array<T, N> items{};
  size_t size = 0;

  constexpr RowList() = default;
  constexpr RowList(std::initializer_list<T> list) : size(list.size()) {
    std::copy(list.begin(), list.end(), items.begin());
  }
  constexpr const T* begin() const { return items.data(); }
  constexpr const T* end() const { return items.data() + size; }
};

enum class MessagePart : uint8_t { kRequest, kReply };

// What the request trace hides of a field unless asked for everything.
enum class MaskKind : uint8_t {
  kPin,      // every decimal digit; a PIN-check letter stays (also PVVs and CVVs)
  kAccount,  // all but the first six and last four (the last four only up to 10 digits)
  // All but the last four: an account field whose digits the request's
  // kAccount field already shows, so together they show no more than it
  // (the PVV's 11 account digits end where the PIN block's 12 end).
  kAccountTail,
  kEncipherInput,   // everything, unless field 1 is "D" (the field is then ciphertext)
  kDecipherOutput,  // everything when field 1 is "D"
};

// A field of the request, or of its success reply, that carries a secret.
struct FieldMask {
  MessagePart part;
  int field;  // field number, 0 being the code
  MaskKind kind;
};

// How a key field chooses the headers it accepts.
enum class HeaderRule : uint8_t {
  kList,          // the field's own list
  kGenerateKek,   // command 10's KEK list, widened by opte2 and opte3
  kTranslateKek,  // the KEK list of commands 11 and 13, widened by opte2
  kExportKek,     // command 1A's KEK list, widened by opte2 and opte3
  kImportKek,     // a rule on the header's characters, not a list
  kChangePinPvk,  // the field's list, with opt66 widened by generation keys
};

struct KeyField {
  int field;
  std::string_view content;  // what the field holds, in words
  std::string_view usages;   // usage letters of the headers it may accept
  HeaderRule rule = HeaderRule::kList;
  std::string_view headers = {};  // the list kList and kChangePinPvk start from
};

inline constexpr size_t kMaxNamedReplyFields = 8;

struct CommandInfo {
  std::string_view code;        // field 0 of the request, lower case; matched in any case
  std::string_view reply_code;  // field 0 of its success reply
  std::string_view action;      // what the command does, in words
  int min_fields;               // fewest fields, field 0 counted and an echo field not
  std::array<std::string_view, kMaxNamedReplyFields> reply_fields;  // reply fields 1 on
  RowList<FieldMask, 4> masks = {};
  // Field counts of its longer forms (field 0 counted, an echo field not):
  // with min_fields, the counts at which the request's masks sit where they say.
  RowList<int, 1> longer_forms = {};
  bool approvable = false;  // its reply carries a verification result an inject rule may pass
  RowList<KeyField, 3> key_fields = {};
};

// Commands 31 and 32 ask for more fields than their minimum once field 1 or
// 2 has chosen DUKPT; commands 5E and 99 share their reply codes with 5D and
// 98.
inline constexpr std::array kCommandCatalog = {
    CommandInfo{.code = "00",
                .reply_code = "00",
                .action = "echo",
                .min_fields = 2,
                .reply_fields = {"success (000035)", "field 1 of the request"}},
    CommandInfo{.code = "10",
                .reply_code = "20",
                .action = "generate a working key",
                .min_fields = 2,
                .reply_fields = {"key under the MFK", "key under the KEK", "check value"},
                .key_fields = {{2, "KEK", "KA", HeaderRule::kGenerateKek}}},
    CommandInfo{.code = "11",
                .reply_code = "21",
                .action = "translate a key from the MFK to a KEK",
                .min_fields = 4,
                .reply_fields = {"key under the KEK", "check value"},
                .key_fields = {{2, "KEK", "KA", HeaderRule::kTranslateKek}}},
    CommandInfo{.code = "13",
                .reply_code = "23",
                .action = "translate a key from a KEK to the MFK",
                .min_fields = 4,
                .reply_fields = {"key under the MFK", "check value"},
                .key_fields = {{2, "KEK", "KA", HeaderRule::kTranslateKek}}},
    CommandInfo{.code = "1a",
                .reply_code = "2A",
                .action = "export a key under a KEK variant",
                .min_fields = 4,
                .reply_fields = {"enciphered key", "check value"},
                .key_fields = {{2, "KEK", "KA", HeaderRule::kExportKek}}},
    CommandInfo{.code = "30",
                .reply_code = "40",
                .action = "encipher a clear PIN",
                .min_fields = 4,
                .reply_fields = {"PIN block"},
                .masks = {{MessagePart::kRequest, 2, MaskKind::kPin},
                          {MessagePart::kRequest, 3, MaskKind::kAccount}},
                .key_fields = {{1, "PIN key", "P", HeaderRule::kList, kEncipherPinKeyList}}},
    CommandInfo{
        .code = "31",
        .reply_code = "41",
        .action = "translate a PIN block",
        .min_fields = 6,
        .reply_fields = {"PIN block under the outgoing key", "PIN check"},
        .masks = {{MessagePart::kRequest, 5, MaskKind::kAccount}},
        .longer_forms = {8},
        .approvable = true,
        .key_fields = {{2, "incoming PIN key", "P", HeaderRule::kList, kDecipherPinKeyList},
                       {2, "BDK", "d", HeaderRule::kList, kBdkList},
                       {3, "outgoing PIN key", "P", HeaderRule::kList, kEncipherPinKeyList}}},
    CommandInfo{.code = "32",
                .reply_code = "42",
                .action = "verify a PIN against a PVV",
                .min_fields = 11,
                .reply_fields = {"PIN check"},
                .masks = {{MessagePart::kRequest, 7, MaskKind::kPin},
                          {MessagePart::kRequest, 9, MaskKind::kAccountTail},
                          {MessagePart::kRequest, 10, MaskKind::kAccount}},
                .longer_forms = {13},
                .approvable = true,
                .key_fields = {{4, "PIN key", "P", HeaderRule::kList, kDecipherPinKeyList},
                               {4, "BDK", "d", HeaderRule::kList, kBdkList},
                               {5, "PVK", "V", HeaderRule::kList, kPvkList}}},
    CommandInfo{.code = "37",
                .reply_code = "47",
                .action = "change a PIN",
                .min_fields = 12,
                .reply_fields = {"status", "new PVV"},
                .masks = {{MessagePart::kRequest, 7, MaskKind::kPin},
                          {MessagePart::kRequest, 9, MaskKind::kAccountTail},
                          {MessagePart::kRequest, 11, MaskKind::kAccount},
                          {MessagePart::kReply, 2, MaskKind::kPin}},
                .approvable = true,
                .key_fields = {{4, "PIN key", "P", HeaderRule::kList, kDecipherPinKeyList},
                               {5, "PVK", "V", HeaderRule::kChangePinPvk, kPvkList}}},
    CommandInfo{.code = "5d",
                .reply_code = "6D",
                .action = "generate a card verification value",
                .min_fields = 5,
                .reply_fields = {"eight digits, the CVV first", "check value", "empty"},
                .masks = {{MessagePart::kRequest, 4, MaskKind::kAccount},
                          {MessagePart::kReply, 1, MaskKind::kPin}},
                .key_fields = {{2, "CVK", "C", HeaderRule::kList, kCardKeyHeaders}}},
    CommandInfo{.code = "5e",
                .reply_code = "6D",
                .action = "verify a card verification value",
                .min_fields = 6,
                .reply_fields = {"match", "check value", "empty"},
                .masks = {{MessagePart::kRequest, 4, MaskKind::kAccount},
                          {MessagePart::kRequest, 5, MaskKind::kPin}},
                .approvable = true,
                .key_fields = {{2, "CVK", "C", HeaderRule::kList, kCardKeyHeaders}}},
    CommandInfo{.code = "90",
                .reply_code = "A0",
                .action = "decipher a PIN block",
                .min_fields = 5,
                .reply_fields = {"PIN, or the PIN check letter"},
                .masks = {{MessagePart::kRequest, 4, MaskKind::kAccount},
                          {MessagePart::kReply, 1, MaskKind::kPin}},
                .key_fields = {{3, "PIN key", "P", HeaderRule::kList, kDecipherPinKeyList}}},
    CommandInfo{
        .code = "97",
        .reply_code = "A7",
        .action = "encipher or decipher data",
        .min_fields = 8,
        .reply_fields = {"mode", "option", "check value", "chaining value used",
                         "chaining value reached", "data format", "output length", "output data"},
        .masks = {{MessagePart::kRequest, 7, MaskKind::kEncipherInput},
                  {MessagePart::kReply, 8, MaskKind::kDecipherOutput}},
        .key_fields = {{3, "data key", "D", HeaderRule::kList, kDataKeyHeaders},
                       {4, "chaining value", "I", HeaderRule::kList, kChainingValueHeaders}}},
    CommandInfo{
        .code = "98",
        .reply_code = "A8",
        .action = "generate a MAC",
        .min_fields = 8,
        .reply_fields = {"MAC output", "MAC, or the chaining value for output 0", "check value",
                         "algorithm (6 and 7 only)"},
        .key_fields = {{1, "MAC key", "M", HeaderRule::kList, kMacKeyHeaders},
                       {4, "chaining value", "I", HeaderRule::kList, kChainingValueHeaders}}},
    CommandInfo{
        .code = "99",
        .reply_code = "A8",
        .action = "verify a MAC",
        .min_fields = 9,
        .reply_fields = {"MAC output", "match, or the chaining value for output 0",
                         "empty, or the check value for output 0",
                         "check value, or the algorithm for output 0", "algorithm (6 and 7 only)"},
        .approvable = true,
        .key_fields = {{1, "MAC key", "M", HeaderRule::kList, kMacKeyHeaders},
                       {3, "chaining value", "I", HeaderRule::kList, kChainingValueHeaders}}},
    CommandInfo{.code = "11b",
                .reply_code = "21B",
                .action = "import a key from a KEK variant",
                .min_fields = 4,
                .reply_fields = {"key under the MFK", "check value"},
                .key_fields = {{3, "import KEK", "", HeaderRule::kImportKek}}},
};

// Rows in the catalogue; per-command tables size themselves by it.
inline constexpr size_t kCommandCount = kCommandCatalog.size();

// A code of at most kMaxPackedCode characters as one number, letters in
// lower case, its length in the top byte (so "0" and "\0" + "0" differ):
// every request looks its code up, and one comparison per row is cheaper
// than comparing characters.
inline constexpr size_t kMaxPackedCode = 7;
constexpr uint64_t packed_code(std::string_view code) {
  uint64_t packed = code.size();
  for (char ch : code.substr(0, kMaxPackedCode)) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    packed = packed << 8 | static_cast<uint8_t>(ch);
  }
  return packed;
}

inline constexpr auto kPackedCodes = [] {
  std::array<uint64_t, kCommandCount> packed{};
  for (size_t i = 0; i < kCommandCount; ++i)
    packed[i] = packed_code(kCommandCatalog[i].code);
  return packed;
}();

// The row of the command with that code, in any case; kCommandCount for none.
constexpr size_t command_row(std::string_view code) {
  if (code.size() > kMaxPackedCode) return kCommandCount;
  const uint64_t packed = packed_code(code);
  for (size_t i = 0; i < kCommandCount; ++i) {
    if (kPackedCodes[i] == packed) return i;
  }
  return kCommandCount;
}

// The row that field 0 of a request "<...>" names, as the dispatcher finds
// it, without cutting the request up.
inline size_t command_of_request(std::string_view request) {
  return command_row(request_code(request));
}

// A code as the protocol guide writes it, letters in upper case: 1A, 5D, 11B.
struct WrittenCode {
  std::array<char, 8> text{};  // NUL-terminated

  std::string_view view() const { return text.data(); }
};
WrittenCode written_code(std::string_view code);

}  // namespace palisim
