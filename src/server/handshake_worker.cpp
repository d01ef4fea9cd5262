#include "server/handshake_worker.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "server/diag.h"

namespace palisim {

namespace {

int64_t steady_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

HandshakeWorker::HandshakeWorker(SSL_CTX* ctx) : ctx_(ctx), thread_([this] { run(); }) {}

HandshakeWorker::~HandshakeWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.signal();
  thread_.join();
  // Sessions never handed to a slot end with their sockets, as a stop ends every connection.
  for (size_t i = 0; i < started_count_; ++i)
    graceful_close(started_[i].fd);
  for (size_t i = 0; i < job_count_; ++i) {
    jobs_[i].session.reset();
    graceful_close(jobs_[i].fd);
  }
  for (size_t i = 0; i < finished_count_; ++i)
    if (finished_[i].fd >= 0) graceful_close(finished_[i].fd);
  for (size_t i = 0; i < done_count_; ++i)
    if (done_[i].fd >= 0) graceful_close(done_[i].fd);
}

void HandshakeWorker::start(int fd, const char* peer, int64_t now_ms, int64_t limit_ms) {
  {
    std::lock_guard lock(mutex_);
    Job& job = started_[started_count_++];
    job.fd = fd;
    job.due_ms = now_ms + limit_ms;
    job.limit_ms = limit_ms;
    job.wants_write = false;
    std::snprintf(job.peer, sizeof job.peer, "%s", peer);
  }
  ++in_flight_;
  wake_.signal();
}

size_t HandshakeWorker::take(std::span<HandshakeOutcome> out) {
  ready_.reset();
  std::lock_guard lock(mutex_);
  size_t n = std::min(out.size(), done_count_);
  std::move(done_.begin(), done_.begin() + static_cast<ptrdiff_t>(n), out.begin());
  std::move(done_.begin() + static_cast<ptrdiff_t>(n),
            done_.begin() + static_cast<ptrdiff_t>(done_count_), done_.begin());
  done_count_ -= n;
  in_flight_ -= static_cast<int>(n);
  // What did not fit is taken in the next pass.
  if (done_count_ != 0) ready_.signal();
  return n;
}

void HandshakeWorker::run() {
  std::array<pollfd, kMaxHandshakes + 1> fds;
  for (;;) {
    fds[0] = {wake_.fd(), POLLIN, 0};
    int64_t due = 0;
    for (size_t i = 0; i < job_count_; ++i) {
      const Job& job = jobs_[i];
      fds[i + 1] = {job.fd, static_cast<short>(job.wants_write ? POLLOUT : POLLIN), 0};
      if (due == 0 || job.due_ms < due) due = job.due_ms;
    }
    int timeout = due == 0 ? -1 : static_cast<int>(std::clamp<int64_t>(due - steady_ms(), 0, INT_MAX));
    if (poll(fds.data(), static_cast<nfds_t>(job_count_ + 1), timeout) < 0 && errno != EINTR) {
      // Only a broken descriptor set fails a poll; the deadlines still end every job.
      for (size_t i = 0; i < job_count_; ++i)
        fds[i + 1].revents = 0;
    }
    const int64_t now = steady_ms();
    for (size_t i = 0; i < job_count_; ++i) {
      Job& job = jobs_[i];
      // A reset after the client's last bytes still lets them be read first:
      // its alert names why it gave up.
      if (fds[i + 1].revents != 0 && step(job)) continue;
      if (now >= job.due_ms) {
        diag("Socket %d from %s: TLS handshake not completed within %d seconds; closing it.\n",
             job.fd, job.peer, static_cast<int>(job.limit_ms / 1000));
        finish(job, CloseCause::kTlsStalled);
      }
    }
    if ((fds[0].revents & POLLIN) && !take_started()) return;
    // Ended jobs leave the table.
    auto ended = std::remove_if(jobs_.begin(), jobs_.begin() + static_cast<ptrdiff_t>(job_count_),
                                [](const Job& job) { return job.fd < 0; });
    job_count_ = static_cast<size_t>(ended - jobs_.begin());
    hand_back();
  }
}

bool HandshakeWorker::take_started() {
  wake_.reset();
  size_t first = job_count_;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    for (size_t i = 0; i < started_count_; ++i)
      jobs_[job_count_++] = std::move(started_[i]);
    started_count_ = 0;
  }
  // The client's first flight is often there already.
  for (size_t i = first; i < job_count_; ++i) {
    Job& job = jobs_[i];
    job.session = TlsSession::open(ctx_, job.fd);
    step(job);
  }
  return true;
}

bool HandshakeWorker::step(Job& job) {
  if (!job.session) {
    diag("Socket %d from %s: TLS could not be set up; closing it.\n", job.fd, job.peer);
    finish(job, CloseCause::kTlsRefused);
    return true;
  }
  TlsResult step = job.session->handshake();
  job.wants_write = step == TlsResult::kWantWrite;
  switch (step) {
    case TlsResult::kDone: {
      size_t len = std::strlen(job.peer);
      job.peer[len] = ' ';
      job.session->describe({job.peer + len + 1, sizeof job.peer - len - 1});
      diag("Socket %d from %.*s: TLS established, %s\n", job.fd, static_cast<int>(len), job.peer,
           job.peer + len + 1);
      HandshakeOutcome& out = finished_[finished_count_++];
      out.fd = job.fd;
      out.session = std::move(job.session);
      out.cause = CloseCause::kNone;
      std::memcpy(out.peer, job.peer, sizeof out.peer);
      job.fd = -1;
      return true;
    }
    case TlsResult::kWantRead:
    case TlsResult::kWantWrite:
      return false;
    case TlsResult::kClosed:
      diag("Socket %d from %s: TLS handshake failed: the client closed the connection\n", job.fd,
           job.peer);
      break;
    case TlsResult::kFailed:
      if (job.session->plain_text()) {
        diag("Socket %d from %s: plain text on the TLS port; closing it.\n", job.fd, job.peer);
      } else {
        diag("Socket %d from %s: TLS handshake failed: %s\n", job.fd, job.peer,
             job.session->failure());
      }
      break;
  }
  finish(job, CloseCause::kTlsRefused);
  return true;
}

void HandshakeWorker::finish(Job& job, CloseCause cause) {
  job.session.reset();
  graceful_close(job.fd);
  job.fd = -1;
  HandshakeOutcome& out = finished_[finished_count_++];
  out.fd = -1;
  out.session.reset();
  out.cause = cause;
  out.peer[0] = '\0';
}

void HandshakeWorker::hand_back() {
  if (finished_count_ == 0) return;
  {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < finished_count_; ++i)
      done_[done_count_++] = std::move(finished_[i]);
  }
  finished_count_ = 0;
  ready_.signal();
}

}  // namespace palisim
