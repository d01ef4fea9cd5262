#include "gui/window_program.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "gui/control_window.h"
#include "server/command_stats.h"
#include "server/diag.h"

namespace palisim {

int run_window_program(int& argc, char** argv, const ProgramOptions& options) {
  // Blocked before Qt starts any thread, so the signals only ever arrive
  // through the descriptor, on the window's thread.
  sigset_t handled_signals;
  sigemptyset(&handled_signals);
  sigaddset(&handled_signals, SIGINT);
  sigaddset(&handled_signals, SIGTERM);
  sigaddset(&handled_signals, SIGUSR1);
  sigaddset(&handled_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &handled_signals, nullptr);
  int signal_fd = signalfd(-1, &handled_signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signal_fd < 0) {
    std::perror("signalfd");
    return 1;
  }

  set_diag_quiet(options.quiet);
  QApplication app(argc, argv);
  // A signal ends every event loop, also that of the missing-file message
  // shown before the window; the window's destruction then stops the server.
  // SIGUSR1 prints the statistics instead, and SIGHUP has the next connection
  // read the configuration file afresh, once the window exists.
  ControlWindow* shown = nullptr;
  QSocketNotifier notifier(signal_fd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [signal_fd, &shown] {
    signalfd_siginfo info;
    bool stop = false;
    while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGHUP) {
        if (shown) shown->reread_configuration();
      } else if (info.ssi_signo != SIGUSR1) {
        stop = true;
      } else if (shown) {
        shown->stats().print();
        diag_flush();
      }
    }
    if (stop) QCoreApplication::exit(0);
  });
  ControlWindow window(options);
  shown = &window;
  window.exec();
  window.stats().print();
  // The last lines may wait a moment for a slow reader of the output.
  diag_flush_within(1000);
  close(signal_fd);
  return 0;
}

}  // namespace palisim
