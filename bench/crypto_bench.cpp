// DES, triple-DES and key blocks, ours beside OpenSSL's low-level DES on the
// same inputs in the same run. Rows come in pairs named "<case>/ours" and
// "<case>/openssl"; bench/crypto_ratios.sh prints ours / OpenSSL per case.
// OpenSSL is only the yardstick here: src/ never calls it.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/des.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "commands/key_block_field.h"
#include "crypto/des.h"
#include "crypto/key_block.h"

namespace palisim {
namespace {

constexpr std::array<uint8_t, 24> kKey = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                          0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10,
                                          0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67};

constexpr std::array<uint8_t, 8> kBlock = {0x4E, 0x6F, 0x77, 0x20, 0x69, 0x73, 0x20, 0x74};

// OpenSSL's const_DES_cblock is not const-qualified; the key is only read.
void openssl_schedule(const uint8_t* key, DES_key_schedule& ks) {
  DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(key)), &ks);
}

// --- Key schedule alone ---------------------------------------------------

void BM_ScheduleOurs(benchmark::State& state) {
  DesContext ctx;
  for (auto _ : state) {
    make_des_context(kKey.data(), ctx);
    benchmark::DoNotOptimize(ctx);
  }
}
BENCHMARK(BM_ScheduleOurs)->Name("schedule/ours");

void BM_ScheduleOpenSsl(benchmark::State& state) {
  DES_key_schedule ks;
  for (auto _ : state) {
    openssl_schedule(kKey.data(), ks);
    benchmark::DoNotOptimize(ks);
  }
}
BENCHMARK(BM_ScheduleOpenSsl)->Name("schedule/openssl");

// --- One block under a prebuilt context, each output the next input --------

void BM_DesBlockOurs(benchmark::State& state) {
  DesContext ctx;
  make_des_context(kKey.data(), ctx);
  std::array<uint8_t, 8> block = kBlock;
  for (auto _ : state) {
    des_encipher_block(ctx, block.data(), block.data());
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_DesBlockOurs)->Name("des_block/ours");

void BM_DesBlockOpenSsl(benchmark::State& state) {
  DES_key_schedule ks;
  openssl_schedule(kKey.data(), ks);
  DES_cblock block;
  std::memcpy(block, kBlock.data(), 8);
  for (auto _ : state) {
    DES_ecb_encrypt(&block, &block, &ks, DES_ENCRYPT);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_DesBlockOpenSsl)->Name("des_block/openssl");

// Argument: key length, 16 (K1 K2 K1) or 24 (K1 K2 K3).
void BM_TripleDesBlockOurs(benchmark::State& state) {
  TripleDesContext ctx;
  if (state.range(0) == 16) {
    make_two_key_triple_des_context(kKey.data(), ctx);
  } else {
    make_three_key_triple_des_context(kKey.data(), ctx);
  }
  std::array<uint8_t, 8> block = kBlock;
  for (auto _ : state) {
    triple_des_encipher_block(ctx, block.data(), block.data());
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_TripleDesBlockOurs)->Name("triple_des_block/ours")->Arg(16)->Arg(24);

void BM_TripleDesBlockOpenSsl(benchmark::State& state) {
  DES_key_schedule ks[3];
  openssl_schedule(kKey.data(), ks[0]);
  openssl_schedule(kKey.data() + 8, ks[1]);
  openssl_schedule(kKey.data() + (state.range(0) == 16 ? 0 : 16), ks[2]);
  DES_cblock block;
  std::memcpy(block, kBlock.data(), 8);
  for (auto _ : state) {
    DES_ecb3_encrypt(&block, &block, &ks[0], &ks[1], &ks[2], DES_ENCRYPT);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_TripleDesBlockOpenSsl)->Name("triple_des_block/openssl")->Arg(16)->Arg(24);

// --- Key schedule plus one block, as a command enciphers with a loaded key ---

// Argument: key length 8, 16 or 24.
void BM_ByKeyLengthOurs(benchmark::State& state) {
  auto key_len = static_cast<int32_t>(state.range(0));
  std::array<uint8_t, 8> block = kBlock;
  for (auto _ : state) {
    encipher_block_by_key_length(kKey.data(), key_len, block.data(), block.data());
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_ByKeyLengthOurs)->Name("by_key_length/ours")->Arg(8)->Arg(16)->Arg(24);

// OpenSSL schedules each distinct part once: one, two or three schedules.
void BM_ByKeyLengthOpenSsl(benchmark::State& state) {
  auto key_len = state.range(0);
  DES_cblock block;
  std::memcpy(block, kBlock.data(), 8);
  for (auto _ : state) {
    DES_key_schedule ks[3];
    openssl_schedule(kKey.data(), ks[0]);
    if (key_len == 8) {
      DES_ecb_encrypt(&block, &block, &ks[0], DES_ENCRYPT);
    } else {
      openssl_schedule(kKey.data() + 8, ks[1]);
      DES_key_schedule* k3 = &ks[0];
      if (key_len == 24) {
        openssl_schedule(kKey.data() + 16, ks[2]);
        k3 = &ks[2];
      }
      DES_ecb3_encrypt(&block, &block, &ks[0], &ks[1], k3, DES_ENCRYPT);
    }
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_ByKeyLengthOpenSsl)->Name("by_key_length/openssl")->Arg(8)->Arg(16)->Arg(24);

// --- Opening a key block under the MFK ------------------------------------

struct KeyBlockInput {
  KeyBlockText text;
  uint8_t header[8];
  uint8_t enciphered[24];
  uint8_t mac[8];
};

uint8_t hex_value(char c) {
  return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
}

KeyBlockInput make_key_block_input() {
  KeyBlockInput in;
  build_key_block(kKey.data(), 24, "1PUNE000", kKey.data(), 16, in.text);
  std::memcpy(in.header, in.text.data(), 8);
  for (int i = 0; i < 24; ++i)
    in.enciphered[i] =
        static_cast<uint8_t>(hex_value(in.text[9 + 2 * i]) << 4 | hex_value(in.text[10 + 2 * i]));
  for (int i = 0; i < 8; ++i)
    in.mac[i] =
        static_cast<uint8_t>(hex_value(in.text[58 + 2 * i]) << 4 | hex_value(in.text[59 + 2 * i]));
  return in;
}

void BM_OpenKeyBlockOurs(benchmark::State& state) {
  KeyBlockInput in = make_key_block_input();
  std::string_view text(in.text.data(), kKeyBlockLen);
  Key key;
  if (!open_key_block(kKey.data(), 24, text, key) || key.len != 16 ||
      std::memcmp(key.bytes.data(), kKey.data(), 16) != 0) {
    state.SkipWithError("open_key_block does not give the key back");
  }
  for (auto _ : state) {
    bool ok = open_key_block(kKey.data(), 24, text, key);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(key.bytes);
  }
}
BENCHMARK(BM_OpenKeyBlockOurs)->Name("open_key_block/ours");

// The same work with OpenSSL's DES: the encryption and MAC keys (the MFK XOR
// 'E' and XOR 'M'), two three-key schedules, a 24-byte CBC decipher with the
// header as chaining value, and a CBC-MAC over header and enciphered key.
// The block's hex is decoded once beforehand, so this side is spared the
// decoding that open_key_block does on every call.
bool openssl_open_key_block(const uint8_t mfk[24], const KeyBlockInput& in, uint8_t key[24]) {
  uint8_t ke[24];
  uint8_t km[24];
  for (int i = 0; i < 24; ++i) {
    ke[i] = mfk[i] ^ 'E';
    km[i] = mfk[i] ^ 'M';
  }
  DES_key_schedule ks[3];
  for (int i = 0; i < 3; ++i)
    openssl_schedule(ke + 8 * i, ks[i]);
  DES_cblock cv;
  std::memcpy(cv, in.header, 8);
  DES_ede3_cbc_encrypt(in.enciphered, key, 24, &ks[0], &ks[1], &ks[2], &cv, DES_DECRYPT);

  for (int i = 0; i < 3; ++i)
    openssl_schedule(km + 8 * i, ks[i]);
  uint8_t run[32];
  std::memcpy(run, in.header, 8);
  std::memcpy(run + 8, in.enciphered, 24);
  std::memset(cv, 0, 8);
  DES_ede3_cbc_encrypt(run, run, 32, &ks[0], &ks[1], &ks[2], &cv, DES_ENCRYPT);
  return CRYPTO_memcmp(run + 24, in.mac, 8) == 0;
}

void BM_OpenKeyBlockOpenSsl(benchmark::State& state) {
  KeyBlockInput in = make_key_block_input();
  uint8_t key[24];
  if (!openssl_open_key_block(kKey.data(), in, key) || std::memcmp(key, kKey.data(), 16) != 0) {
    state.SkipWithError("the OpenSSL rival does not open the block");
  }
  for (auto _ : state) {
    bool ok = openssl_open_key_block(kKey.data(), in, key);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_OpenKeyBlockOpenSsl)->Name("open_key_block/openssl");

// --- Bulk CBC ---------------------------------------------------------------

void BM_TripleDesCbcOurs(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  TripleDesContext ctx;
  make_three_key_triple_des_context(kKey.data(), ctx);
  uint8_t cv[8] = {};
  for (auto _ : state) {
    triple_des_cbc_encipher(ctx, cv, data.data(), data.data(), static_cast<int32_t>(data.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TripleDesCbcOurs)->Name("triple_des_cbc/ours")->Arg(4096);

void BM_TripleDesCbcOpenSsl(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  DES_key_schedule ks[3];
  for (int i = 0; i < 3; ++i)
    openssl_schedule(kKey.data() + 8 * i, ks[i]);
  DES_cblock cv = {};
  for (auto _ : state) {
    DES_ede3_cbc_encrypt(data.data(), data.data(), static_cast<long>(data.size()), &ks[0], &ks[1],
                         &ks[2], &cv, DES_ENCRYPT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TripleDesCbcOpenSsl)->Name("triple_des_cbc/openssl")->Arg(4096);

// --- Key blocks as the commands use them (no rival) -------------------------

void BM_BuildKeyBlock(benchmark::State& state) {
  KeyBlockText out;
  for (auto _ : state) {
    build_key_block(kKey.data(), 24, "1PUNE000", kKey.data(), 16, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildKeyBlock);

void BM_ReadKeyBlockField(benchmark::State& state) {
  Settings s;
  s.mfk = kKey;
  s.mfk_len = 24;
  s.mfk_present = 1;
  KeyBlockText block;
  build_key_block(s.mfk.data(), 24, "1PUNE000", kKey.data(), 16, block);
  std::array<char, 5120> storage;
  ReplyBuffer r{storage};
  // Every read opens the block afresh: a fresh cache each time.
  const ReadyKey* key = nullptr;
  for (auto _ : state) {
    KeyCache keys;
    bool ok = read_key_block_field({block.data(), kKeyBlockLen}, 2, "1PUNE0001PUNN000", s, keys, r,
                                   key, true);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadKeyBlockField);

}  // namespace
}  // namespace palisim

BENCHMARK_MAIN();
