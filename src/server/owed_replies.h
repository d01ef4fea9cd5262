// Replies owed to clients that shut their sending side while only delayed
// replies were still to come. Such a client needs no connection slot: its
// transport and the reply's bytes wait here, leave when due, and then the
// socket is closed; the slot and its buffers went back at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "server/transport.h"

namespace palisim {

inline constexpr size_t kMaxOwedReplies = 256;

class OwedReplies {
 public:
  OwedReplies() = default;
  // Closes every socket still waiting; their replies are dropped.
  ~OwedReplies();
  OwedReplies(const OwedReplies&) = delete;
  OwedReplies& operator=(const OwedReplies&) = delete;

  // Keeps the transport and a copy of bytes (an empty reply for a close
  // alone) until due_ms. When all kMaxOwedReplies places are taken, the
  // oldest is dropped with one line.
  void add(std::unique_ptr<Transport> transport, int fd, std::span<const char> bytes,
           int64_t due_ms);
  // The earliest due time; 0 when none waits.
  int64_t deadline_ms() const;
  // Sends the replies due by now_ms and closes their sockets; a socket that
  // does not take its reply at once is tried again a little later, for a while.
  // Returns the bytes sent.
  uint64_t on_deadline(int64_t now_ms);
  size_t size() const { return count_; }

 private:
  struct Owed {
    std::unique_ptr<Transport> transport;  // null: the place is free
    int fd = -1;                           // for the lines
    std::unique_ptr<char[]> bytes;         // the reply, which may carry PINs: wiped once sent
    size_t len = 0;
    size_t sent = 0;
    int64_t due_ms = 0;      // when it leaves, or is tried again
    int64_t give_up_ms = 0;  // a socket that has not taken it all by then is closed
    uint64_t added = 0;      // order of adding: the smallest is the oldest
  };
  void release(Owed& owed);

  std::array<Owed, kMaxOwedReplies> owed_;
  size_t count_ = 0;
  uint64_t added_ = 0;  // adds so far
};

}  // namespace palisim
