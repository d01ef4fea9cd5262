// The offline tools of palisim-cli. Each takes the parsed command line, whose
// first word names it, prints its result on standard output and returns the
// exit status; bad input gets one line on standard error and kExitUsage.
#pragma once

#include "cli/options.h"

namespace palisim {

int run_key_tool(const CliOptions& o);    // key wrap, form, open, kcv
int run_pin_tool(const CliOptions& o);    // pin block
int run_dukpt_tool(const CliOptions& o);  // dukpt

}  // namespace palisim
