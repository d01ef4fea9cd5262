#include "dispatch_timing.h"

#include <cstring>

#include "alloc_counter.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/key_cache.h"
#include "dispatch/command_table.h"
#include "server/connection.h"

namespace palisim::bench {

namespace {

void time_requests(benchmark::State& state, const Settings& s, std::string_view request,
                   int64_t data_bytes, bool cached) {
  if (request.size() > static_cast<size_t>(kInputCapacity)) {
    state.SkipWithError("request longer than the input buffer");
    return;
  }
  char text[kInputCapacity];
  char reply[kReplyCapacity];
  const auto len = static_cast<int32_t>(request.size());
  std::memcpy(text, request.data(), request.size());
  ReplyBuffer check{reply, 0};
  KeyCache keys;
  dispatch_request(s, keys, text, len, check);
  // Error replies are "<00#TTFF35#" with a type TT that is never 00.
  if (check.len < 6 ||
      (std::memcmp(reply, "<00#", 4) == 0 && std::memcmp(reply, "<00#00", 6) != 0)) {
    state.SkipWithError("request refused");
    return;
  }
  size_t before = allocation_count();
  for (auto _ : state) {
    std::memcpy(text, request.data(), request.size());  // dispatch splits in place
    ReplyBuffer r{reply, 0};
    if (cached) {
      dispatch_request(s, keys, text, len, r);
    } else {
      KeyCache fresh;
      dispatch_request(s, fresh, text, len, r);
    }
    benchmark::DoNotOptimize(r.len);
  }
  state.counters["allocs_per_request"] =
      static_cast<double>(allocation_count() - before) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
  if (data_bytes > 0) state.SetBytesProcessed(state.iterations() * data_bytes);
}

}  // namespace

void time_dispatch(benchmark::State& state, const Settings& s, std::string_view request,
                   int64_t data_bytes) {
  time_requests(state, s, request, data_bytes, true);
}

void time_dispatch_uncached(benchmark::State& state, const Settings& s, std::string_view request) {
  time_requests(state, s, request, 0, false);
}

std::string under_mfk(const Settings& s, const char* header, const char* key_hex) {
  uint8_t key[24];
  hex_to_binary(key, key_hex, std::strlen(key_hex));
  KeyBlockText out;
  build_key_block(s.mfk.data(), 24, header, key, static_cast<int32_t>(std::strlen(key_hex) / 2),
                  out);
  return out.data();
}

std::string join(std::initializer_list<std::string> fields) {
  std::string text = "<";
  for (const std::string& field : fields)
    text += field + "#";
  return text + ">";
}

}  // namespace palisim::bench
