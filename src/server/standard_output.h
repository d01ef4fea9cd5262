// Standard output written without ever blocking the writer, whatever it is:
// a terminal, a regular file, a pipe or FIFO, a socket (the journal's), or a
// descriptor whose reader is gone.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace palisim {

class StandardOutput {
 public:
  // Looks at descriptor 1 once; what it finds is kept for the object's life.
  StandardOutput();
  ~StandardOutput();
  StandardOutput(const StandardOutput&) = delete;
  StandardOutput& operator=(const StandardOutput&) = delete;

  // The output refused the bytes (a full device, the file-size limit, an I/O
  // error): waiting would not make room, but a later write may succeed.
  static constexpr ssize_t kRefused = -2;

  // Bytes written; 0 when the output has no room now; kRefused; -1 when it
  // is gone for good (closed, or its reader went away).
  ssize_t write(const char* bytes, size_t len);
  bool gone() const { return kind_ == Kind::kGone; }
  // What to poll for room while bytes wait; -1 when a poll would not tell
  // (a regular file is always ready) or the output is gone.
  int poll_fd() const { return kind_ == Kind::kFile ? -1 : fd_; }

 private:
  enum class Kind {
    kGone,    // nothing to write to
    kFile,    // a regular file or block device: writes never wait long
    kSocket,  // sent with MSG_DONTWAIT
    kOwn,     // a non-blocking description of our own on the same pipe or terminal
    kPolled,  // that description could not be had: at most PIPE_BUF bytes after a poll
  };
  Kind kind_ = Kind::kGone;
  int fd_ = -1;
};

}  // namespace palisim
