#include "server/diag.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "server/standard_output.h"

namespace palisim {

namespace {

// Room for the lines of a busy stretch between two passes of the loop.
constexpr size_t kPendingCapacity = 64 * 1024;

// Lines not yet taken by standard output, and how many did not fit.
struct PendingLines {
  std::mutex mutex;
  StandardOutput out;
  char bytes[kPendingCapacity];
  size_t start = 0;            // first byte not yet written
  size_t end = 0;              // end of the bytes held
  unsigned dropped = 0;        // lines left out since the output last drained
  unsigned counted = 0;        // the number a held "lines dropped" line carries
  uint64_t dropped_total = 0;  // lines left out since the program started
};

PendingLines& pending() {
  static PendingLines lines;
  return lines;
}

std::atomic<FILE*> g_stream{nullptr};
std::atomic<bool> g_quiet{false};

// Formats the line after the bytes held; false when it does not fit.
bool append(PendingLines& p, const char* fmt, va_list ap) {
  if (p.start == p.end) p.start = p.end = 0;
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(p.bytes + p.end, kPendingCapacity - p.end, fmt, copy);
  va_end(copy);
  if (n < 0 || static_cast<size_t>(n) >= kPendingCapacity - p.end) return false;
  p.end += static_cast<size_t>(n);
  return true;
}

// The output refused what is held: those lines join the dropped ones, except
// a held count of them, which is made again later.
void drop_held(PendingLines& p) {
  auto lines = static_cast<unsigned>(std::count(p.bytes + p.start, p.bytes + p.end, '\n'));
  if (p.counted != 0) {
    --lines;
    p.counted = 0;
  }
  p.dropped += lines;
  p.dropped_total += lines;
  p.start = p.end = 0;
}

// Writes what the output takes now; once it has taken everything, owns up
// to the lines left out.
void write_pending(PendingLines& p) {
  for (;;) {
    while (p.start < p.end) {
      ssize_t n = p.out.write(p.bytes + p.start, p.end - p.start);
      if (n == StandardOutput::kRefused) drop_held(p);
      if (n < 0) p.start = p.end;
      if (n <= 0) return;
      p.start += static_cast<size_t>(n);
    }
    p.start = p.end = 0;
    p.dropped -= p.counted;
    p.counted = 0;
    if (p.dropped == 0) return;
    int n = std::snprintf(p.bytes, kPendingCapacity, "%u diagnostic lines dropped\n", p.dropped);
    p.end = static_cast<size_t>(n);
    p.counted = p.dropped;
  }
}

}  // namespace

void set_diag_stream(FILE* s) {
  g_stream.store(s, std::memory_order_relaxed);
}
void set_diag_quiet(bool quiet) {
  g_quiet.store(quiet, std::memory_order_relaxed);
}
bool diag_quiet() {
  return g_quiet.load(std::memory_order_relaxed);
}

void vdiag(const char* fmt, va_list ap) {
  if (FILE* s = g_stream.load(std::memory_order_relaxed)) {
    std::vfprintf(s, fmt, ap);
    return;
  }
  PendingLines& p = pending();
  std::lock_guard lock(p.mutex);
  if (p.out.gone()) return;
  if (append(p, fmt, ap)) return;
  // Make room by moving what waits to the front, after writing what the output takes.
  write_pending(p);
  std::memmove(p.bytes, p.bytes + p.start, p.end - p.start);
  p.end -= p.start;
  p.start = 0;
  if (!append(p, fmt, ap)) {
    ++p.dropped;
    ++p.dropped_total;
  }
}

void diag(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vdiag(fmt, ap);
  va_end(ap);
}

void trace(const char* fmt, ...) {
  if (diag_quiet()) return;
  va_list ap;
  va_start(ap, fmt);
  vdiag(fmt, ap);
  va_end(ap);
}

void diag_flush() {
  if (FILE* s = g_stream.load(std::memory_order_relaxed)) {
    std::fflush(s);
    return;
  }
  PendingLines& p = pending();
  std::lock_guard lock(p.mutex);
  write_pending(p);
}

int diag_waiting_fd() {
  if (g_stream.load(std::memory_order_relaxed)) return -1;
  PendingLines& p = pending();
  std::lock_guard lock(p.mutex);
  return p.start < p.end ? p.out.poll_fd() : -1;
}

uint64_t diag_lines_dropped() {
  PendingLines& p = pending();
  std::lock_guard lock(p.mutex);
  return p.dropped_total;
}

void diag_flush_within(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    diag_flush();
    int fd = diag_waiting_fd();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (fd < 0 || left.count() <= 0) return;
    pollfd room{fd, POLLOUT, 0};
    if (poll(&room, 1, static_cast<int>(left.count())) <= 0) return;
  }
}

void report_socket_error(const char* message, int code) {
  char text[128];
  // The GNU strerror_r returns the text it chose, not always the buffer.
  const char* msg = strerror_r(code, text, sizeof text);
  if (message) {
    diag("%s: %s (%d)\n", message, msg, code);
  } else {
    diag("%s (%d)\n", msg, code);
  }
}

}  // namespace palisim
