// DES, triple-DES and key blocks as the command handlers use them: a fresh
// key schedule for every block, and a key block opened for every key read.
// OpenSSL's DES runs alongside for scale.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/des.h>

#include <array>
#include <cstdint>
#include <vector>

#include "crypto/des.h"
#include "crypto/key_block.h"
#include "crypto/key_block_field.h"

namespace palisim {
namespace {

constexpr std::array<uint8_t, 24> kKey = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                          0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10,
                                          0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67};

void BM_EncipherBlockByKeyLength(benchmark::State& state) {
  auto key_len = static_cast<int32_t>(state.range(0));
  uint8_t block[8] = {};
  for (auto _ : state) {
    encipher_block_by_key_length(kKey.data(), key_len, block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncipherBlockByKeyLength)->Arg(8)->Arg(16)->Arg(24);

void BM_OpenSslScheduleAndBlock(benchmark::State& state) {
  auto key_len = static_cast<size_t>(state.range(0));
  DES_cblock block = {};
  for (auto _ : state) {
    DES_key_schedule ks[3];
    for (size_t i = 0; i < 3; ++i) {
      size_t part = key_len == 8 ? 0 : (key_len == 16 && i == 2) ? 0 : i;
      DES_set_key_unchecked(
          reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(kKey.data() + 8 * part)),
          &ks[i]);
    }
    if (key_len == 8) {
      DES_ecb_encrypt(&block, &block, &ks[0], DES_ENCRYPT);
    } else {
      DES_ecb3_encrypt(&block, &block, &ks[0], &ks[1], &ks[2], DES_ENCRYPT);
    }
    benchmark::DoNotOptimize(block);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenSslScheduleAndBlock)->Arg(8)->Arg(16)->Arg(24);

void BM_TripleDesCbc(benchmark::State& state) {
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
BENCHMARK(BM_TripleDesCbc)->Arg(4096);

void BM_OpenSslTripleDesCbc(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  DES_key_schedule ks[3];
  for (int i = 0; i < 3; ++i) {
    DES_set_key_unchecked(
        reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(kKey.data() + 8 * i)), &ks[i]);
  }
  DES_cblock cv = {};
  for (auto _ : state) {
    DES_ede3_cbc_encrypt(data.data(), data.data(), static_cast<long>(data.size()), &ks[0], &ks[1],
                         &ks[2], &cv, DES_ENCRYPT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenSslTripleDesCbc)->Arg(4096);

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
  Key key;
  for (auto _ : state) {
    bool ok =
        read_key_block_field({block.data(), kKeyBlockLen}, 2, "1PUNE0001PUNN000", s, r, key, true);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadKeyBlockField);

}  // namespace
}  // namespace palisim

BENCHMARK_MAIN();
