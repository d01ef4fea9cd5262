#include "crypto/des.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "des_oracle.h"
#include "vec_file.h"

namespace palisim {
namespace {

using Block = std::array<uint8_t, 8>;
using Bytes = std::vector<uint8_t>;
using testing::oracle_cbc;
using testing::oracle_ecb;

Bytes random_bytes(std::mt19937& gen, size_t n) {
  Bytes b(n);
  for (auto& x : b)
    x = static_cast<uint8_t>(gen());
  return b;
}

Bytes des_encipher(const uint8_t* key, const uint8_t* in) {
  Bytes out(8);
  DesContext ctx;
  make_des_context(key, ctx);
  des_encipher_block(ctx, in, out.data());
  return out;
}

Bytes des_decipher(const uint8_t* key, const uint8_t* in) {
  Bytes out(8);
  DesContext ctx;
  make_des_context(key, ctx);
  des_decipher_block(ctx, in, out.data());
  return out;
}

void make_triple_context(const Bytes& key, TripleDesContext& ctx) {
  if (key.size() == 16) {
    make_two_key_triple_des_context(key.data(), ctx);
  } else {
    make_three_key_triple_des_context(key.data(), ctx);
  }
}

// Our CBC over in, for a key of 8 bytes (single DES) or 16/24 (triple-DES).
Bytes our_cbc(const Bytes& key, Block cv, const Bytes& in, bool encipher) {
  Bytes out(in.size());
  auto len = static_cast<int32_t>(in.size());
  if (key.size() == 8) {
    DesContext ctx;
    make_des_context(key.data(), ctx);
    if (encipher) {
      des_cbc_encipher(ctx, cv.data(), in.data(), out.data(), len);
    } else {
      des_cbc_decipher(ctx, cv.data(), in.data(), out.data(), len);
    }
  } else {
    TripleDesContext ctx;
    make_triple_context(key, ctx);
    if (encipher) {
      triple_des_cbc_encipher(ctx, cv.data(), in.data(), out.data(), len);
    } else {
      triple_des_cbc_decipher(ctx, cv.data(), in.data(), out.data(), len);
    }
  }
  return out;
}

TEST(DesKnownAnswers, EveryVectorEnciphersAndDeciphersByKeyLength) {
  auto records = test::read_vec_file("des.vec");
  ASSERT_GE(records.size(), 50u);
  for (const auto& rec : records) {
    SCOPED_TRACE("des.vec record at line " + std::to_string(rec.line));
    const Bytes& key = rec["Key"];
    const Bytes& in = rec["In"];
    const Bytes& want = rec["Out"];
    ASSERT_TRUE(key.size() == 8 || key.size() == 16 || key.size() == 24);
    ASSERT_EQ(in.size(), 8u);
    ASSERT_EQ(want.size(), 8u);
    auto key_len = static_cast<int32_t>(key.size());

    Bytes out(8);
    encipher_block_by_key_length(key.data(), key_len, in.data(), out.data());
    EXPECT_EQ(out, want);
    decipher_block_by_key_length(key.data(), key_len, want.data(), out.data());
    EXPECT_EQ(out, in);
  }
}

TEST(DesKnownAnswers, ContextBlockFunctionsGiveTheVectors) {
  for (const auto& rec : test::read_vec_file("des.vec")) {
    SCOPED_TRACE("des.vec record at line " + std::to_string(rec.line));
    const Bytes& key = rec["Key"];
    Bytes out(8);
    if (key.size() == 8) {
      EXPECT_EQ(des_encipher(key.data(), rec["In"].data()), rec["Out"]);
      EXPECT_EQ(des_decipher(key.data(), rec["Out"].data()), rec["In"]);
    } else {
      TripleDesContext ctx;
      make_triple_context(key, ctx);
      triple_des_encipher_block(ctx, rec["In"].data(), out.data());
      EXPECT_EQ(out, rec["Out"]);
      triple_des_decipher_block(ctx, rec["Out"].data(), out.data());
      EXPECT_EQ(out, rec["In"]);
    }
  }
}

// Random keys and data against OpenSSL's DES: every key length, ECB blocks
// and CBC runs of several blocks in both directions.
TEST(DesAgainstOpenSsl, RandomKeysAndDataAgree) {
  std::mt19937 gen(46);
  for (size_t key_len : {8u, 16u, 24u}) {
    for (int trial = 0; trial < 300; ++trial) {
      SCOPED_TRACE("key length " + std::to_string(key_len) + ", trial " + std::to_string(trial));
      Bytes key = random_bytes(gen, key_len);
      Bytes in = random_bytes(gen, 8);

      Bytes want = oracle_ecb(key, in, true);
      Bytes out(8);
      encipher_block_by_key_length(key.data(), static_cast<int32_t>(key_len), in.data(),
                                   out.data());
      ASSERT_EQ(out, want);

      Block iv;
      for (auto& b : iv)
        b = static_cast<uint8_t>(gen());
      Bytes data = random_bytes(gen, 8 * (1 + trial % 6));
      ASSERT_EQ(our_cbc(key, iv, data, true), oracle_cbc(key, iv, data, true));
      ASSERT_EQ(our_cbc(key, iv, data, false), oracle_cbc(key, iv, data, false));
    }
  }
}

TEST(KeyLengthSelection, LengthSixteenIsEdeWithFirstPartTwice) {
  std::mt19937 gen(16);
  for (int trial = 0; trial < 50; ++trial) {
    Bytes key = random_bytes(gen, 16);
    Bytes x = random_bytes(gen, 8);
    Bytes want = des_encipher(
        key.data(), des_decipher(key.data() + 8, des_encipher(key.data(), x.data()).data()).data());
    Bytes out(8);
    encipher_block_by_key_length(key.data(), 16, x.data(), out.data());
    EXPECT_EQ(out, want);
  }
}

TEST(KeyLengthSelection, ThreeEqualPartsGiveSingleDes) {
  std::mt19937 gen(24);
  for (int trial = 0; trial < 50; ++trial) {
    Bytes part = random_bytes(gen, 8);
    Bytes key;
    for (int i = 0; i < 3; ++i)
      key.insert(key.end(), part.begin(), part.end());
    Bytes x = random_bytes(gen, 8);
    Bytes out(8);
    encipher_block_by_key_length(key.data(), 24, x.data(), out.data());
    EXPECT_EQ(out, des_encipher(part.data(), x.data()));
    decipher_block_by_key_length(key.data(), 24, x.data(), out.data());
    EXPECT_EQ(out, des_decipher(part.data(), x.data()));
  }
}

TEST(KeyLengthSelection, AnyOtherLengthReadsTwentyFourBytes) {
  std::mt19937 gen(5);
  Bytes key = random_bytes(gen, 24);
  Bytes x = random_bytes(gen, 8);
  Bytes want(8);
  Bytes back(8);
  encipher_block_by_key_length(key.data(), 24, x.data(), want.data());
  for (int32_t odd_len : {0, 5, 12, 23, 25, -1}) {
    SCOPED_TRACE("length " + std::to_string(odd_len));
    Bytes out(8);
    encipher_block_by_key_length(key.data(), odd_len, x.data(), out.data());
    EXPECT_EQ(out, want);
    decipher_block_by_key_length(key.data(), odd_len, want.data(), back.data());
    EXPECT_EQ(back, x);
  }
  // A two-key length must not read past byte 15.
  Bytes other_third = key;
  other_third[16] ^= 0x80;
  Bytes a(8), b(8);
  encipher_block_by_key_length(key.data(), 16, x.data(), a.data());
  encipher_block_by_key_length(other_third.data(), 16, x.data(), b.data());
  EXPECT_EQ(a, b);
}

TEST(KeyLengthSelection, DecipherInvertsEncipherAtEveryLength) {
  std::mt19937 gen(8);
  for (int32_t key_len : {8, 16, 24}) {
    for (int trial = 0; trial < 50; ++trial) {
      Bytes key = random_bytes(gen, 24);
      Bytes x = random_bytes(gen, 8);
      Bytes y(8), back(8);
      encipher_block_by_key_length(key.data(), key_len, x.data(), y.data());
      EXPECT_NE(y, x);
      decipher_block_by_key_length(key.data(), key_len, y.data(), back.data());
      EXPECT_EQ(back, x) << "key length " << key_len;
    }
  }
}

TEST(DesKeys, ParityBitsAreIgnored) {
  std::mt19937 gen(1);
  Bytes key = random_bytes(gen, 8);
  Bytes flipped = key;
  for (auto& b : flipped)
    b ^= 0x01;
  Bytes x = random_bytes(gen, 8);
  EXPECT_EQ(des_encipher(key.data(), x.data()), des_encipher(flipped.data(), x.data()));
  // Any other bit of the key matters.
  Bytes changed = key;
  changed[3] ^= 0x02;
  EXPECT_NE(des_encipher(key.data(), x.data()), des_encipher(changed.data(), x.data()));
}

TEST(DesKeys, WeakKeyIsAcceptedAndIsItsOwnInverse) {
  // For a weak key all round keys are equal, so enciphering twice is the identity.
  const Bytes weak = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
  const Bytes x = {0x4E, 0x6F, 0x77, 0x20, 0x69, 0x73, 0x20, 0x74};
  Bytes once = des_encipher(weak.data(), x.data());
  EXPECT_NE(once, x);
  EXPECT_EQ(des_encipher(weak.data(), once.data()), x);
}

TEST(DesContexts, DecipheringEntriesAreTheEncipheringOnesReversed) {
  std::mt19937 gen(32);
  Bytes key = random_bytes(gen, 24);
  DesContext single;
  make_des_context(key.data(), single);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(single.k[16 + i][0], single.k[15 - i][0]);
    EXPECT_EQ(single.k[16 + i][1], single.k[15 - i][1]);
  }

  // The six triple-DES schedules, against single-DES contexts of each part.
  DesContext k1, k2, k3;
  make_des_context(key.data(), k1);
  make_des_context(key.data() + 8, k2);
  make_des_context(key.data() + 16, k3);
  TripleDesContext triple;
  make_three_key_triple_des_context(key.data(), triple);
  const DesContext* parts[6] = {&k1, &k2, &k3, &k3, &k2, &k1};
  const int offsets[6] = {0, 16, 0, 16, 0, 16};  // enciphering or deciphering half
  for (int s = 0; s < 6; ++s) {
    EXPECT_EQ(0, std::memcmp(triple.k[16 * s], parts[s]->k[offsets[s]], 16 * sizeof triple.k[0]))
        << "schedule " << s + 1;
  }

  TripleDesContext two_key;
  make_two_key_triple_des_context(key.data(), two_key);
  EXPECT_EQ(0, std::memcmp(two_key.k[32], k1.k[0], 16 * sizeof two_key.k[0]));
  EXPECT_EQ(0, std::memcmp(two_key.k[48], k1.k[16], 16 * sizeof two_key.k[0]));
}

class DesCbc : public ::testing::TestWithParam<size_t> {};

TEST_P(DesCbc, WholeRunEqualsBlockByBlockWithOneChainingValue) {
  std::mt19937 gen(static_cast<unsigned>(GetParam()));
  Bytes key = random_bytes(gen, GetParam());
  Block iv;
  for (auto& b : iv)
    b = static_cast<uint8_t>(gen());
  Bytes data = random_bytes(gen, 24);

  for (bool encipher : {true, false}) {
    SCOPED_TRACE(encipher ? "encipher" : "decipher");
    Bytes whole = our_cbc(key, iv, data, encipher);
    Block cv = iv;
    Bytes pieces;
    for (size_t off = 0; off < 24; off += 8) {
      Bytes one(data.begin() + static_cast<long>(off), data.begin() + static_cast<long>(off) + 8);
      Bytes out(8);
      if (key.size() == 8) {
        DesContext ctx;
        make_des_context(key.data(), ctx);
        (encipher ? des_cbc_encipher : des_cbc_decipher)(ctx, cv.data(), one.data(), out.data(), 8);
      } else {
        TripleDesContext ctx;
        make_triple_context(key, ctx);
        (encipher ? triple_des_cbc_encipher : triple_des_cbc_decipher)(ctx, cv.data(), one.data(),
                                                                       out.data(), 8);
      }
      pieces.insert(pieces.end(), out.begin(), out.end());
    }
    EXPECT_EQ(whole, pieces);
    // The chaining value ends as the last ciphertext block.
    const Bytes& ciphertext = encipher ? whole : data;
    EXPECT_TRUE(std::equal(cv.begin(), cv.end(), ciphertext.end() - 8));
  }
}

TEST_P(DesCbc, ShortLengthProcessesOneWholeBlock) {
  std::mt19937 gen(7);
  Bytes key = random_bytes(gen, GetParam());
  Block iv{};
  Bytes data = random_bytes(gen, 8);
  Bytes full = our_cbc(key, iv, data, true);

  // Length 5 still reads and writes all 8 bytes, and nothing beyond them.
  Bytes out(16, 0xEE);
  Block cv{};
  if (key.size() == 8) {
    DesContext ctx;
    make_des_context(key.data(), ctx);
    des_cbc_encipher(ctx, cv.data(), data.data(), out.data(), 5);
  } else {
    TripleDesContext ctx;
    make_triple_context(key, ctx);
    triple_des_cbc_encipher(ctx, cv.data(), data.data(), out.data(), 5);
  }
  EXPECT_TRUE(std::equal(full.begin(), full.end(), out.begin()));
  EXPECT_EQ(out[8], 0xEE);
  EXPECT_EQ(out[15], 0xEE);
  EXPECT_TRUE(std::equal(cv.begin(), cv.end(), full.begin()));
}

TEST_P(DesCbc, ZeroOrNegativeLengthTouchesNothing) {
  std::mt19937 gen(9);
  Bytes key = random_bytes(gen, GetParam());
  Bytes data = random_bytes(gen, 8);
  for (int32_t len : {0, -8}) {
    Bytes out(8, 0xEE);
    Block cv;
    cv.fill(0x5A);
    if (key.size() == 8) {
      DesContext ctx;
      make_des_context(key.data(), ctx);
      des_cbc_encipher(ctx, cv.data(), data.data(), out.data(), len);
      des_cbc_decipher(ctx, cv.data(), data.data(), out.data(), len);
    } else {
      TripleDesContext ctx;
      make_triple_context(key, ctx);
      triple_des_cbc_encipher(ctx, cv.data(), data.data(), out.data(), len);
      triple_des_cbc_decipher(ctx, cv.data(), data.data(), out.data(), len);
    }
    EXPECT_EQ(out, Bytes(8, 0xEE));
    EXPECT_TRUE(std::all_of(cv.begin(), cv.end(), [](uint8_t b) { return b == 0x5A; }));
  }
}

TEST_P(DesCbc, InPlaceEqualsSeparateBuffers) {
  std::mt19937 gen(11);
  Bytes key = random_bytes(gen, GetParam());
  Block iv;
  for (auto& b : iv)
    b = static_cast<uint8_t>(gen());
  Bytes data = random_bytes(gen, 40);
  auto len = static_cast<int32_t>(data.size());

  for (bool encipher : {true, false}) {
    SCOPED_TRACE(encipher ? "encipher" : "decipher");
    Bytes separate = our_cbc(key, iv, data, encipher);
    Bytes buf = data;
    Block cv = iv;
    Bytes block_in_place(data.begin(), data.begin() + 8);
    Bytes block_separate(8);
    if (key.size() == 8) {
      DesContext ctx;
      make_des_context(key.data(), ctx);
      (encipher ? des_cbc_encipher : des_cbc_decipher)(ctx, cv.data(), buf.data(), buf.data(), len);
      auto block_fn = encipher ? des_encipher_block : des_decipher_block;
      block_fn(ctx, block_in_place.data(), block_in_place.data());
      block_fn(ctx, data.data(), block_separate.data());
    } else {
      TripleDesContext ctx;
      make_triple_context(key, ctx);
      (encipher ? triple_des_cbc_encipher : triple_des_cbc_decipher)(ctx, cv.data(), buf.data(),
                                                                     buf.data(), len);
      auto block_fn = encipher ? triple_des_encipher_block : triple_des_decipher_block;
      block_fn(ctx, block_in_place.data(), block_in_place.data());
      block_fn(ctx, data.data(), block_separate.data());
    }
    EXPECT_EQ(buf, separate);
    EXPECT_EQ(block_in_place, block_separate);
  }
}

INSTANTIATE_TEST_SUITE_P(KeyLengths, DesCbc, ::testing::Values(8u, 16u, 24u),
                         [](const auto& info) { return "Key" + std::to_string(info.param); });

}  // namespace
}  // namespace palisim
