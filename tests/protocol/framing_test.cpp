// Cutting a byte stream into carriage-return lines and "<...>" requests.
#include "protocol/framing.h"

#include <gtest/gtest.h>

#include "protocol/frame_scan.h"

#include <string>
#include <string_view>

namespace palisim {
namespace {

// A request and its fields as "<...>(f0|f1|...)", then the request as cut.
std::string shown(std::string_view request, const Fields& f, const std::string& cut) {
  std::string out(request);
  out += "(";
  for (int i = 0; i < f.count; ++i)
    out += std::string(f.ptr[i], f.len[i]) + (i + 1 < f.count ? "|" : "");
  return out + ")" + cut;
}

// What the framing finds: each line's requests between brackets (with
// `fields`, as split_request cuts them), then the bytes after the last line.
std::string framed(std::string_view text, bool fields = false) {
  std::span<const char> bytes(text.data(), text.size());
  std::string out;
  int32_t from = 0;
  while (std::optional<ByteSpan> line = next_line(bytes, from)) {
    out += "[";
    int32_t pos = line->begin;
    while (std::optional<ByteSpan> r = next_request(bytes, *line, pos)) {
      std::string request(
          text.substr(static_cast<size_t>(r->begin), static_cast<size_t>(r->size())));
      if (fields) {
        std::string cut = request;
        Fields f;
        split_request(cut.data(), r->size(), f);
        request = shown(request, f, cut);
      }
      out += request;
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

// What framed(text, true) shows, found by FrameScan in one pass.
std::string scanned(std::string text) {
  std::span<const char> bytes(text.data(), text.size());
  const int32_t lines_end = unended_start(bytes);
  FrameScan scan(bytes, 0, lines_end);
  std::string out = "[";
  Fields f;
  for (Frame frame; (frame = scan.next(f)).kind != FrameKind::kEnd;) {
    if (frame.kind == FrameKind::kLineEnd) {
      out += "][";
      continue;
    }
    std::string request =
        text.substr(static_cast<size_t>(frame.span.begin), static_cast<size_t>(frame.span.size()));
    std::string shown_fields = shown(request, f, "");
    cut_fields(text.data() + frame.span.begin, f);
    out += shown_fields + text.substr(static_cast<size_t>(frame.span.begin),
                                      static_cast<size_t>(frame.span.size()));
  }
  return out.substr(0, out.size() - 1) + " rest " + text.substr(static_cast<size_t>(lines_end));
}

TEST(FrameScan, FindsWhatTheSearchesFindInEveryPrefix) {
  std::string many_fields = "<95";
  for (int i = 0; i < kMaxFields + 6; ++i)
    many_fields += "#" + std::to_string(i);
  const std::string texts[] = {
      "<00#Sent for testing throughput...#>\r<00#Sent for testing throughput...#>\r",
      "xx<00#a#><<11#b##>yy>#\r\r<00#a\r#>\r<>\r<##>\r<00#a#>",
      many_fields + "#>\r" + many_fields + "\r",
      "<0123456789abcdef#0123456789abcde#>\rno request at all here, only text\r<9#",
  };
  for (const std::string& text : texts) {
    for (size_t n = 0; n <= text.size(); ++n)
      EXPECT_EQ(scanned(text.substr(0, n)), framed(text.substr(0, n), true)) << text.substr(0, n);
  }
}

}  // namespace
}  // namespace palisim
