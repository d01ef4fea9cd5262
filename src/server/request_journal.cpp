#include "server/request_journal.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>
#include <memory>

#include "crypto/secure_zero.h"
#include "server/trace_masks.h"

namespace palisim {

namespace {

// Entries start on 16-byte boundaries, as heads are read whole.
constexpr size_t kAlign = 16;
static_assert(sizeof(JournalHead) <= 64, "a head fits one cache line");
constexpr size_t kHeadBytes = (sizeof(JournalHead) + kAlign - 1) & ~(kAlign - 1);
constexpr size_t kEntryBytesMax = (kHeadBytes + kJournalEntryTextMax + kAlign - 1) & ~(kAlign - 1);

// Most texts are short: up to 32 bytes they are moved by two loads and two
// stores of a fixed width that overlap in the middle, never past either
// end, without a call. Longer ones go to the C library's copy, as the
// compiler's inline copy of a variable length starts slowly.
[[gnu::noinline]] void long_copy(char* out, const char* from, size_t n) {
  std::memcpy(out, from, n);
}

template <size_t kWidth>
inline void move_overlapping(char* out, const char* from, size_t n) {
  char head[kWidth], tail[kWidth];
  std::memcpy(head, from, kWidth);
  std::memcpy(tail, from + n - kWidth, kWidth);
  std::memcpy(out, head, kWidth);
  std::memcpy(out + n - kWidth, tail, kWidth);
}

inline char* append(char* out, std::string_view text) {
  const char* from = text.data();
  const size_t n = text.size();
  if (n > 32) {
    long_copy(out, from, n);
  } else if (n >= 16) {
    move_overlapping<16>(out, from, n);
  } else if (n >= 8) {
    move_overlapping<8>(out, from, n);
  } else if (n >= 4) {
    move_overlapping<4>(out, from, n);
  } else {
    for (size_t i = 0; i < n; ++i)
      out[i] = from[i];
  }
  return out + n;
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
      // What `capacity` entries of average length fill, and one chunk more,
      // so the writer finds one free while a reader is in another.
      chunk_count_(capacity
                       ? static_cast<uint32_t>(
                             std::max<size_t>(
                                 capacity * (kHeadBytes + kJournalTextPerEntry) / kChunkBytes, 2) +
                             1)
                       : 0),
      chunks_(capacity ? std::make_unique<uint64_t[]>(chunk_count_ * kChunkBytes / 8) : nullptr),
      first_seq_(capacity ? std::make_unique<std::atomic<uint64_t>[]>(chunk_count_) : nullptr),
      age_(capacity ? std::make_unique<uint32_t[]>(chunk_count_) : nullptr) {
  static_assert(kEntryBytesMax <= kChunkBytes, "a chunk holds the longest entry");
  for (uint32_t c = 0; c < chunk_count_; ++c)
    age_[c] = c;
}

RequestJournal::~RequestJournal() {
  if (chunks_) secure_zero(chunks_.get(), chunk_count_ * kChunkBytes);
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

void RequestJournal::start_chunk(uint64_t seq) {
  uint32_t c;
  for (;;) {
    c = age_[age_at_];
    // Emptied before the reader is looked for: a reader that then comes
    // finds it empty, and one that was there already is seen (both seq_cst).
    first_seq_[c].store(0, std::memory_order_seq_cst);
    if (reading_.load(std::memory_order_seq_cst) != c) break;
    // It stays the oldest, empty, and the next oldest goes instead.
    const uint32_t next = (age_at_ + 1) % chunk_count_;
    std::swap(age_[age_at_], age_[next]);
  }
  age_at_ = (age_at_ + 1) % chunk_count_;
  // The oldest entries kept are now those of the oldest chunk holding any.
  uint64_t oldest = seq;
  for (uint32_t i = 0; i + 1 < chunk_count_; ++i) {
    const uint64_t f =
        first_seq_[age_[(age_at_ + i) % chunk_count_]].load(std::memory_order_relaxed);
    if (f != 0) {
      oldest = f;
      break;
    }
  }
  oldest_.store(oldest, std::memory_order_release);
  first_seq_[c].store(seq, std::memory_order_release);
  current_ = c;
  used_ = 0;
}

void RequestJournal::on_request(const RequestRecord& record) {
  if (capacity_ == 0) return;
  char injection[kInjectionWordsCapacity];
  std::string_view injection_text;
  if (record.injection.rule) {
    injection_words(record.injection, injection);
    injection_text = injection;
  }
  // The texts in the order they follow the head, each cut to its field.
  const std::string_view request = record.request.substr(0, kJournalTextCapacity);
  const std::string_view reply = without_line_end(record.reply).substr(0, kJournalTextCapacity);
  const std::string_view peer = record.connection.peer.substr(0, sizeof JournalEntry::peer - 1);
  const std::string_view tls = record.connection.identity.substr(0, sizeof JournalEntry::tls - 1);
  const size_t total =
      request.size() + reply.size() + injection_text.size() + peer.size() + tls.size();
  const size_t bytes = (kHeadBytes + total + kAlign - 1) & ~(kAlign - 1);
  const uint64_t seq = next_seq_;
  if (current_ == kNoChunk || used_ + bytes > kChunkBytes) start_chunk(seq);
  char* at = chunk(current_) + used_;

  // Written in place: a head built aside and copied would be read back
  // wider than it was written, which stalls.
  JournalHead& e = *std::construct_at(reinterpret_cast<JournalHead*>(at));
  e.seq = seq;
  e.time_us = wall_us(record.done_ns);
  e.connection = record.connection.id;
  e.command = record.command;
  e.micros = record.handler_ns / 1000;
  e.error = record.error;
  e.error_reply = record.error_reply;
  e.sent = record.sent;
  e.injected = record.injection.rule != nullptr;
  e.request_len = static_cast<uint16_t>(request.size());
  e.reply_len = static_cast<uint16_t>(reply.size());
  e.injection_len = static_cast<uint8_t>(injection_text.size());
  e.peer_len = static_cast<uint8_t>(peer.size());
  e.tls_len = static_cast<uint8_t>(tls.size());
  char* const request_copy = at + kHeadBytes;
  char* text = append(request_copy, request);
  text = append(text, reply);
  if (!injection_text.empty()) text = append(text, injection_text);
  text = append(text, peer);
  if (!tls.empty()) append(text, tls);
  // No reader sees the entry before it is published: masked here, no clear
  // secret ever reaches one. A request whose masks only shorten account
  // numbers is masked in each copy read instead, sparing the loop the work.
  if (masked_) {
    e.mask_on_read = hides_only_account_digits(record, request.size());
    if (!e.mask_on_read)
      mask_exchange({request_copy, request.size()}, {request_copy + request.size(), reply.size()},
                    record);
  }
  used_ += bytes;
  next_seq_ = seq + 1;
  published_.store(seq, std::memory_order_release);
  // The chunks are too large to stay in cache, and the next entry would
  // stall on every line it writes: fetched now, they come while the next
  // request is answered. A prefetch past the chunk's end does no harm.
  const char* next = chunk(current_) + used_;
  __builtin_prefetch(next, 1);
  __builtin_prefetch(next + 64, 1);
  __builtin_prefetch(next + 128, 1);
  __builtin_prefetch(next + 192, 1);
  __builtin_prefetch(next + 256, 1);
  __builtin_prefetch(next + 320, 1);
}

void RequestJournal::copy_chunk(uint32_t c, uint64_t first, uint64_t last,
                                const JournalQuery& query, std::vector<JournalEntry>& out) const {
  const char* bytes = chunk(c);
  size_t at = 0;
  JournalEntry entry;
  for (uint64_t seq = first; seq <= last && at + kHeadBytes <= kChunkBytes; ++seq) {
    // Into a head of its own: an entry's texts may begin in the tail padding
    // of its JournalHead base, which a copy of sizeof(JournalHead) would write.
    JournalHead h;
    std::memcpy(&h, bytes + at, sizeof h);
    const size_t lens[] = {h.request_len, h.reply_len, h.injection_len, h.peer_len, h.tls_len};
    const size_t total = lens[0] + lens[1] + lens[2] + lens[3] + lens[4];
    const size_t size = (kHeadBytes + total + kAlign - 1) & ~(kAlign - 1);
    if (h.seq != seq || at + size > kChunkBytes || lens[0] > sizeof entry.request ||
        lens[1] > sizeof entry.reply || lens[2] >= sizeof entry.injection ||
        lens[3] >= sizeof entry.peer || lens[4] >= sizeof entry.tls)
      break;
    if (seq > query.after && (query.command == SIZE_MAX || h.command == query.command)) {
      static_cast<JournalHead&>(entry) = h;
      char* const into[] = {entry.request, entry.reply, entry.injection, entry.peer, entry.tls};
      const char* text = bytes + at + kHeadBytes;
      for (size_t part = 0; part < 5; ++part) {
        if (lens[part]) std::memcpy(into[part], text, lens[part]);
        text += lens[part];
      }
      if (h.mask_on_read)
        mask_message({entry.request, h.request_len}, h.command, MessagePart::kRequest);
      // The short texts are read as C strings.
      entry.injection[h.injection_len] = '\0';
      entry.peer[h.peer_len] = '\0';
      entry.tls[h.tls_len] = '\0';
      out.push_back(entry);
    }
    at += size;
  }
  secure_zero(&entry, sizeof entry);
}

void RequestJournal::read(const JournalQuery& query, std::vector<JournalEntry>& out,
                          uint64_t& recorded, uint64_t& dropped) const {
  out.clear();
  const std::lock_guard<std::mutex> lock(read_lock_);
  const uint64_t newest = published_.load(std::memory_order_acquire);
  uint64_t kept_from =
      std::max(cleared_.load(std::memory_order_acquire), oldest_.load(std::memory_order_acquire));
  if (newest >= capacity_) kept_from = std::max(kept_from, newest - capacity_ + 1);
  recorded = newest;
  dropped = std::min(newest, kept_from - 1);
  if (capacity_ == 0 || query.limit == 0) return;
  // The chunks that hold entries, newest first.
  std::vector<std::pair<uint64_t, uint32_t>> held;
  for (uint32_t c = 0; c < chunk_count_; ++c) {
    const uint64_t f = first_seq_[c].load(std::memory_order_acquire);
    if (f != 0 && f <= newest) held.emplace_back(f, c);
  }
  std::sort(held.rbegin(), held.rend());
  const uint64_t from = std::max(kept_from, query.after + 1);
  uint64_t last = newest;
  // Entries are large: room for all that may be taken is made once.
  const size_t most =
      newest < from ? 0 : std::min<uint64_t>({query.limit, capacity_, newest - from + 1});
  out.reserve(most);
  std::vector<JournalEntry> taken;
  taken.reserve(most);
  for (const auto& [first, c] : held) {
    if (last < from || out.size() >= query.limit) break;
    // In the chunk before it is trusted: once seen, the writer leaves it be.
    reading_.store(c, std::memory_order_seq_cst);
    if (first_seq_[c].load(std::memory_order_seq_cst) != first) break;
    taken.clear();
    copy_chunk(c, first, last, {query.command, std::max(from, first) - 1, SIZE_MAX}, taken);
    // Newest first, as the walk goes.
    for (size_t i = taken.size(); i > 0 && out.size() < query.limit; --i)
      out.push_back(taken[i - 1]);
    last = first - 1;
  }
  reading_.store(kNoChunk, std::memory_order_seq_cst);
  if (!taken.empty()) secure_zero(taken.data(), taken.size() * sizeof(JournalEntry));
  std::reverse(out.begin(), out.end());
}

void RequestJournal::clear() {
  cleared_.store(published_.load(std::memory_order_acquire) + 1, std::memory_order_release);
}

}  // namespace palisim
