// Valid and malformed requests of every command, each with the reply it must
// get, shared by the tests, the fuzz corpora and the benchmarks.
#pragma once

#include <string>
#include <vector>

namespace palisim::testing {

// The MFK of the shipped atalla.conf; every sample key block is built under it.
inline constexpr char kSampleMfkHex[] = "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";

struct SampleRequest {
  std::string name;         // unique, short, usable as a file name
  std::string text;         // "<...>": one request without a line end
  std::string reply_code;   // valid: the first field of its success reply; empty when malformed
  std::string known_reply;  // valid with a published answer: the whole reply, no line end
  int error_type = 0;       // malformed: the type,
  int error_field = 0;      // the field number
  int error_detail = 0;     // and the detail code of its error reply

  bool valid() const { return !reply_code.empty(); }
};

// Command by command: a few valid requests, then malformed variants of them.
// Valid requests succeed under sample_settings() (sample_configuration.h).
// No request holds '\r' or a '>' before its end, so each frames as itself.
const std::vector<SampleRequest>& sample_requests();

// The text of the sample request of that name; empty when there is none.
const std::string& sample_text(const std::string& name);

// What the sample requests hold in clear only inside the device, for tests
// that look for what a request leaves behind: keys, KEK variants and derived
// DUKPT keys, clear PIN blocks (all as hex), and clear PINs of eight digits or
// more (shorter ones turn up by chance).
struct SampleSecrets {
  std::vector<std::string> key_hex;  // 8, 16 or 24 bytes each
  std::vector<std::string> pins;     // decimal text
  // PVVs and CVVs sent or replied, decimal text.
  std::vector<std::string> verification_values;
};
const SampleSecrets& sample_secrets();

// The error reply the malformed request gets, CR LF included; with_detail
// when opt21 is on.
std::string expected_error_reply(const SampleRequest& request, bool with_detail);

// True when the reply is an error reply: "<00#" and six digits other than
// the echo command's "000035".
bool is_error_reply(const std::string& reply);

}  // namespace palisim::testing
