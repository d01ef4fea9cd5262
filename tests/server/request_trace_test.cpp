// The request trace: every field that carries a secret masked, errors in
// words, input that never became a request; and the per-command counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/command_catalog.h"
#include "protocol/frame_scan.h"
#include "sample_requests.h"
#include "server/command_stats.h"
#include "server/trace_masks.h"
#include "trace_capture.h"

namespace palisim::testing {
namespace {

const std::string kStars48(48, '*');
const std::string kText = "4E6F77206973207468652074696D6520666F7220616C6C20";

std::string traced(const std::string& sample, TraceMode mode = TraceMode::kMasked) {
  return served_trace({sample_text(sample) + "\r"}, mode);
}

// The request as the trace line shows it.
std::string shown_request(const std::string& line) {
  size_t from = line.find(": <") + 2;
  return line.substr(from, line.find(" -> ") - from);
}

TEST(RequestTrace, MasksEverySecretAndExplainsErrors) {
  struct Case {
    std::string sample;
    std::vector<std::string> shown;  // each part of the masked line
  };
  const std::vector<Case> cases = {
      {"30_published_block", {"#****#401234**7890#> -> <40#1B9C1845EB993A7A#> "}},
      {"30_twelve_digits_echo", {"#************#401234**7890#^e 1#> -> <40#"}},
      {"30_pin_not_digits",
       {"#**a*#401234**7890#> -> <00#020235#> ",
        " us, field 2: character outside the field's set (2/2, 0102)\n"}},
      {"31_type_1", {"#10A01C8D02C69107#401234**7890#> -> <41#1B9C1845EB993A7A#Y#> "}},
      {"32_type_1", {"##****#1#*******8036#432000**8036#> -> <42#Y#> "}},
      {"37_change", {"##****#1#*******8036#", "#432000**8036#> -> <47#Y#****#> "}},
      {"90_eight_digits", {"#401234**7890#> -> <A0#********#> "}},
      {"90_echo_field", {"#401234**7890#^^#> -> <A0#****#^^#> "}},
      {"5D_visa_example", {"##412345*************1101#> -> <6D#********#08D7##> "}},
      {"5E_match", {"##412345*************1101#***#> -> <6D#Y#08D7##> "}},
      {"5E_key_forged_mac", {" us, field 2: key block check failed (6/2, 0622)\n"}},
      {"97_encipher_zero_iv",
       {"#U#48#" + kStars48 + "#> -> <A7#E#1#08D7#D#",
        "#U#48#D80A0D8B2BAE5E4E319E5E68C3E8891B93462A6DB9B4A4D1#> "}},
      {"97_decipher_iv_block", {"#U#48#" + kText + "#> -> <A7#D#", "#U#48#" + kStars48 + "#> "}},
      {"97_data_shorter_than_length",
       {"field 7: wrong length: 48 hex digits, the length field says 50 (1/7"}},
      {"30_pin_of_3", {"field 2: wrong length: 3 digits, expected 4 to 12 (1/2, 0003)"}},
      {"30_account_of_11", {"field 3: wrong length: 11 digits, expected 12 (1/3"}},
      {"10_kek_of_73", {"field 2: wrong length: 73 characters, expected 74 (1/2"}},
      {"10_two_length_letters", {"field 3: wrong length: 2 characters, expected at most 1 (1/3"}},
      {"11B_text_of_33", {"field 2: wrong length: 33 hex digits, expected 16, 32 or 48 (1/2"}},
      {"98_no_indicator", {"field 2: wrong length: 0 characters, expected at least 1 (1/2"}},
      {"97_mode_EE", {"field 1: wrong length: 2 characters, expected 1 (1/1"}},
      {"31_ksn_of_9", {"field 6: wrong length: 9 hex digits, expected 10 to 20 (1/6"}},
      {"99_indicator_0_with_mac",
       {"field 8: wrong length: 9 characters, expected none for MAC output 0"}},
      {"dispatch_unknown_code",
       {": <zz#> -> <00#230035#> ", " us, field 0: unknown command (23/0, 0203)\n"}},
  };
  for (const Case& c : cases) {
    std::string line = traced(c.sample);
    for (const std::string& part : c.shown)
      EXPECT_NE(line.find(part), std::string::npos) << c.sample << ": " << line;
  }
}

TEST(RequestTrace, FullShowsRequestsAsSentAndMaskingOnlyHides) {
  for (const SampleRequest& sample : sample_requests()) {
    EXPECT_EQ(shown_request(traced(sample.name, TraceMode::kFull)), sample.text) << sample.name;
    std::string masked = shown_request(traced(sample.name));
    ASSERT_EQ(masked.size(), sample.text.size()) << sample.name;
    for (size_t i = 0; i < masked.size(); ++i)
      EXPECT_TRUE(masked[i] == sample.text[i] || masked[i] == '*') << sample.name << " at " << i;
  }
}

TEST(RequestTrace, ShiftedFieldsOrAnUnknownCodeShowOnlyTheCode) {
  for (size_t row = 0; row < kCommandCount; ++row) {
    const auto sample = std::find_if(
        sample_requests().begin(), sample_requests().end(),
        [row](const SampleRequest& r) { return r.valid() && command_of_request(r.text) == row; });
    ASSERT_NE(sample, sample_requests().end()) << row;
    const std::string& text = sample->text;
    const size_t code_end = text.find('#'), field1_end = text.find('#', code_end + 1);
    const bool hides = !shown_request(traced(sample->name)).ends_with(text.substr(code_end));
    // A field more and a field fewer right after the code, and a blank before it.
    for (std::string shifted :
         {text.substr(0, code_end) + "#" + text.substr(code_end),
          text.substr(0, code_end) + text.substr(field1_end), "< " + text.substr(1)}) {
      if (!hides && shifted[1] == ' ') continue;
      std::string line = served_trace({shifted + "\r"}, TraceMode::kMasked);
      std::string shown = shown_request(line);
      EXPECT_EQ(shown_request(served_trace({shifted + "\r"}, TraceMode::kFull)), shifted);
      if (!hides) {
        EXPECT_EQ(shown, shifted) << "nothing to hide";
        continue;
      }
      const size_t code = shown.find('#');
      EXPECT_EQ(shown.substr(0, code), shifted.substr(0, code));
      EXPECT_EQ(shown.find_first_not_of("#*", code), shown.size() - 1) << line;
    }
  }
}

// A request is masked through the fields the dispatcher found as a scan of
// its '#' masks it: every sample, and each with a field more and one fewer
// after its code, and one with an echo field. Where only account fields
// are shortened, masking a copy later shows the same, and nothing else.
TEST(RequestTrace, MasksThroughTheDispatchersCutAsThroughAScan) {
  int left_to_reads = 0;
  for (const SampleRequest& sample : sample_requests()) {
    const std::string& text = sample.text;
    const size_t code_end = text.find('#');
    std::vector<std::string> requests = {text};
    if (code_end != std::string::npos && text.find('#', code_end + 1) != std::string::npos) {
      requests.push_back(text.substr(0, code_end) + "#" + text.substr(code_end));
      requests.push_back(text.substr(0, code_end) + text.substr(text.find('#', code_end + 1)));
    }
    if (text.ends_with("#>")) requests.push_back(text.substr(0, text.size() - 1) + "^e#>");
    for (const std::string& request : requests) {
      const std::string bytes = request + "\r";
      Fields fields;
      FrameScan scan(bytes, 0, static_cast<int32_t>(bytes.size()));
      const Frame frame = scan.next(fields);
      if (frame.kind != FrameKind::kRequest) continue;
      RequestRecord record;
      record.request = std::string_view(bytes).substr(static_cast<size_t>(frame.span.begin),
                                                      static_cast<size_t>(frame.span.size()));
      record.command = command_of_request(record.request);
      std::string by_scan(record.request), by_cut(record.request);
      mask_exchange(by_scan, {}, record);
      record.fields = &fields;
      mask_exchange(by_cut, {}, record);
      EXPECT_EQ(by_cut, by_scan) << sample.name;
      if (!hides_only_account_digits(record, record.request.size())) continue;
      ++left_to_reads;
      std::string on_read(record.request);
      mask_message(on_read, record.command, MessagePart::kRequest);
      EXPECT_EQ(on_read, by_cut) << request;
      // Nothing but the row's account fields changes.
      auto shortened = [&](size_t field) {
        for (const FieldMask& m : kCommandCatalog[record.command].masks)
          if (m.field == static_cast<int>(field) &&
              (m.kind == MaskKind::kAccount || m.kind == MaskKind::kAccountTail))
            return true;
        return false;
      };
      for (size_t i = 0, field = 0; i < request.size(); field += request[i++] == '#')
        EXPECT_TRUE(on_read[i] == request[i] || shortened(field)) << request << " at " << i;
    }
  }
  EXPECT_GT(left_to_reads, 0);
}

// An account number shows its first six and last four digits, or only its
// last four up to ten digits, whatever its length.
TEST(RequestTrace, HidesTheMiddleOfAccountNumbersOfEveryLength) {
  const std::string digits = "1234567890123456789012345";
  for (size_t len = 1; len < digits.size(); ++len) {
    const std::string account = digits.substr(0, len);
    std::string shown = account;
    if (len > 10) {
      shown = account.substr(0, 6) + std::string(len - 10, '*') + account.substr(len - 4);
    } else if (len > 4) {
      shown = std::string(len - 4, '*') + account.substr(len - 4);
    }
    const std::string head = "<31#1#K#K#PB#";
    std::string request = head + account + "#>";
    mask_message(request, command_row("31"), MessagePart::kRequest);
    EXPECT_EQ(request, head + shown + "#>") << len;
  }
}

TEST(RequestTrace, SaysWhenInputNeverBecomesARequest) {
  // A line without a request, a blank line, a request, then two ended by LF only.
  std::string out = served_trace({"junk\r\r\n<00#a#>\r", "<b>\n", "<c>\n"}, TraceMode::kMasked);
  EXPECT_NE(out.find("from 127.0.0.1:4000: a line of 5 bytes holds no <...> request"),
            std::string::npos);
  EXPECT_NE(out.find(": closed with 8 bytes after its last carriage return, never answered"),
            std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
  // A client ending lines with CR LF leaves a lone line feed behind: nothing to say.
  EXPECT_EQ(served_trace({"<00#a#>\r\n"}, TraceMode::kMasked).find("line feed"), std::string::npos);
}

TEST(CommandStats, CountsPerCommandWithUnknownCodesInARowOfTheirOwn) {
  CommandStats stats;
  EXPECT_EQ(served_trace({"<00#a#><00#b#><zz#>\r", sample_text("5E_key_forged_mac") + "\r"},
                         TraceMode::kOff, &stats),
            "");
  EXPECT_EQ(stats.requests(), 4u);
  DiagCapture diag;
  stats.print();
  std::string table = diag.text();
  for (const char* row :
       {"\n  00                  2          0 ", "\n  5E                  1          1 ",
        "\n  other               1          1 ", "\n  total               4          2 "})
    EXPECT_NE(table.find(row), std::string::npos) << row << table;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 6);
}

}  // namespace
}  // namespace palisim::testing
