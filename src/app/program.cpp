#include "app/program.h"

#include <cstdio>
#include <string>

#include "app/display_probe.h"
#include "app/headless.h"

namespace palisim {

namespace {

// Diagnostics are flushed by the server loop before it blocks.
char g_stdout_buffer[1 << 16];

}  // namespace

int run_program(int argc, char** argv, WindowProgram window) {
  ProgramOptions options;
  std::string error;
  if (!parse_program_options(argc, argv, options, error)) {
    std::fprintf(stderr, "Palisim002: %s\n%s", error.c_str(), kProgramUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kProgramUsage, stdout);
    return 0;
  }
  std::setvbuf(stdout, g_stdout_buffer, _IOFBF, sizeof g_stdout_buffer);
  if (options.headless) return run_headless(options);
  if (!window) {
    std::printf("Built without the control window; serving headless.\n");
    return run_headless(options);
  }
  if (std::string why; !probe_display(why)) {
    std::printf("%s; running headless.\n", why.c_str());
    return run_headless(options);
  }
  return window(argc, argv, options);
}

}  // namespace palisim
