// What the files of the configuration share about libConfuse: the lock its
// parses take turns under, and the option table and checks of an `inject`
// section, which the file and the command line both parse.
#pragma once

#include <array>
#include <mutex>

#include <confuse.h>

namespace palisim {

// libConfuse's scanner keeps its state in globals, and freeing a root
// configuration resets them, so parsing and freeing take turns process-wide.
std::mutex& parser_mutex();

using InjectOptions = std::array<cfg_opt_t, 8>;
InjectOptions inject_options();

// A check that reports its refusal and lets the parse go on, so that one
// parse of a file names every refused value; the error function counts them
// and a file with any is refused as a whole.
template <cfg_validate_callback_t Check>
int report_and_go_on(cfg_t* cfg, cfg_opt_t* opt) {
  Check(cfg, opt);
  return 0;
}

// Sets the checks of the inject section at that path ("atalla|inject" or
// "inject"); with go_on, each as report_and_go_on.
void set_inject_checks(cfg_t* cfg, const char* section_path, bool go_on = false);

}  // namespace palisim
