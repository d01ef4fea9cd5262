// The control port's journal: the last requests of every connection in a
// ring of small fixed entries and a ring of text words, both allocated once,
// so an entry costs the serving loop the bytes it holds and not its
// capacity. The loop is its only writer and takes no lock: it publishes each
// entry once written, and says which entries it is about to overwrite before
// it does, so the control thread copies entries out and keeps only those
// still intact after the copy, as a sequence lock's reader does. Secrets are
// masked as the trace masks them, before they reach the ring, unless the
// trace is full.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
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
// Text bytes the journal keeps per entry of its capacity, on average; an
// entry whose text the ring overwrote is dropped like an old one.
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
  // Bytes of each text, in the order the text ring holds them.
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
  // Words of one entry's head in the ring: its JournalHead, then where its
  // texts begin in the text ring, in words counted from the first written.
  static constexpr size_t kHeadWords = (sizeof(JournalHead) + 7) / 8 + 1;

  // Copies entry `seq` out; false when the writer overwrote it meanwhile.
  bool copy_out(uint64_t seq, JournalEntry& out) const;
  // Whether entries from `seq` on were still intact after a copy of them.
  bool intact_since(uint64_t seq) const;

  // Wall-clock microseconds of a steady-clock time, from an offset the
  // writer refreshes each second, so an entry costs no clock reading.
  int64_t wall_us(int64_t steady_ns);

  const size_t capacity_;
  const bool masked_;
  // Both rings have a power-of-two size, so a position is masked, not divided.
  const size_t ring_mask_;
  const size_t text_words_;
  // Written by the loop and read by the control thread, each word whole
  // (std::atomic_ref, relaxed): the fences around published_ and
  // overwriting_ order them.
  std::unique_ptr<uint64_t[]> heads_;
  std::unique_ptr<uint64_t[]> text_;

  // The writer's own.
  uint64_t next_seq_ = 1;       // the seq of the next entry written
  uint64_t oldest_ = 1;         // the oldest entry the rings still hold
  uint64_t text_end_ = 0;       // text words written so far
  int64_t wall_offset_us_ = 0;  // the system clock less the steady clock
  int64_t offset_due_ns_ = 0;   // the steady time after which wall_offset_us_ is read again

  std::atomic<uint64_t> published_{0};    // the newest entry written whole
  std::atomic<uint64_t> overwriting_{1};  // entries before it may be overwritten
  std::atomic<uint64_t> cleared_{1};      // the control thread cleared entries before it
};

}  // namespace palisim
