// A thread object whose work is a virtual run(), with hooks around it.
#pragma once

#include <atomic>
#include <thread>

namespace palisim {

class WorkerThread {
 public:
  virtual ~WorkerThread();

  // Starts run() on a new thread; false when the thread cannot be created.
  virtual bool start();
  // The thread's work; its result is the thread's exit code.
  virtual int run() = 0;
  // Called on the thread itself after run() returned.
  virtual void release();

  // True from start() until run() and release() have finished.
  bool running() const { return running_.load(std::memory_order_acquire); }
  // Waits for the thread to end; returns its exit code (-1 if run() threw).
  int wait();
  int exit_code() const { return exit_code_.load(std::memory_order_acquire); }

 private:
  void routine();

  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<int> exit_code_{0};
};

}  // namespace palisim
