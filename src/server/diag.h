// Diagnostic lines of the server, printf-style, to standard output (or a
// stream a test chooses). Output is buffered; the loop flushes it before it
// blocks, so lines stay timely without a write per line.
#pragma once

#include <cstdio>

namespace palisim {

// Where diagnostics go; nullptr restores standard output.
void set_diag_stream(FILE* stream);
// Suppresses the per-event trace lines (poll passes, readable/writable sockets).
void set_diag_quiet(bool quiet);
bool diag_quiet();

void diag(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A per-event trace line; nothing when quiet.
void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void diag_flush();

// "<message>: <error text> (<code>)\n" for a platform error code.
void report_socket_error(const char* message, int code);

}  // namespace palisim
