// The command catalogue's rows agree with themselves, and request codes are
// read as the dispatcher reads them.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/command_catalog.h"

namespace palisim {
namespace {

bool code_text(std::string_view code, char lowest_letter, char highest_letter) {
  if (code.size() < 2 || code.size() > 3) return false;
  for (char c : code) {
    if (!(c >= '0' && c <= '9') && !(c >= lowest_letter && c <= highest_letter)) return false;
  }
  return true;
}

TEST(CommandCatalog, CodesAreWellFormedAndDistinct) {
  std::set<std::string> codes;
  for (const CommandInfo& row : kCommandCatalog) {
    SCOPED_TRACE(std::string(row.code));
    EXPECT_TRUE(code_text(row.code, 'a', 'z'));
    EXPECT_TRUE(code_text(row.reply_code, 'A', 'Z'));
    EXPECT_TRUE(codes.insert(std::string(row.code)).second);
    EXPECT_EQ(command_row(written_code(row.code).view()), &row - kCommandCatalog.data());
    EXPECT_FALSE(row.action.empty());
    EXPECT_GE(row.min_fields, 2);
  }
}

// A request mask lies within the fields every request of the command has; a
// reply mask on a named reply field; the code is never hidden.
TEST(CommandCatalog, MasksLieWithinTheFields) {
  for (const CommandInfo& row : kCommandCatalog) {
    for (const FieldMask& m : row.masks) {
      SCOPED_TRACE(std::string(row.code) + " field " + std::to_string(m.field));
      EXPECT_GE(m.field, 1);
      if (m.part == MessagePart::kRequest) {
        EXPECT_LT(m.field, row.min_fields);
      } else {
        EXPECT_FALSE(row.reply_fields[static_cast<size_t>(m.field - 1)].empty());
      }
    }
  }
}

// Every header of a key field's own list has one of the field's usage letters.
TEST(CommandCatalog, KeyFieldListsMatchTheirUsageLetters) {
  for (const CommandInfo& row : kCommandCatalog) {
    for (const KeyField& key : row.key_fields) {
      SCOPED_TRACE(std::string(row.code) + " field " + std::to_string(key.field));
      EXPECT_GE(key.field, 1);
      EXPECT_LE(key.field, row.min_fields);
      bool listed = key.rule == HeaderRule::kList || key.rule == HeaderRule::kChangePinPvk;
      EXPECT_EQ(listed, !key.headers.empty());
      ASSERT_EQ(key.headers.size() % 8, 0u);
      for (size_t at = 0; at < key.headers.size(); at += 8)
        EXPECT_NE(key.usages.find(key.headers[at + 1]), std::string_view::npos);
    }
  }
}

TEST(RequestCode, FieldZeroUpToTheFirstHash) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"<31#a#b#>", "31"}, {"<5d#>", "5d"},   {"<#x#>", ""}, {"<31>", ""},
      {"<31>#x#", ""},     {"<11B#x", "11B"}, {"<", ""},     {"", ""},
  };
  for (const auto& [request, code] : cases)
    EXPECT_EQ(request_code(request), code) << request;
  EXPECT_EQ(command_of_request("<5E#x#>"), command_row("5e"));
  EXPECT_EQ(command_of_request("<5E>"), kCommandCount);
  // Codes that differ from a row's only in length or in a NUL find no row
  // ("\00000" is a NUL and "00").
  using namespace std::literals;
  for (std::string_view code : {"0"sv, "000"sv, "\00000"sv, "00\0"sv, ""sv, "00000000"sv})
    EXPECT_EQ(command_row(code), kCommandCount) << code.size();
  EXPECT_EQ(command_row("5D"), command_row("5d"));
  EXPECT_TRUE(same_code("11B", "11b"));
  EXPECT_FALSE(same_code("1a", "1a "));
}

}  // namespace
}  // namespace palisim
