#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/headless.h"
#include "app/options.h"
#include "gui/window_program.h"

namespace {

// Diagnostics are flushed by the server loop before it blocks.
char g_stdout_buffer[1 << 16];

bool have_display() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  palisim::ProgramOptions options;
  std::string error;
  if (!palisim::parse_program_options(argc, argv, options, error)) {
    std::fprintf(stderr, "Palisim002: %s\n%s", error.c_str(), palisim::kProgramUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(palisim::kProgramUsage, stdout);
    return 0;
  }
  std::setvbuf(stdout, g_stdout_buffer, _IOFBF, sizeof g_stdout_buffer);
  if (options.headless) return palisim::run_headless(options);
  if (!have_display()) {
    std::printf("No display found; running headless.\n");
    return palisim::run_headless(options);
  }
  return palisim::run_window_program(argc, argv, options);
}
