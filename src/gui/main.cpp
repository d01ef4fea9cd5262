// Palisim002 with the control window.
#include "app/program.h"
#include "gui/window_program.h"

int main(int argc, char** argv) {
  return palisim::run_program(argc, argv, palisim::run_window_program);
}
