// Reading the stress client's options into its run parameters.
#pragma once

#include "stress/run_parameters.h"

namespace palisim::stress {

struct ParseResult {
  bool run;         // false: the program ends with exit_status without connecting
  int exit_status;  // 2 after --help, 1 after a parsing error
};

// params holds its defaults on entry; sets the default command, then applies
// the options left to right. Messages for --help and parsing errors are
// printed here.
ParseResult parse_command_line(int argc, char** argv, RunParameters& params);

// Leading blanks and a sign allowed, reading stops at the first non-digit,
// no digits gives 0; digits beyond 32 bits wrap rather than overflow.
int32_t read_leading_integer(const char* text);

}  // namespace palisim::stress
