#include "server/request_journal.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>

#include "crypto/secure_zero.h"
#include "server/trace_masks.h"

namespace palisim {

namespace {

constexpr size_t kWordBytes = sizeof(uint64_t);
constexpr size_t kEntryWordsMax = (kJournalEntryTextMax + kWordBytes - 1) / kWordBytes;

uint64_t load(const uint64_t& word) {
  return std::atomic_ref<uint64_t>(const_cast<uint64_t&>(word)).load(std::memory_order_relaxed);
}

void store(uint64_t& word, uint64_t value) {
  std::atomic_ref<uint64_t>(word).store(value, std::memory_order_relaxed);
}

// Out of line, so the copy is the C library's, which starts small copies
// faster than the inline string move the compiler chooses for short texts.
[[gnu::noinline]] char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Clears words that held a request or a reply, as secure_zero does; a
// store per word is cheaper than a call for the few words of an entry.
void wipe(uint64_t* words, size_t n) {
  for (size_t i = 0; i < n; ++i)
    words[i] = 0;
  asm volatile("" : : "r"(words) : "memory");
}

std::string_view without_line_end(std::string_view reply) {
  while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n'))
    reply.remove_suffix(1);
  return reply;
}

}  // namespace

RequestJournal::RequestJournal(size_t capacity, bool masked)
    : capacity_(capacity),
      masked_(masked),
      ring_mask_(std::bit_ceil(std::max<size_t>(capacity, 1)) - 1),
      // Room for the longest entry however small the ring.
      text_words_(std::bit_ceil(
          std::max(capacity * kJournalTextPerEntry / kWordBytes, 2 * kEntryWordsMax))),
      heads_(capacity ? std::make_unique<uint64_t[]>((ring_mask_ + 1) * kHeadWords) : nullptr),
      text_(capacity ? std::make_unique<uint64_t[]>(text_words_) : nullptr) {}

RequestJournal::~RequestJournal() {
  if (text_) secure_zero(text_.get(), text_words_ * kWordBytes);
}

int64_t RequestJournal::wall_us(int64_t steady_ns) {
  if (steady_ns == 0 || steady_ns >= offset_due_ns_) {
    const auto steady = std::chrono::steady_clock::now().time_since_epoch();
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    wall_offset_us_ = (wall - steady) / std::chrono::microseconds(1);
    offset_due_ns_ = steady / std::chrono::nanoseconds(1) + 1'000'000'000;
    if (steady_ns == 0) steady_ns = steady / std::chrono::nanoseconds(1);
  }
  return steady_ns / 1000 + wall_offset_us_;
}

void RequestJournal::on_request(const RequestRecord& record) {
  if (capacity_ == 0) return;
  JournalHead e;
  e.seq = next_seq_;
  e.time_us = wall_us(record.done_ns);
  e.connection = record.connection.id;
  e.command = record.command;
  e.micros = record.handler_ns / 1000;
  e.error = record.error;
  e.error_reply = record.error_reply;
  e.sent = record.sent;
  e.injected = record.injection.rule != nullptr;
  char injection[kInjectionWordsCapacity];
  std::string_view injection_text;
  if (e.injected) {
    injection_words(record.injection, injection);
    injection_text = injection;
  }
  // The texts in the order the text ring holds them, each cut to its field.
  const std::string_view texts[] = {
      record.request.substr(0, kJournalTextCapacity),
      without_line_end(record.reply).substr(0, kJournalTextCapacity),
      injection_text,
      record.connection.peer.substr(0, sizeof JournalEntry::peer - 1),
      record.connection.identity.substr(0, sizeof JournalEntry::tls - 1),
  };
  e.request_len = static_cast<uint16_t>(texts[0].size());
  e.reply_len = static_cast<uint16_t>(texts[1].size());
  e.injection_len = static_cast<uint8_t>(texts[2].size());
  e.peer_len = static_cast<uint8_t>(texts[3].size());
  e.tls_len = static_cast<uint8_t>(texts[4].size());
  // Gathered and masked here, so no clear secret reaches the ring.
  uint64_t words[kEntryWordsMax];
  char* bytes = reinterpret_cast<char*>(words);
  char* end = bytes;
  for (std::string_view t : texts) {
    if (!t.empty()) end = append(end, t);
  }
  const size_t total = static_cast<size_t>(end - bytes);
  if (masked_ && may_mask(record.command)) {
    mask_exchange({bytes, texts[0].size()}, {bytes + texts[0].size(), texts[1].size()},
                  record.command, record.error, record.injection);
  }
  const size_t n = (total + kWordBytes - 1) / kWordBytes;
  std::memset(bytes + total, 0, n * kWordBytes - total);

  const uint64_t text_at = text_end_;
  text_end_ += n;
  // The oldest entries go when the ring of entries, or of their texts, is full.
  while (oldest_ < e.seq &&
         (e.seq - oldest_ >= capacity_ ||
          load(heads_[((oldest_ - 1) & ring_mask_) * kHeadWords + kHeadWords - 1]) + text_words_ <
              text_end_))
    ++oldest_;
  // Said before the words change: a reader that sees a changed word sees this.
  overwriting_.store(oldest_, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  uint64_t head[kHeadWords] = {};
  std::memcpy(head, &e, sizeof e);
  head[kHeadWords - 1] = text_at;
  uint64_t* slot = &heads_[((e.seq - 1) & ring_mask_) * kHeadWords];
  for (size_t i = 0; i < kHeadWords; ++i)
    store(slot[i], head[i]);
  const size_t at = text_at & (text_words_ - 1);
  const size_t before_end = std::min(n, text_words_ - at);
  for (size_t i = 0; i < before_end; ++i)
    store(text_[at + i], words[i]);
  for (size_t i = before_end; i < n; ++i)
    store(text_[i - before_end], words[i]);
  published_.store(e.seq, std::memory_order_release);
  ++next_seq_;
  wipe(words, n);
}

bool RequestJournal::intact_since(uint64_t seq) const {
  std::atomic_thread_fence(std::memory_order_acquire);
  return overwriting_.load(std::memory_order_relaxed) <= seq;
}

bool RequestJournal::copy_out(uint64_t seq, JournalEntry& out) const {
  const uint64_t* slot = &heads_[((seq - 1) & ring_mask_) * kHeadWords];
  uint64_t head[kHeadWords];
  for (size_t i = 0; i < kHeadWords; ++i)
    head[i] = load(slot[i]);
  // Into a head of its own: an entry's texts may begin in the tail padding
  // of its JournalHead base, which a copy of sizeof(JournalHead) would write.
  JournalHead h;
  std::memcpy(&h, head, sizeof h);
  // A head the writer was overwriting may hold any lengths: bound them
  // before they are used.
  const size_t lens[] = {h.request_len, h.reply_len, h.injection_len, h.peer_len, h.tls_len};
  char* const into[] = {out.request, out.reply, out.injection, out.peer, out.tls};
  const size_t caps[] = {sizeof out.request, sizeof out.reply, sizeof out.injection,
                         sizeof out.peer, sizeof out.tls};
  size_t total = 0;
  for (size_t part = 0; part < 5; ++part) {
    if (lens[part] > caps[part] - (part < 2 ? 0 : 1)) return false;
    total += lens[part];
  }
  uint64_t words[kEntryWordsMax];
  const uint64_t text_at = head[kHeadWords - 1];
  for (size_t i = 0; i < (total + kWordBytes - 1) / kWordBytes; ++i)
    words[i] = load(text_[(text_at + i) & (text_words_ - 1)]);
  if (h.seq != seq || !intact_since(seq)) return false;
  static_cast<JournalHead&>(out) = h;
  const char* bytes = reinterpret_cast<const char*>(words);
  for (size_t part = 0; part < 5; ++part) {
    if (lens[part]) std::memcpy(into[part], bytes, lens[part]);
    bytes += lens[part];
  }
  // The short texts are read as C strings.
  out.injection[h.injection_len] = '\0';
  out.peer[h.peer_len] = '\0';
  out.tls[h.tls_len] = '\0';
  return true;
}

void RequestJournal::read(const JournalQuery& query, std::vector<JournalEntry>& out,
                          uint64_t& recorded, uint64_t& dropped) const {
  out.clear();
  const uint64_t newest = published_.load(std::memory_order_acquire);
  const uint64_t kept_from = std::max(cleared_.load(std::memory_order_acquire),
                                      overwriting_.load(std::memory_order_acquire));
  recorded = newest;
  dropped = std::min(newest, kept_from - 1);
  if (capacity_ == 0) return;
  // From the newest back; an entry overwritten meanwhile ends the walk, and
  // so does every older one.
  JournalEntry entry;
  for (uint64_t seq = newest;
       seq >= std::max(kept_from, query.after + 1) && seq > 0 && out.size() < query.limit; --seq) {
    if (!copy_out(seq, entry)) break;
    if (query.command == SIZE_MAX || entry.command == query.command) out.push_back(entry);
  }
  std::reverse(out.begin(), out.end());
}

void RequestJournal::clear() {
  cleared_.store(published_.load(std::memory_order_acquire) + 1, std::memory_order_release);
}

}  // namespace palisim
