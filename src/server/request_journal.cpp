#include "server/request_journal.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "crypto/secure_zero.h"
#include "server/trace_masks.h"

namespace palisim {

namespace {

// Entries the control thread copies per hold of the mutex.
constexpr size_t kReadChunk = 32;

template <size_t N>
void copy_text(char (&out)[N], std::string_view text) {
  const size_t n = std::min(text.size(), N - 1);
  if (n) std::memcpy(out, text.data(), n);
  out[n] = '\0';
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
      ring_(capacity ? std::make_unique<Slot[]>(capacity) : nullptr),
      // Room for the longest entry however small the ring.
      text_capacity_(std::max(capacity * kJournalTextPerEntry, 2 * kJournalTextCapacity)),
      text_(capacity ? std::make_unique_for_overwrite<char[]>(text_capacity_) : nullptr) {}

RequestJournal::~RequestJournal() {
  if (text_) secure_zero(text_.get(), text_capacity_);
}

void RequestJournal::on_request(const RequestRecord& record) {
  if (capacity_ == 0) return;
  const int64_t now_us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  std::string_view request = record.request.substr(0, kJournalTextCapacity);
  std::string_view reply = without_line_end(record.reply).substr(0, kJournalTextCapacity);
  std::lock_guard lock(mutex_);
  Slot& slot = ring_[(next_seq_ - 1) % capacity_];
  JournalHead& e = slot.head;
  e.seq = next_seq_++;
  slot.text_at = text_end_;
  text_end_ += request.size() + reply.size();
  // The oldest entries go when the ring of entries, or of their texts, is full.
  while (first_seq_ < next_seq_ &&
         (next_seq_ - first_seq_ > capacity_ ||
          ring_[(first_seq_ - 1) % capacity_].text_at + text_capacity_ < text_end_))
    ++first_seq_;
  e.time_us = now_us;
  e.connection = record.connection.id;
  e.command = record.command;
  e.micros = record.handler_ns / 1000;
  e.error = record.error;
  e.error_reply = record.error_reply;
  e.sent = record.sent;
  e.injected = record.injection.rule != nullptr;
  e.injection[0] = '\0';
  if (e.injected) injection_words(record.injection, e.injection);
  copy_text(e.peer, record.connection.peer);
  copy_text(e.tls, record.connection.identity);
  e.request_len = static_cast<uint16_t>(request.size());
  e.reply_len = static_cast<uint16_t>(reply.size());
  // Masked in place in the text ring; a text that wraps is masked in a copy.
  char copy[2 * kJournalTextCapacity];
  const uint64_t at = slot.text_at % text_capacity_;
  const bool wraps = at + request.size() + reply.size() > text_capacity_;
  char* texts = wraps ? copy : text_.get() + at;
  if (!request.empty()) std::memcpy(texts, request.data(), request.size());
  if (!reply.empty()) std::memcpy(texts + request.size(), reply.data(), reply.size());
  if (masked_) {
    mask_exchange({texts, request.size()}, {texts + request.size(), reply.size()}, record.error,
                  record.injection);
  }
  if (wraps) {
    const size_t first = text_capacity_ - at;
    std::memcpy(text_.get() + at, copy, first);
    std::memcpy(text_.get(), copy + first, request.size() + reply.size() - first);
    secure_zero(copy, request.size() + reply.size());
  }
}

void RequestJournal::copy_out(const Slot& slot, JournalEntry& out) const {
  static_cast<JournalHead&>(out) = slot.head;
  char* into[2] = {out.request, out.reply};
  const size_t lens[2] = {slot.head.request_len, slot.head.reply_len};
  uint64_t from = slot.text_at;
  for (int part = 0; part < 2; ++part) {
    for (size_t i = 0; i < lens[part]; ++i)
      into[part][i] = text_[(from + i) % text_capacity_];
    from += lens[part];
  }
}

void RequestJournal::read(const JournalQuery& query, std::vector<JournalEntry>& out,
                          uint64_t& recorded, uint64_t& dropped) const {
  out.clear();
  uint64_t seq;
  {
    std::lock_guard lock(mutex_);
    recorded = next_seq_ - 1;
    dropped = first_seq_ - 1;
    seq = next_seq_;
  }
  // From the newest back, a chunk per hold of the mutex; an entry the ring
  // overwrote meanwhile ends the walk, and so does every older one.
  while (out.size() < query.limit) {
    std::lock_guard lock(mutex_);
    const uint64_t oldest = std::max(first_seq_, query.after + 1);
    if (seq <= oldest) break;
    for (size_t n = 0; n < kReadChunk && seq > oldest && out.size() < query.limit; ++n) {
      const Slot& slot = ring_[(--seq - 1) % capacity_];
      if (query.command != SIZE_MAX && slot.head.command != query.command) continue;
      out.emplace_back();
      copy_out(slot, out.back());
    }
  }
  std::reverse(out.begin(), out.end());
}

void RequestJournal::clear() {
  std::lock_guard lock(mutex_);
  first_seq_ = next_seq_;
}

}  // namespace palisim
