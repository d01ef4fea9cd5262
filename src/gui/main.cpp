// Palisim002 with the control window.
#include "app/program.h"
#include "gui/window_program.h"
#include "gui/x11_greeting.h"

int main(int argc, char** argv) {
  return palisim::run_program(argc, argv, palisim::run_window_program, palisim::greet_x11);
}
