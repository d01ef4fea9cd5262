// A wake-up descriptor that another thread (or a signal handler) uses to ask
// the serving loop to end. Once signalled it stays readable, so a stop asked
// for before the loop starts is still seen.
#pragma once

namespace palisim {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Safe from any thread and from a signal handler.
  void signal() const;
  bool signalled() const;
  // Clears a previous request so the object can serve another run.
  void reset();
  int fd() const { return fd_; }

 private:
  int fd_;  // eventfd, non-blocking
};

}  // namespace palisim
