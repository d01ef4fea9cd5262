// Runs a function on a thread whose whole stack is a buffer of ours, painted
// with one byte value beforehand, so that whatever the function leaves on its
// stack can be read once the thread has ended. The function runs below a pad
// deeper than the thread's own start and exit code reach, so that code
// overwrites nothing the function left.
#pragma once

#include <pthread.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace palisim::testing {

class PaintedStack {
 public:
  static constexpr uint8_t kPaint = 0xA5;

  explicit PaintedStack(size_t size) : size_(size) {
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  ~PaintedStack() {
    if (base_) munmap(base_, size_);
  }
  PaintedStack(const PaintedStack&) = delete;
  PaintedStack& operator=(const PaintedStack&) = delete;

  // Paints the stack, runs fn(arg) on it and waits for the thread to end.
  bool run(void (*fn)(void*), void* arg) {
    if (!base_) return false;
    Call call{fn, arg};
    std::memset(base_, kPaint, size_);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    bool ok = pthread_attr_setstack(&attr, base_, size_) == 0;
    pthread_t thread;
    ok = ok && pthread_create(&thread, &attr, below_pad, &call) == 0;
    pthread_attr_destroy(&attr);
    return ok && pthread_join(thread, nullptr) == 0;
  }

  // The part of the stack the thread wrote to: from the lowest byte that
  // lost its paint to the top (the stack grows down).
  std::string_view used() const {
    size_t low = 0;
    while (low < size_ && base_[low] == kPaint)
      ++low;
    return {reinterpret_cast<const char*>(base_) + low, size_ - low};
  }

 private:
  static constexpr size_t kPadSize = 32 * 1024;

  struct Call {
    void (*fn)(void*);
    void* arg;
  };

  __attribute__((noinline)) static void* below_pad(void* p) {
    char pad[kPadSize];
    asm volatile("" : : "r"(pad) : "memory");  // keeps the pad in the frame
    auto* call = static_cast<Call*>(p);
    call->fn(call->arg);
    return nullptr;
  }

  size_t size_;
  uint8_t* base_ = nullptr;
};

}  // namespace palisim::testing
