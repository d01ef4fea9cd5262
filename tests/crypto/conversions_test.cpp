// Hex conversion, digit tests and random blocks.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include "crypto/hex.h"
#include "crypto/random.h"

namespace palisim {
namespace {

TEST(Hex, BinaryToHexAndBack) {
  const uint8_t bytes[4] = {0x00, 0xFF, 0x10, 0xA5};
  char text[9];
  binary_to_hex(text, bytes, 4);
  EXPECT_STREQ(text, "00FF10A5");
  uint8_t lower[8], upper[8];
  hex_to_binary(lower, "0123456789abcdef", 16);
  hex_to_binary(upper, "0123456789ABCDEF", 16);
  EXPECT_EQ(std::memcmp(lower, upper, 8), 0);
  EXPECT_EQ(upper[7], 0xEF);
}

TEST(Hex, OddLengthAndNonHexCharacters) {
  uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  hex_to_binary(out, "12345", 5);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x34);
  EXPECT_EQ(out[2], 0xAA);  // the odd last character is ignored
  hex_to_binary(out, "G00G", 4);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(out[1], 0x10);
}

TEST(Digits, DecimalAndHexTests) {
  EXPECT_TRUE(all_decimal_digits(""));
  EXPECT_TRUE(all_decimal_digits("0123456789"));
  EXPECT_FALSE(all_decimal_digits("12a4"));
  EXPECT_FALSE(all_decimal_digits("-12"));
  EXPECT_FALSE(all_decimal_digits(" 1"));
  EXPECT_TRUE(all_hex_digits(""));
  EXPECT_TRUE(all_hex_digits("0123456789abcDEF"));
  EXPECT_FALSE(all_hex_digits("0123456G89abcdef"));
  EXPECT_FALSE(
      all_hex_digits(std::string_view("12\0"
                                      "4",
                                      4)));
  EXPECT_FALSE(all_hex_digits("\xC3\xA9"));
}

TEST(RandomBlock, DrawsDifferentBlocks) {
  std::set<uint64_t> seen;
  for (int i = 0; i < 100; ++i) {
    uint8_t b[8];
    random_block(b);
    uint64_t v;
    std::memcpy(&v, b, 8);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(RandomBlock, FallbackAdvancesWithinOneSecond) {
  uint8_t a[8], b[8];
  fallback_random_block(a);
  fallback_random_block(b);
  EXPECT_NE(std::memcmp(a, b, 8), 0);
  uint8_t z[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  zero_block(z);
  for (uint8_t v : z)
    EXPECT_EQ(v, 0);
}

// In a child whose getrandom fails: the fallback's blocks, and one line.
TEST(RandomBlock, FailingSourceFallsBackAndSaysSoOnce) {
  int lines[2];
  ASSERT_EQ(pipe(lines), 0);
  pid_t pid = fork();
  if (pid == 0) {
    static int out = lines[1];
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{4, filter};
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) _exit(2);
    set_random_fallback_notice([](const char* line) { (void)!write(out, line, strlen(line)); });
    uint8_t a[8], b[8];
    random_block(a);
    random_block(b);
    _exit(std::memcmp(a, b, 8) != 0 ? 0 : 1);
  }
  close(lines[1]);
  char text[512] = {};
  int status = -1;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);  // then the pipe holds all it wrote
  EXPECT_GT(read(lines[0], text, sizeof text - 1), 0);
  EXPECT_EQ(status, 0);
  EXPECT_STREQ(text,
               "The kernel's random source failed (Function not implemented); new keys and IVs now "
               "come from the MD5 fallback.\n");
}

}  // namespace
}  // namespace palisim
