#include "server/owed_replies.h"

#include <algorithm>
#include <cstring>

#include "crypto/secure_zero.h"
#include "server/diag.h"

namespace palisim {

namespace {

// A socket whose send buffer is full is tried again this often.
constexpr int64_t kRetryMs = 50;

}  // namespace

bool OwedSchedule::add(std::span<const char> bytes, int64_t due_ms) {
  if (bytes.empty()) return true;
  const bool joins = run_count_ != 0 && runs_[run_count_ - 1].due_ms == due_ms;
  if (bytes.size() > bytes_.size() - len_ || (!joins && run_count_ == runs_.size())) return false;
  std::memcpy(bytes_.data() + len_, bytes.data(), bytes.size());
  len_ += bytes.size();
  if (!joins) runs_[run_count_++].due_ms = due_ms;
  runs_[run_count_ - 1].end = len_;
  return true;
}

void OwedSchedule::clear() {
  secure_zero(bytes_.data(), len_);
  len_ = run_count_ = 0;
}

OwedReplies::OwedReplies(int64_t give_up_ms)
    : give_up_ms_(give_up_ms), schedule_(std::make_unique<OwedSchedule>()) {}

OwedReplies::~OwedReplies() {
  for (Owed& owed : owed_)
    if (owed.transport) release(owed);
}

OwedSchedule& OwedReplies::schedule() {
  schedule_->clear();
  return *schedule_;
}

void OwedReplies::add(std::unique_ptr<Transport> transport, int fd, int64_t close_ms) {
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
  const std::span<const char> bytes = schedule_->bytes();
  const std::span<const OwedRun> runs = schedule_->runs();
  place->transport = std::move(transport);
  place->fd = fd;
  place->bytes = std::make_unique<char[]>(bytes.size());
  std::memcpy(place->bytes.get(), bytes.data(), bytes.size());
  place->len = bytes.size();
  place->sent = 0;
  place->runs = std::make_unique<OwedRun[]>(runs.size());
  std::copy(runs.begin(), runs.end(), place->runs.get());
  place->run_count = runs.size();
  place->runs_due = 0;
  place->close_ms = close_ms;
  place->retry_ms = place->blocked_since_ms = 0;
  place->added = added_++;
  ++count_;
  schedule_->clear();
}

int64_t OwedReplies::Owed::wake_ms() const {
  if (retry_ms != 0) return retry_ms;
  return runs_due < run_count ? runs[runs_due].due_ms : close_ms;
}

int64_t OwedReplies::deadline_ms() const {
  if (count_ == 0) return 0;
  int64_t due = 0;
  for (const Owed& owed : owed_)
    if (owed.transport && (due == 0 || owed.wake_ms() < due)) due = owed.wake_ms();
  return due;
}

uint64_t OwedReplies::on_deadline(int64_t now_ms) {
  uint64_t total = 0;
  for (Owed& owed : owed_) {
    if (!owed.transport || now_ms < owed.wake_ms()) continue;
    if (!send_due(owed, now_ms, total)) continue;
    if (owed.runs_due == owed.run_count && owed.sent == owed.len && now_ms >= owed.close_ms) {
      release(owed);
    }
  }
  return total;
}

bool OwedReplies::send_due(Owed& owed, int64_t now_ms, uint64_t& total) {
  while (owed.runs_due < owed.run_count && owed.runs[owed.runs_due].due_ms <= now_ms)
    ++owed.runs_due;
  const size_t due_end = owed.runs_due == 0 ? 0 : owed.runs[owed.runs_due - 1].end;
  IoResult r{IoStatus::kMoved};
  while (owed.sent < due_end) {
    r = owed.transport->write({owed.bytes.get() + owed.sent, due_end - owed.sent});
    if (r.status != IoStatus::kMoved || r.bytes == 0) break;
    // Sent replies may carry clear PINs.
    secure_zero(owed.bytes.get() + owed.sent, r.bytes);
    owed.sent += r.bytes;
    total += r.bytes;
  }
  if (owed.sent == due_end) {
    owed.retry_ms = owed.blocked_since_ms = 0;
    return true;
  }
  if (r.status == IoStatus::kWouldBlock) {
    if (owed.blocked_since_ms == 0) owed.blocked_since_ms = now_ms;
    const int64_t give_up_at = owed.blocked_since_ms + give_up_ms_;
    if (now_ms < give_up_at) {
      owed.retry_ms = std::min(now_ms + kRetryMs, give_up_at);
      return true;
    }
    diag("Socket %d did not take its delayed reply within %d seconds; closing it.\n", owed.fd,
         static_cast<int>(give_up_ms_ / 1000));
  }
  release(owed);
  return false;
}

void OwedReplies::release(Owed& owed) {
  owed.transport->close();
  owed.transport.reset();
  secure_zero(owed.bytes.get(), owed.len);
  owed.bytes.reset();
  owed.runs.reset();
  owed.len = owed.sent = owed.run_count = owed.runs_due = 0;
  --count_;
}

}  // namespace palisim
