#include "crypto/key_cache.h"

#include <cstring>

#include "crypto/hex.h"
#include "crypto/secure_zero.h"
#include "crypto/wrapping_key.h"

namespace palisim {

namespace {

// A word at a time, without an early exit; the words go through a buffer
// that is wiped, so no piece of either key stays on the stack. len is 8, 16
// or 24.
bool same_key_bytes(const uint8_t* a, const uint8_t* b, int32_t len) {
  Wiped<std::array<uint64_t, 2>> words;
  uint64_t diff = 0;
  for (int32_t at = 0; at < len; at += 8) {
    std::memcpy(&words.value[0], a + at, 8);
    std::memcpy(&words.value[1], b + at, 8);
    diff |= words.value[0] ^ words.value[1];
  }
  return diff == 0;
}

void copy_key(const uint8_t* bytes, int32_t len, Key& out) {
  std::memcpy(out.bytes.data(), bytes, static_cast<size_t>(len));
  out.len = len;
}

}  // namespace

ReadyKey::ReadyKey(const Key& opened) : cipher(opened) {
  copy_key(opened.bytes.data(), opened.len, key);
  const uint8_t zeros[8] = {};
  uint8_t enciphered[8];
  cipher.encipher_block(zeros, enciphered);
  std::memcpy(check.data(), enciphered, check.size());
}

void ReadyKey::check_value(CheckValueText& out, bool long_form) const {
  binary_to_hex(out.data(), check.data(), long_form ? 3 : 2);
}

KeyCache::Entry::Entry(std::string_view text, const Key& wrapping_key, const Key& opened)
    : ready(opened) {
  text.copy(block.data(), block.size());
  copy_key(wrapping_key.bytes.data(), wrapping_key.len, wrapping);
}

const ReadyKey* KeyCache::open_under_mfk(std::string_view block, const uint8_t* mfk) {
  if (const ReadyKey* kept = find(block, mfk, kMfkWrappingLen)) return kept;
  const KeyBlockContexts& contexts = mfk_contexts(mfk);
  return open_and_keep(block, mfk_->mfk, contexts);
}

const ReadyKey* KeyCache::open_under_key(std::string_view block, const Key& wrapping_key) {
  if (const ReadyKey* kept = find(block, wrapping_key.bytes.data(), wrapping_key.len)) return kept;
  // A copy: the wrapping key may itself be an entry, which must not be the
  // one given up while it is read.
  Key wrapping;
  copy_key(wrapping_key.bytes.data(), wrapping_key.len, wrapping);
  KeyBlockContexts contexts;
  make_key_block_contexts(wrapping.bytes.data(), wrapping.len, contexts);
  return open_and_keep(block, wrapping, contexts);
}

const KeyBlockContexts& KeyCache::mfk_contexts(const uint8_t* mfk) {
  if (!mfk_ || !same_key_bytes(mfk_->mfk.bytes.data(), mfk, kMfkWrappingLen)) {
    mfk_.reset();
    mfk_.emplace();
    copy_key(mfk, kMfkWrappingLen, mfk_->mfk);
    make_key_block_contexts(mfk, kMfkWrappingLen, mfk_->contexts);
  }
  return mfk_->contexts;
}

void KeyCache::clear() {
  for (std::optional<Entry>& entry : entries_)
    entry.reset();
  mfk_.reset();
}

const ReadyKey* KeyCache::find(std::string_view block, const uint8_t* wrapping_key,
                               int32_t wrapping_key_len) {
  for (std::optional<Entry>& entry : entries_) {
    if (!entry || entry->wrapping.len != wrapping_key_len ||
        std::memcmp(entry->block.data(), block.data(), kKeyBlockLen) != 0 ||
        !same_key_bytes(entry->wrapping.bytes.data(), wrapping_key, wrapping_key_len)) {
      continue;
    }
    entry->last_use = ++uses_;
    ++hits_;
    return &entry->ready;
  }
  ++misses_;
  return nullptr;
}

const ReadyKey* KeyCache::open_and_keep(std::string_view block, const Key& wrapping,
                                        const KeyBlockContexts& contexts) {
  Key opened;
  if (!open_key_block(contexts, block, opened)) return nullptr;
  std::optional<Entry>* slot = &entries_[0];
  for (std::optional<Entry>& entry : entries_) {
    if (!entry) {
      slot = &entry;
      break;
    }
    if (entry->last_use < (*slot)->last_use) slot = &entry;
  }
  slot->reset();
  slot->emplace(block, wrapping, opened);
  (*slot)->last_use = ++uses_;
  return &(*slot)->ready;
}

}  // namespace palisim
