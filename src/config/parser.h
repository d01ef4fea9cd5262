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

using InjectOptions = std::array<cfg_opt_t, 9>;
InjectOptions inject_options();

// Sets the checks of the inject section at that path ("atalla|inject" or "inject").
void set_inject_checks(cfg_t* cfg, const char* section_path);

}  // namespace palisim
