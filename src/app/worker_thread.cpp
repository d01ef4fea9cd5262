#include "app/worker_thread.h"

#include <system_error>

namespace palisim {

WorkerThread::~WorkerThread() {
  if (thread_.joinable()) thread_.join();
}

bool WorkerThread::start() {
  if (thread_.joinable()) thread_.join();
  running_.store(true, std::memory_order_release);
  try {
    thread_ = std::thread(&WorkerThread::routine, this);
  } catch (const std::system_error&) {
    running_.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void WorkerThread::release() {}

void WorkerThread::routine() {
  int code;
  try {
    code = run();
  } catch (...) {
    code = -1;
  }
  exit_code_.store(code, std::memory_order_release);
  release();
  running_.store(false, std::memory_order_release);
}

int WorkerThread::wait() {
  if (thread_.joinable()) thread_.join();
  return exit_code();
}

}  // namespace palisim
