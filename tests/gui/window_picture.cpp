// Draws the control window into a PNG, as it looks when the program starts.
// Usage: palisim_window_picture OUT.png [CONFIG]
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "gui/control_window.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: palisim_window_picture OUT.png [CONFIG]\n");
    return 2;
  }
  QApplication app(argc, argv);
  palisim::ProgramOptions options;
  if (argc > 2) options.config_path = argv[2];
  palisim::ControlWindow window(options);
  window.show();
  QApplication::processEvents();
  return window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
