// Settings defaults and random blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "protocol/settings.h"

namespace palisim {
namespace {

TEST(Settings, DefaultsMatchTheDevice) {
  Settings s;
  s.mfk_len = 16;
  s.mfk[0] = 0x55;
  s.opt21 = 1;
  s.opt62 = 0;
  apply_default_settings(s);
  EXPECT_EQ(s.mfk_len, 0);
  EXPECT_EQ(s.mfk_present, 0);
  for (uint8_t b : s.mfk)
    EXPECT_EQ(b, 0);
  int on = 0;
  for (const OptionFlag& f : kOptionFlags)
    on += s.*(f.member);
  EXPECT_EQ(on, 2);
  EXPECT_EQ(s.opt62, 1);
  EXPECT_EQ(s.opt63, 1);
  EXPECT_EQ(s.min_pin_len, 4);
  EXPECT_EQ(s.pin_sanity, 'S');
  EXPECT_EQ(s.second_pin, 'S');
  EXPECT_EQ(s.opte0[0], '\0');
  EXPECT_EQ(s.opte2 + s.opte3 + s.opte4, 0);
}

TEST(Settings, OptionFlagTableIsInFillOrderAndDistinct) {
  EXPECT_EQ(kOptionFlags.front().name, "opt20");
  EXPECT_EQ(kOptionFlags.back().name, "opt8e");
  // Each flag fills its own member: setting one through the table sets exactly one byte.
  for (const OptionFlag& f : kOptionFlags) {
    Settings a, b;
    std::memset(static_cast<void*>(&a), 0, sizeof a);  // padding too, so memcmp sees members only
    std::memset(static_cast<void*>(&b), 0, sizeof b);
    a.*(f.member) ^= 1;
    EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0) << f.name;
    b.*(f.member) ^= 1;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << f.name;
  }
}

}  // namespace
}  // namespace palisim
