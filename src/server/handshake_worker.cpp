#include "server/handshake_worker.h"

#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace palisim {

namespace {

constexpr int kHandshakeNice = 10;

int64_t steady_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void close_all(std::span<HandshakeOutcome> held) {
  for (HandshakeOutcome& h : held) {
    if (h.transport) h.transport->close();
    h.transport.reset();
  }
}

}  // namespace

HandshakeWorker::HandshakeWorker() : thread_([this] { run(); }) {
  // Named, so that a look at the process's threads tells where its time goes.
  pthread_setname_np(thread_.native_handle(), "handshakes");
}

HandshakeWorker::~HandshakeWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.signal();
  thread_.join();
  // Transports that never reached a slot end with the server, as every connection does.
  close_all({started_.data(), started_count_});
  close_all({jobs_.data(), job_count_});
  close_all({finished_.data(), finished_count_});
  close_all({done_.data(), done_count_});
}

void HandshakeWorker::start(std::unique_ptr<Transport> transport, const sockaddr_in& peer,
                            int listener) {
  {
    std::lock_guard lock(mutex_);
    started_[started_count_++] = {std::move(transport), CloseCause::kNone, peer, listener};
  }
  ++in_flight_;
  wake_.signal();
}

size_t HandshakeWorker::take(std::span<HandshakeOutcome> out) {
  ready_.reset();
  std::lock_guard lock(mutex_);
  const auto n = static_cast<ptrdiff_t>(std::min(out.size(), done_count_));
  std::move(done_.begin(), done_.begin() + n, out.begin());
  std::move(done_.begin() + n, done_.begin() + static_cast<ptrdiff_t>(done_count_), done_.begin());
  done_count_ -= static_cast<size_t>(n);
  in_flight_ -= static_cast<int>(n);
  // What did not fit is taken in the next pass.
  if (done_count_ != 0) ready_.signal();
  return static_cast<size_t>(n);
}

void HandshakeWorker::run() {
  // The serving thread comes first when both want the processor: a
  // handshake may wait a little, a connected client's request should not.
  // Linux gives each thread a nice value of its own.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kHandshakeNice);
  std::array<pollfd, kMaxHandshakes + 1> fds;
  for (;;) {
    fds[0] = {wake_.fd(), POLLIN, 0};
    int64_t due = 0;
    for (size_t i = 0; i < job_count_; ++i) {
      const Transport& t = *jobs_[i].transport;
      fds[i + 1] = {t.fd(), t.waits_for(), 0};
      if (due == 0 || t.deadline_ms() < due) due = t.deadline_ms();
    }
    int timeout =
        due == 0 ? -1 : static_cast<int>(std::clamp<int64_t>(due - steady_ms(), 0, INT_MAX));
    // A failed poll (EINTR) reports nothing ready; the deadlines still apply.
    if (poll(fds.data(), static_cast<nfds_t>(job_count_ + 1), timeout) < 0) {
      for (pollfd& p : fds)
        p.revents = 0;
    }
    const int64_t now = steady_ms();
    // Any event takes a step, an error or a reset too: what the client sent
    // before it, such as an alert naming why it gave up, is read first.
    for (size_t i = 0; i < job_count_; ++i)
      advance(jobs_[i], fds[i + 1].revents != 0, now);
    if ((fds[0].revents & POLLIN) && !take_started()) return;
    auto ended = std::remove_if(jobs_.begin(), jobs_.begin() + static_cast<ptrdiff_t>(job_count_),
                                [](const HandshakeOutcome& job) { return !job.transport; });
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
  const int64_t now = steady_ms();
  for (size_t i = first; i < job_count_; ++i)
    advance(jobs_[i], true, now);
  return true;
}

bool HandshakeWorker::advance(HandshakeOutcome& job, bool ready, int64_t now_ms) {
  Transport& t = *job.transport;
  CloseCause cause = ready ? t.step_handshake() : CloseCause::kNone;
  if (cause == CloseCause::kNone && !t.handshake_done()) cause = t.on_deadline(now_ms);
  if (cause == CloseCause::kNone && !t.handshake_done()) return false;
  if (cause != CloseCause::kNone) {
    t.close();
    job.transport.reset();
    job.cause = cause;
  }
  finished_[finished_count_++] = std::move(job);
  return true;
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
