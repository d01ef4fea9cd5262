#include "app/program.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/check_config.h"
#include "app/display_probe.h"
#include "app/headless.h"
#include "config/config.h"
#include "crypto/random.h"
#include "server/diag.h"

namespace palisim {

namespace {

// Descriptors 0 to 2 left closed by whoever started the program are given
// /dev/null, so no socket or file of ours is taken for standard output.
// Writing to an output whose reader went away, or to a file past the size
// limit, must not end the process, and the configuration's messages and the
// random source's notice share the diagnostics' output, which never blocks.
void prepare_process() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open() takes the lowest free descriptor: this one.
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  set_configuration_message_sink(vdiag);
  set_random_fallback_notice([](const char* line) { diag("%s", line); });
}

}  // namespace

int run_program(int argc, char** argv, WindowProgram window, X11Greeting greet) {
  prepare_process();
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
  if (options.check_config) return check_configuration(options);
  if (options.headless) return run_headless(options);
  if (!window) {
    diag("Built without the control window; serving headless.\n");
    return run_headless(options);
  }
  if (std::string why; !probe_display(why, greet)) {
    diag("%s; running headless.\n", why.c_str());
    return run_headless(options);
  }
  return window(argc, argv, options);
}

}  // namespace palisim
