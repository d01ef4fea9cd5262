// The keys that one connection's requests have opened from key blocks, kept
// with their schedules so that a block sent again costs a comparison instead
// of a decipherment, a MAC and new schedules; and the MFK's key block
// contexts, which every block built or opened under the MFK needs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/check_value.h"
#include "crypto/key.h"
#include "crypto/key_block.h"
#include "crypto/key_cipher.h"

namespace palisim {

// A request reads at most three key blocks, so the keys it has read stay
// while it reads the next.
inline constexpr int kKeyCacheEntries = 8;

// A key opened from a key block, with what commands use it for built once.
struct ReadyKey {
  explicit ReadyKey(const Key& opened);
  ReadyKey(const ReadyKey&) = delete;
  ReadyKey& operator=(const ReadyKey&) = delete;

  // Four hex digits, six with long_form (opt88), as key_check_value gives them.
  void check_value(CheckValueText& out, bool long_form) const;

  Key key;                         // the key and its length
  KeyCipher cipher;                // the cipher its length selects
  std::array<uint8_t, 3> check{};  // the first bytes of its encipherment of zeros
};

// Entries are found by the exact text of the block and the exact wrapping
// key, so a block that differs in any character, or that arrives under
// another wrapping key, is opened and its MAC checked afresh; a block whose
// MAC fails is never kept. A full cache gives up its least recently used
// entry. Entries are wiped when given up, by clear() and on destruction.
class KeyCache {
 public:
  KeyCache() = default;
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;

  // The key of a block that check_key_block_form has passed, under the MFK
  // (its whole 24-byte buffer) or under a KEK; nullptr when the MAC does not
  // match. The key stays in place while fewer than kKeyCacheEntries other
  // blocks are opened.
  const ReadyKey* open_under_mfk(std::string_view block, const uint8_t* mfk);
  const ReadyKey* open_under_key(std::string_view block, const Key& wrapping_key);

  // The contexts of blocks under this MFK, derived when the MFK is first seen.
  const KeyBlockContexts& mfk_contexts(const uint8_t* mfk);

  void clear();

  // Blocks found kept, and blocks that had to be opened, since construction.
  uint64_t hits() const { return hits_; }
  uint64_t misses() const { return misses_; }

 private:
  struct Entry {
    Entry(std::string_view text, const Key& wrapping, const Key& opened);
    std::array<char, kKeyBlockLen> block;  // the text as the request carried it
    Key wrapping;                          // the key it was opened under
    ReadyKey ready;
    uint64_t last_use = 0;
  };
  struct MfkContexts {
    Key mfk;
    KeyBlockContexts contexts;
  };

  const ReadyKey* find(std::string_view block, const uint8_t* wrapping_key,
                       int32_t wrapping_key_len);
  const ReadyKey* open_and_keep(std::string_view block, const Key& wrapping,
                                const KeyBlockContexts& contexts);

  std::array<std::optional<Entry>, kKeyCacheEntries> entries_;
  std::optional<MfkContexts> mfk_;
  uint64_t uses_ = 0;  // stamps last_use
  uint64_t hits_ = 0;
  uint64_t misses_ = 0;
};

}  // namespace palisim
