#include "server/owed_replies.h"

#include <cstring>

#include "crypto/secure_zero.h"
#include "server/diag.h"

namespace palisim {

namespace {

// A socket whose send buffer is full is tried again this often, for this long.
constexpr int64_t kRetryMs = 50;
constexpr int64_t kGiveUpMs = 10'000;

}  // namespace

OwedReplies::~OwedReplies() {
  for (Owed& owed : owed_)
    if (owed.transport) release(owed);
}

void OwedReplies::add(std::unique_ptr<Transport> transport, int fd, std::span<const char> bytes,
                      int64_t due_ms) {
  Owed* place = nullptr;
  if (count_ == kMaxOwedReplies) {
    place = &owed_[0];
    for (Owed& owed : owed_)
      if (owed.added < place->added) place = &owed;
    diag("Socket %d: dropping its delayed reply: %zu closed clients already wait for theirs.\n",
         place->fd, kMaxOwedReplies);
    release(*place);
  } else {
    for (Owed& owed : owed_) {
      if (!owed.transport) {
        place = &owed;
        break;
      }
    }
  }
  place->transport = std::move(transport);
  place->fd = fd;
  place->bytes = std::make_unique<char[]>(bytes.size());
  std::memcpy(place->bytes.get(), bytes.data(), bytes.size());
  place->len = bytes.size();
  place->sent = 0;
  place->due_ms = due_ms;
  place->give_up_ms = due_ms + kGiveUpMs;
  place->added = added_++;
  ++count_;
}

int64_t OwedReplies::deadline_ms() const {
  if (count_ == 0) return 0;
  int64_t due = 0;
  for (const Owed& owed : owed_)
    if (owed.transport && (due == 0 || owed.due_ms < due)) due = owed.due_ms;
  return due;
}

uint64_t OwedReplies::on_deadline(int64_t now_ms) {
  uint64_t total = 0;
  for (Owed& owed : owed_) {
    if (!owed.transport || now_ms < owed.due_ms) continue;
    IoResult r{IoStatus::kMoved};
    while (owed.sent < owed.len) {
      r = owed.transport->write({owed.bytes.get() + owed.sent, owed.len - owed.sent});
      if (r.status != IoStatus::kMoved || r.bytes == 0) break;
      owed.sent += r.bytes;
      total += r.bytes;
    }
    if (r.status == IoStatus::kWouldBlock && owed.sent < owed.len) {
      if (now_ms < owed.give_up_ms) {
        owed.due_ms = now_ms + kRetryMs;
        continue;
      }
      diag("Socket %d did not take its delayed reply within %d seconds; closing it.\n", owed.fd,
           static_cast<int>(kGiveUpMs / 1000));
    }
    release(owed);
  }
  return total;
}

void OwedReplies::release(Owed& owed) {
  owed.transport->close();
  owed.transport.reset();
  secure_zero(owed.bytes.get(), owed.len);
  owed.bytes.reset();
  owed.len = owed.sent = 0;
  --count_;
}

}  // namespace palisim
