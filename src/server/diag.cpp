#include "server/diag.h"

#include <atomic>
#include <cstdarg>
#include <cstring>

namespace palisim {

namespace {

std::atomic<FILE*> g_stream{nullptr};
std::atomic<bool> g_quiet{false};

FILE* stream() {
  FILE* s = g_stream.load(std::memory_order_relaxed);
  return s ? s : stdout;
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

void diag(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stream(), fmt, ap);
  va_end(ap);
}

void trace(const char* fmt, ...) {
  if (diag_quiet()) return;
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stream(), fmt, ap);
  va_end(ap);
}

void diag_flush() {
  std::fflush(stream());
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
