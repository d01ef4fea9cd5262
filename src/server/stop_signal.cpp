#include "server/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace palisim {

StopSignal::StopSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) std::abort();  // without it no server could ever be stopped
}

StopSignal::~StopSignal() {
  close(fd_);
}

void StopSignal::signal() const {
  uint64_t one = 1;
  ssize_t n = write(fd_, &one, sizeof one);
  (void)n;  // the counter only saturates; a failed write leaves it readable anyway
}

bool StopSignal::signalled() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void StopSignal::reset() {
  uint64_t value;
  ssize_t n = read(fd_, &value, sizeof value);
  (void)n;  // EAGAIN just means it was not signalled
}

}  // namespace palisim
