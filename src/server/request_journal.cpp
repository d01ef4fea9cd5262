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

size_t copy_cut(std::string_view text, char* out) {
  const size_t n = std::min(text.size(), kJournalTextCapacity);
  if (n) std::memcpy(out, text.data(), n);
  return n;
}

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
      // Pages are touched as entries are written, not all at start.
      ring_(capacity ? std::make_unique_for_overwrite<JournalEntry[]>(capacity) : nullptr) {}

RequestJournal::~RequestJournal() {
  if (ring_) secure_zero(ring_.get(), capacity_ * sizeof(JournalEntry));
}

void RequestJournal::on_request(const RequestRecord& record) {
  if (capacity_ == 0) return;
  const int64_t now_us = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  std::lock_guard lock(mutex_);
  JournalEntry& e = ring_[(next_seq_ - 1) % capacity_];
  e.seq = next_seq_++;
  if (next_seq_ - first_seq_ > capacity_) ++first_seq_;
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
  e.request_len = static_cast<uint16_t>(copy_cut(record.request, e.request));
  e.reply_len = static_cast<uint16_t>(copy_cut(without_line_end(record.reply), e.reply));
  if (masked_) {
    mask_exchange({e.request, e.request_len}, {e.reply, e.reply_len}, record.error,
                  record.injection);
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
      const JournalEntry& e = ring_[(--seq - 1) % capacity_];
      if (query.command == SIZE_MAX || e.command == query.command) out.push_back(e);
    }
  }
  std::reverse(out.begin(), out.end());
}

void RequestJournal::clear() {
  std::lock_guard lock(mutex_);
  first_seq_ = next_seq_;
}

}  // namespace palisim
