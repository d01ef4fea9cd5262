// Writes the sample requests as fuzz corpus inputs:
//   write_corpus DISPATCH_DIR FRAMING_DIR
// Dispatch inputs are the two option bytes that fuzz/dispatch_fuzz.cpp reads
// (chosen to match the sample configuration) and one request. Framing inputs
// are streams of several requests cut into [length byte][bytes] chunks.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sample_requests.h"

namespace {

using palisim::testing::sample_requests;
using palisim::testing::sample_text;
using palisim::testing::SampleRequest;

// MFK present, every option flag off.
constexpr char kFlagsByte = 0x00;
// PIN sanity 'L', DUKPT mode 'B', shortest PIN 4, usage letters opened.
constexpr char kPinByte = static_cast<char>(0xC1);

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

// The stream cut into chunks whose lengths cycle through `sizes` (1 to 255).
std::string chunked(const std::string& stream, const std::vector<size_t>& sizes) {
  std::string out;
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); ++i) {
    size_t n = std::min(sizes[i % sizes.size()], stream.size() - at);
    out += static_cast<char>(n);
    out.append(stream, at, n);
    at += n;
  }
  return out;
}

struct FramingInput {
  const char* name;
  std::string stream;
  std::vector<size_t> sizes;
};

std::vector<FramingInput> framing_inputs() {
  const std::string line_of_three = sample_text("00_echo") + sample_text("30_published_block") +
                                    sample_text("90_published_block") + "\r";
  return {
      {"lines_in_tiny_chunks", "<00#a#>\r<zz#>\r<00#b#^e#>\r", {1, 2, 3}},
      {"three_requests_per_line", line_of_three + sample_text("5D_visa_example") + "\r", {200, 7}},
      {"key_blocks_across_chunks",
       sample_text("31_type_7") + "\r" + sample_text("13_double") + "\r",
       {255, 13}},
      {"noise_and_line_feeds", "noise<00#x#>junk<00#y#>\r\n<00#z#>\r\n\r<>\r", {5, 11}},
      {"unterminated_tail", line_of_three + sample_text("97_encipher_zero_iv"), {64}},
      {"malformed_stream",
       sample_text("dispatch_empty") + sample_text("00_field_not_ended") + "\r" +
           sample_text("98_iv_D") + "<<00#q#>>\r",
       {31, 1}},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_corpus DISPATCH_DIR FRAMING_DIR\n");
    return 2;
  }
  const std::string dispatch_dir = argv[1], framing_dir = argv[2];
  int written = 0;
  for (const SampleRequest& r : sample_requests()) {
    std::string bytes = std::string{kFlagsByte, kPinByte} + r.text;
    if (!write_file(dispatch_dir + "/" + r.name, bytes)) return 1;
    ++written;
  }
  for (const FramingInput& f : framing_inputs()) {
    if (!write_file(framing_dir + "/" + f.name, chunked(f.stream, f.sizes))) return 1;
    ++written;
  }
  std::printf("wrote %d inputs\n", written);
  return 0;
}
