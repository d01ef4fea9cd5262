// Reply building: error grammar, append operations and the capacity bound.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/reply.h"

namespace palisim {
namespace {

struct Buf {
  char data[64];
  ReplyBuffer r{data, 0};
};

TEST(ErrorReply, DigitsAndDetail) {
  Settings s;
  Buf b;
  error_reply(s, b.r, 4, 2, kThird, 300);
  EXPECT_EQ(b.r.view(), "<00#040235#>\r\n");
  s.opt21 = 1;
  Buf c;
  error_reply(s, c.r, 6, 12, kThird, 622);
  EXPECT_EQ(c.r.view(), "<00#061235#0622##>\r\n");
  Buf d;
  error_reply(s, d.r, 23, 0, kThird, 12345);
  EXPECT_EQ(d.r.view(), "<00#230035#12345##>\r\n");
  Buf n;  // as printf's %04d: the sign takes a digit's place
  error_reply(s, n.r, 9, 1, kThird, -7);
  EXPECT_EQ(n.r.view(), "<00#090135#-007##>\r\n");
  s.opt23 = 1;
  Buf e;
  error_reply(s, e.r, 1, 3, kThird, 3);
  EXPECT_EQ(e.r.view(), "<00#010335#0003##>");
}

TEST(AppendOps, BytesDecimalsAndText) {
  Buf b;
  EXPECT_EQ(append_decimal(b.r, -5), 2);
  EXPECT_EQ(append_decimal(b.r, 0), 1);
  append_text(b.r, "");
  const uint8_t raw[3] = {'a', 0, 'b'};
  EXPECT_EQ(append_bytes(b.r, raw), 3);
  append_byte(b.r, 'z');
  EXPECT_EQ(b.r.len, 7);
  EXPECT_EQ(std::string(b.data, 7), std::string("-50a\0bz", 7));
}

TEST(AppendOps, NeverWritePastCapacity) {
  char data[8 + 4];
  std::memset(data, '!', sizeof data);
  ReplyBuffer r{std::span<char>(data, 8), 0};
  append_text(r, "0123456789");
  append_separator(r);
  append_decimal(r, 123456);
  EXPECT_EQ(r.len, 8);
  EXPECT_EQ(std::string(data, 12), "01234567!!!!");
}

}  // namespace
}  // namespace palisim
