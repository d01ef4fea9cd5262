#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/random.h"

#include <openssl/md5.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace palisim {

namespace {

// The C runtime's classic generator: state * 214013 + 2531011, bits 16..30.
thread_local uint32_t lcg_state = 1;

uint32_t next_lcg() {
  lcg_state = lcg_state * 214013u + 2531011u;
  return (lcg_state >> 16) & 0x7FFF;
}

std::atomic<RandomFallbackNotice> fallback_notice{nullptr};
std::atomic<bool> fallback_told{false};

void tell_fallback_once(int error) {
  if (fallback_told.exchange(true)) return;
  char text[128];
  char line[256];
  std::snprintf(line, sizeof line,
                "The kernel's random source failed (%s); new keys and IVs now come from the "
                "MD5 fallback.\n",
                strerror_r(error, text, sizeof text));
  if (RandomFallbackNotice notice = fallback_notice.load()) {
    notice(line);
  } else {
    std::fputs(line, stderr);
  }
}

void put_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void fallback_random_block(uint8_t out[8]) {
  uint8_t input[8];
  put_le32(input, static_cast<uint32_t>(std::time(nullptr)));
  put_le32(input + 4, next_lcg());
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5(input, sizeof input, digest);
  std::memcpy(out, digest, 8);
}

void random_block(uint8_t out[8]) {
  ssize_t got;
  do {
    got = getrandom(out, 8, 0);
  } while (got < 0 && errno == EINTR);
  if (got != 8) {
    tell_fallback_once(got < 0 ? errno : EIO);
    fallback_random_block(out);
  }
}

void set_random_fallback_notice(RandomFallbackNotice notice) {
  fallback_notice.store(notice);
}

void zero_block(uint8_t out[8]) {
  std::memset(out, 0, 8);
}

}  // namespace palisim
