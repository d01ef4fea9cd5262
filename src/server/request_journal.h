// The control port's journal: the last requests of every connection, in
// fixed chunks of memory allocated once, each entry a head and its texts
// side by side, so an entry costs the serving loop the bytes it holds and
// not its capacity. The loop is its only writer and never waits: a reader
// says which chunk it is copying from, and the loop, about to reuse that
// chunk, reuses the next one instead, so no byte is ever written while it
// is read. Secrets are masked as the trace masks them, before the entry is
// published, unless the trace is full; account numbers, which are no secret,
// may instead be shortened in each copy read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "server/fault_injection.h"
#include "server/request_record.h"

namespace palisim {

struct ErrorKind;

// What the journal asks of every request: its text and its time.
inline constexpr ObserverNeeds kJournalNeeds{.time = true, .text = true};

// Longer requests and replies are kept cut to this.
inline constexpr size_t kJournalTextCapacity = 1024;
// Text bytes the journal keeps per entry of its capacity, on average; when
// entries are longer, the oldest go before the capacity is reached.
inline constexpr size_t kJournalTextPerEntry = 256;

// What an entry holds but its texts: one cache line, so writing an entry
// touches little memory beyond the texts themselves.
struct JournalHead {
  uint64_t seq = 0;         // from 1, across clears
  int64_t time_us = 0;      // when it was answered, microseconds since the epoch
  uint64_t connection = 0;  // the loop's number for the connection
  size_t command = 0;       // row of the command table, or kCommandCount
  int64_t micros = 0;       // handler time
  const ErrorKind* error = nullptr;
  bool error_reply = false;
  bool sent = true;
  bool injected = false;
  bool mask_on_read = false;  // the request's account digits are masked in each copy read
  // Bytes of each text, in the order they follow the head.
  uint16_t request_len = 0;
  uint16_t reply_len = 0;
  uint8_t injection_len = 0;
  uint8_t peer_len = 0;
  uint8_t tls_len = 0;
};

// One entry as read.
struct JournalEntry : JournalHead {
  char request[kJournalTextCapacity];
  char reply[kJournalTextCapacity];
  char injection[kInjectionWordsCapacity];  // the trace's words for what a rule did
  char peer[64];
  char tls[160];  // the transport's identity; "" for plain

  std::string_view request_text() const { return {request, request_len}; }
  std::string_view reply_text() const { return {reply, reply_len}; }
};

// Which entries a reading takes.
struct JournalQuery {
  size_t command = SIZE_MAX;  // one row only; SIZE_MAX for all
  uint64_t after = 0;         // only entries of a later seq
  size_t limit = 100;         // the newest this many that match
};

// Text bytes of the longest entry.
inline constexpr size_t kJournalEntryTextMax =
    sizeof JournalEntry::request + sizeof JournalEntry::reply + sizeof JournalEntry::injection +
    sizeof JournalEntry::peer + sizeof JournalEntry::tls;

class RequestJournal : public RequestObserver {
 public:
  // `capacity` entries (0 keeps nothing); `masked` hides secrets.
  RequestJournal(size_t capacity, bool masked);
  ~RequestJournal() override;

  void on_request(const RequestRecord& record) override;

  // The control thread's side: matching entries, oldest first; `recorded`
  // and `dropped` count every entry written and those the ring overwrote or
  // a clear removed.
  void read(const JournalQuery& query, std::vector<JournalEntry>& out, uint64_t& recorded,
            uint64_t& dropped) const;
  void clear();
  size_t capacity() const { return capacity_; }

 private:
  // Room for entries, each its head and then its texts.
  static constexpr size_t kChunkBytes = 16384;
  static constexpr uint32_t kNoChunk = UINT32_MAX;

  char* chunk(uint32_t c) const { return reinterpret_cast<char*>(chunks_.get()) + c * kChunkBytes; }
  // Moves the writer to the oldest chunk no reader is in, its first entry `seq`.
  void start_chunk(uint64_t seq);
  // Copies the entries of chunk `c` from `first` (its first seq) up to
  // `last` that match into `out`.
  void copy_chunk(uint32_t c, uint64_t first, uint64_t last, const JournalQuery& query,
                  std::vector<JournalEntry>& out) const;

  // Wall-clock microseconds of a steady-clock time, from an offset the
  // writer refreshes each second, so an entry costs no clock reading.
  int64_t wall_us(int64_t steady_ns);

  const size_t capacity_;
  const bool masked_;
  const uint32_t chunk_count_;
  std::unique_ptr<uint64_t[]> chunks_;
  // The seq of each chunk's first entry; 0 while it holds none.
  std::unique_ptr<std::atomic<uint64_t>[]> first_seq_;

  // The writer's own.
  std::unique_ptr<uint32_t[]> age_;  // the chunks, oldest first, from age_at_
  uint32_t age_at_ = 0;
  uint32_t current_ = kNoChunk;  // the chunk being filled
  size_t used_ = 0;              // its bytes filled
  uint64_t next_seq_ = 1;        // the seq of the next entry written
  int64_t wall_offset_us_ = 0;   // the system clock less the steady clock
  int64_t offset_due_ns_ = 0;    // the steady time after which wall_offset_us_ is read again

  std::atomic<uint64_t> published_{0};               // the newest entry written whole
  std::atomic<uint64_t> oldest_{1};                  // the oldest entry the chunks still hold
  std::atomic<uint64_t> cleared_{1};                 // the control thread cleared entries before it
  mutable std::atomic<uint32_t> reading_{kNoChunk};  // the chunk a reader copies from
  mutable std::mutex read_lock_;                     // one reader at a time
};

}  // namespace palisim
