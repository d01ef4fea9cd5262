// The interactive prompt: libedit's line editing and history, and every
// reply explained under it.
#include <editline/readline.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/session.h"
#include "client/request_text.h"

namespace palisim {

namespace {

struct LineFree {
  void operator()(char* line) const { std::free(line); }
};

}  // namespace

int run_prompt(Session& session, std::string_view host, int port) {
  session.set_explain(true);
  const std::string prompt = std::string(host) + ":" + std::to_string(port) + "> ";
  std::printf("Connected to %s. Type a request such as <00#hello#>; quit or Ctrl-D ends.\n",
              prompt.substr(0, prompt.size() - 2).c_str());
  using_history();
  for (;;) {
    std::unique_ptr<char, LineFree> read(readline(prompt.c_str()));
    if (!read) break;
    std::string_view line = read.get();
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    if (line == "quit" || line == "exit") break;
    add_history(read.get());
    if (requests_of_line(line).empty()) {
      std::printf("  no request here: a request is <CODE#FIELD#...#>\n");
      continue;
    }
    if (int status = session.exchange(line); status != kExitOk) return status;
  }
  return kExitOk;
}

}  // namespace palisim
