// Palisim002 built without Qt: it always serves headless.
#include "app/program.h"

int main(int argc, char** argv) {
  return palisim::run_program(argc, argv, nullptr);
}
