#include "server/standard_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace palisim {

StandardOutput::StandardOutput() {
  struct stat st;
  if (fstat(STDOUT_FILENO, &st) != 0) return;
  fd_ = STDOUT_FILENO;
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) {
    kind_ = Kind::kFile;
  } else if (S_ISSOCK(st.st_mode)) {
    kind_ = Kind::kSocket;
  } else {
    // O_NONBLOCK set on descriptor 1, or on a dup of it, would change the
    // description it shares with the shell and every other process using it;
    // opening it again gives one of our own.
    int own = open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    kind_ = own >= 0 ? Kind::kOwn : Kind::kPolled;
    if (own >= 0) fd_ = own;
  }
}

StandardOutput::~StandardOutput() {
  if (kind_ == Kind::kOwn) close(fd_);
}

ssize_t StandardOutput::write(const char* bytes, size_t len) {
  ssize_t n = -1;
  do {
    switch (kind_) {
      case Kind::kGone:
        return -1;
      case Kind::kFile:
      case Kind::kOwn:
        n = ::write(fd_, bytes, len);
        break;
      case Kind::kSocket:
        n = send(fd_, bytes, len, MSG_DONTWAIT | MSG_NOSIGNAL);
        break;
      case Kind::kPolled: {
        // A pipe with room takes up to PIPE_BUF bytes without waiting; one
        // without a reader fails at once.
        pollfd room{fd_, POLLOUT, 0};
        if (poll(&room, 1, 0) != 1) return 0;
        n = ::write(fd_, bytes, std::min<size_t>(len, PIPE_BUF));
        break;
      }
    }
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
  // Polling a full disk or /dev/full says "ready" at once, so these are not
  // waited for.
  if (errno == ENOSPC || errno == EFBIG || errno == EIO) return kRefused;
  // EPIPE, EBADF and the like do not get better; stop trying.
  if (kind_ == Kind::kOwn) close(fd_);
  kind_ = Kind::kGone;
  fd_ = -1;
  return -1;
}

}  // namespace palisim
