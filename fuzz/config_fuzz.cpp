// The configuration loader over arbitrary file contents. Whatever loads must
// satisfy the record's invariants.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  palisim::set_configuration_output(sink);
  char path[] = "/tmp/palisim-fuzz-conf-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 0;
  FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
  close(fd);

  palisim::ServerParameters params;
  if (palisim::load_server_parameters(params, path)) {
    FUZZ_CHECK(std::memchr(params.interface_name, 0, sizeof params.interface_name) != nullptr);
    FUZZ_CHECK(std::memchr(params.logfile, 0, sizeof params.logfile) != nullptr);
    FUZZ_CHECK(params.port >= 1);
  }
  palisim::Settings s;
  if (palisim::load_settings(s, path, "default")) {
    FUZZ_CHECK(s.mfk_len == 0 || s.mfk_len == 8 || s.mfk_len == 16 || s.mfk_len == 24);
    FUZZ_CHECK(s.mfk_present == (s.mfk_len != 0));
    for (int i = s.mfk_len; i < 24; ++i)
      FUZZ_CHECK(s.mfk[i] == 0);
    FUZZ_CHECK(s.min_pin_len >= 4 && s.min_pin_len <= 12);
    FUZZ_CHECK(s.pin_sanity == 'S' || s.pin_sanity == 'L');
    FUZZ_CHECK(s.second_pin == 'B' || s.second_pin == 'D' || s.second_pin == 'S');
    FUZZ_CHECK(std::memchr(s.opte0.data(), 0, s.opte0.size()) != nullptr);
    FUZZ_CHECK(std::memchr(s.opte1.data(), 0, s.opte1.size()) != nullptr);
  }
  unlink(path);
  return 0;
}
