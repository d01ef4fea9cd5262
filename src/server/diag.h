// Diagnostic lines of the server, printf-style, to standard output (or a
// stream a test chooses). Lines wait in a bounded buffer that the loop writes
// out before it blocks, without ever waiting for the output: a terminal
// that is paused, a pipe nobody reads or a closed output cannot stall
// serving. Lines that do not fit, or that the output refuses (a full disk,
// /dev/full, the file-size limit), are dropped and counted, and the count is
// printed once the output takes lines again.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace palisim {

// Where diagnostics go; nullptr restores standard output. A stream set here
// is written directly, as it is.
void set_diag_stream(FILE* stream);
// Suppresses the per-event trace lines (poll passes, readable/writable sockets).
void set_diag_quiet(bool quiet);
bool diag_quiet();

void diag(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vdiag(const char* fmt, va_list ap);
// A per-event trace line; nothing when quiet.
void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Writes what the output takes now; never waits.
void diag_flush();
// The descriptor to poll for writability while lines wait for room in the
// output; -1 when none wait or a poll would not tell.
int diag_waiting_fd();
// Before the program ends: waits up to timeout_ms for the output to take
// the lines still held.
void diag_flush_within(int timeout_ms);
// Lines left out for want of room since the program started; any thread.
uint64_t diag_lines_dropped();

// "<message>: <error text> (<code>)\n" for a platform error code.
void report_socket_error(const char* message, int code);

}  // namespace palisim
