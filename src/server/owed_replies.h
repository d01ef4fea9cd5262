// Replies owed to clients that shut their sending side while only delayed
// replies were still to come. Such a client needs no connection slot: its
// transport and its replies' bytes wait here, each run of them leaves at its
// own time, and then the socket is closed; the slot and its buffers went
// back at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "server/connection_limits.h"
#include "server/transport.h"

namespace palisim {

inline constexpr size_t kMaxOwedReplies = 256;
// A closed client is owed at most this many reply bytes: the answers to a
// full input buffer of short requests fit several times over.
inline constexpr size_t kOwedBytesCapacity = 4 * kOutputCapacity;
// Each run but the first follows a delay, and each delay a request of at
// least "<" and ">".
inline constexpr size_t kMaxOwedRuns = kInputCapacity / 2 + 1;
// A socket that takes no byte of what is due for this long is closed.
inline constexpr int64_t kOwedGiveUpMs = 10'000;

// Bytes that leave together: those up to `end` (after the previous run's), at due_ms.
struct OwedRun {
  size_t end = 0;
  int64_t due_ms = 0;
};

// What one closed client is owed, in order, as its connection answers what
// it sent: runs of reply bytes, each due at its time, then the close.
class OwedSchedule {
 public:
  OwedSchedule() = default;
  ~OwedSchedule() { clear(); }
  OwedSchedule(const OwedSchedule&) = delete;
  OwedSchedule& operator=(const OwedSchedule&) = delete;

  // The bytes leave at due_ms, after those before them; false, adding
  // nothing, when there is no room for them.
  bool add(std::span<const char> bytes, int64_t due_ms);
  // Wipes the bytes, which may carry PINs.
  void clear();
  std::span<const char> bytes() const { return {bytes_.data(), len_}; }
  std::span<const OwedRun> runs() const { return {runs_.data(), run_count_}; }

 private:
  std::array<char, kOwedBytesCapacity> bytes_;
  size_t len_ = 0;
  std::array<OwedRun, kMaxOwedRuns> runs_;
  size_t run_count_ = 0;
};

class OwedReplies {
 public:
  // A socket that takes nothing of what is due for give_up_ms is closed.
  explicit OwedReplies(int64_t give_up_ms = kOwedGiveUpMs);
  // Closes every socket still waiting; their replies are dropped.
  ~OwedReplies();
  OwedReplies(const OwedReplies&) = delete;
  OwedReplies& operator=(const OwedReplies&) = delete;

  // Where the next client's replies are written before add(); empty.
  OwedSchedule& schedule();
  // Keeps the transport and a copy of schedule()'s runs, and closes the
  // socket at close_ms once they have left. When all kMaxOwedReplies places
  // are taken, the oldest is dropped with one line.
  void add(std::unique_ptr<Transport> transport, int fd, int64_t close_ms);
  // The earliest time something is due; 0 when none waits.
  int64_t deadline_ms() const;
  // Sends the runs due by now_ms and closes the sockets owed nothing more; a
  // socket that does not take its bytes at once is tried again a little
  // later, for a while. Returns the bytes sent.
  uint64_t on_deadline(int64_t now_ms);
  size_t size() const { return count_; }

 private:
  struct Owed {
    std::unique_ptr<Transport> transport;  // null: the place is free
    int fd = -1;                           // for the lines
    std::unique_ptr<char[]> bytes;         // the replies, which may carry PINs: wiped once sent
    size_t len = 0;
    size_t sent = 0;
    std::unique_ptr<OwedRun[]> runs;
    size_t run_count = 0;
    size_t runs_due = 0;           // the runs that came due
    int64_t close_ms = 0;          // when the socket closes, once every byte left
    int64_t retry_ms = 0;          // a blocked socket is tried again then; 0 when not blocked
    int64_t blocked_since_ms = 0;  // it took nothing of what was due since; 0 when not blocked
    uint64_t added = 0;            // order of adding: the smallest is the oldest
    int64_t wake_ms() const;
  };
  // Sends what is due; false once the place is released.
  bool send_due(Owed& owed, int64_t now_ms, uint64_t& total);
  void release(Owed& owed);

  std::array<Owed, kMaxOwedReplies> owed_;
  size_t count_ = 0;
  uint64_t added_ = 0;  // adds so far
  int64_t give_up_ms_;
  std::unique_ptr<OwedSchedule> schedule_;  // reused for each client handed over
};

}  // namespace palisim
