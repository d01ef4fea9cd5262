// Cutting a byte stream into carriage-return lines and "<...>" requests.
#include "protocol/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace palisim {
namespace {

// What the framing finds: each line's requests between brackets, then the
// bytes after the last line.
std::string framed(std::string_view text) {
  std::span<const char> bytes(text.data(), text.size());
  std::string out;
  int32_t from = 0;
  while (std::optional<ByteSpan> line = next_line(bytes, from)) {
    out += "[";
    int32_t pos = line->begin;
    while (std::optional<ByteSpan> r = next_request(bytes, *line, pos)) {
      out += text.substr(static_cast<size_t>(r->begin), static_cast<size_t>(r->size()));
      pos = r->end;
    }
    out += "]";
    from = line->end;
  }
  EXPECT_EQ(unended_start(bytes), from) << text;
  return out + " rest " + std::string(text.substr(static_cast<size_t>(from)));
}

TEST(Framing, LinesAndTheirRequests) {
  const struct {
    std::string_view bytes;
    std::string_view found;
  } rows[] = {
      {"<00#x#>\r\n", "[<00#x#>] rest \n"},  // the line feed begins the next line
      {"<00#a#><00#b#>\r", "[<00#a#><00#b#>] rest "},
      {"xx<00#a#>yy\r", "[<00#a#>] rest "},
      {"no request\r<00#a\r", "[][] rest "},  // a '<' without its '>' is no request
      {"<<00#a#>\r", "[<<00#a#>] rest "},     // a '<' inside a request belongs to it
      {"a>b<c>\r", "[<c>] rest "},
      {"<00#a\r#>\r", "[][] rest "},  // a request begins and ends within one line
      {"\r\r<>\r", "[][][<>] rest "},
      {"<00#a#>", " rest <00#a#>"},  // no carriage return yet: no line
      {"<00#a#>\r<00#b", "[<00#a#>] rest <00#b"},
      {"", " rest "},
  };
  for (const auto& row : rows)
    EXPECT_EQ(framed(row.bytes), row.found) << row.bytes;
}

TEST(Framing, SearchesResumeWhereTheyAreTold) {
  std::string_view text = "<a><b>\r<c>\r";
  std::span<const char> bytes(text.data(), text.size());
  EXPECT_EQ(next_line(bytes, 7), (ByteSpan{7, 11}));
  EXPECT_EQ(next_line(bytes, 11), std::nullopt);
  EXPECT_EQ(next_request(bytes, {0, 7}, 1), (ByteSpan{3, 6}));
  EXPECT_EQ(next_request(bytes, {0, 7}, 6), std::nullopt);  // <c> lies beyond the line
}

}  // namespace
}  // namespace palisim
