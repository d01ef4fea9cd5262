// The control port's journal: the last requests of every connection in a
// ring of small fixed entries and a ring of text bytes, both allocated once,
// so an entry costs the serving loop the bytes it holds and not its
// capacity. The loop writes an entry under a mutex held for that copy; the
// control thread reads under the same mutex a few entries at a time, so
// neither holds it long. Secrets are masked as the trace masks them unless
// the trace is full.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

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

// What an entry holds but its texts.
struct JournalHead {
  uint64_t seq = 0;         // from 1, across clears
  int64_t time_us = 0;      // when its record was handed on, microseconds since the epoch
  uint64_t connection = 0;  // the loop's number for the connection
  size_t command = 0;       // row of the command table, or kCommandCount
  int64_t micros = 0;       // handler time
  const ErrorKind* error = nullptr;
  bool error_reply = false;
  bool sent = true;
  bool injected = false;
  uint16_t request_len = 0;
  uint16_t reply_len = 0;
  char injection[48] = "";  // the trace's words for what a rule did
  char peer[64] = "";
  char tls[160] = "";  // the transport's identity; "" for plain
};

// One entry as read.
struct JournalEntry : JournalHead {
  char request[kJournalTextCapacity];
  char reply[kJournalTextCapacity];

  std::string_view request_text() const { return {request, request_len}; }
  std::string_view reply_text() const { return {reply, reply_len}; }
};

// Which entries a reading takes.
struct JournalQuery {
  size_t command = SIZE_MAX;  // one row only; SIZE_MAX for all
  uint64_t after = 0;         // only entries of a later seq
  size_t limit = 100;         // the newest this many that match
};

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
  const size_t capacity_;
  const bool masked_;
  // An entry as the ring holds it: its texts at `text_at` in the text ring.
  struct Slot {
    JournalHead head;
    uint64_t text_at;  // where its request begins, counted from the first byte written
  };
  void copy_out(const Slot& slot, JournalEntry& out) const;

  std::unique_ptr<Slot[]> ring_;
  const size_t text_capacity_;
  std::unique_ptr<char[]> text_;
  uint64_t text_end_ = 0;  // text bytes written so far
  mutable std::mutex mutex_;
  uint64_t next_seq_ = 1;   // the seq of the next entry written
  uint64_t first_seq_ = 1;  // the oldest entry kept; the older ones were dropped
};

}  // namespace palisim
