#include "server/request_path.h"

#include "dispatch/command_table.h"
#include "protocol/reply.h"
#include "server/command_stats.h"
#include "server/fault_injection.h"
#include "server/loop_counters.h"
#include "server/request_trace.h"

namespace palisim {

Answer answer_request(const RequestPath& path, char* request, int32_t request_len,
                      SteadyClock::time_point& mark) {
  ReplyBuffer r{path.reply, 0};
  Injection inj;
  if (path.inject.count != 0) {
    inj = choose_injection(path.inject,
                           command_of_request({request, static_cast<size_t>(request_len)}),
                           path.random_state);
  }
  // Dispatch cuts the request up; the trace shows it as it came.
  if (path.trace) path.trace->keep_request(request, request_len);
  size_t command = inj.command;
  bool injected_error = false;
  if (inj.rule && inj.rule->replaces_reply()) {
    if (!inj.rule->close) write_injected_reply(path.settings, *inj.rule, r);
    // The client sees an error reply, whoever wrote it.
    injected_error = is_error_reply(r.view());
  } else {
    r.approve = inj.rule && inj.rule->approve;
    command = dispatch_request(path.settings, path.keys, request, request_len, r);
  }
  Answer answer{r.len, 0, inj.rule && inj.rule->close, r.error, r.note, 0, inj};
  if (!path.stats && !path.counters && !path.trace && path.inject.count == 0) return answer;

  SteadyClock::time_point done = SteadyClock::now();
  int64_t spent = (done - mark) / std::chrono::nanoseconds(1);
  mark = done;
  answer.handler_ns = spent;
  if (inj.delay_ms > 0) {
    answer.due_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(done.time_since_epoch()).count() +
        inj.delay_ms;
  }
  if (path.stats) {
    path.stats->record(command, r.error != nullptr || injected_error, spent);
    if (inj.rule) path.stats->record_injection(command);
  }
  if (path.counters) path.counters->count_request(command, r.error, spent, inj.rule, inj.delay_ms);
  return answer;
}

}  // namespace palisim
