#include "server/request_path.h"

#include "dispatch/command_table.h"
#include "protocol/reply.h"

namespace palisim {

Answer answer_request(const RequestPath& path, char* request, int32_t request_len, int64_t now_ms) {
  ReplyBuffer r{path.reply, 0};
  Injection inj;
  if (path.inject.count != 0) {
    inj = choose_injection(path.inject,
                           command_of_request({request, static_cast<size_t>(request_len)}),
                           path.random_state);
  }
  Answer answer;
  answer.command = inj.command;
  if (inj.rule && inj.rule->replaces_reply()) {
    if (!inj.rule->close) write_injected_reply(path.settings, *inj.rule, r);
    // The client sees an error reply, whoever wrote it.
    answer.error_reply = is_error_reply(r.view());
  } else {
    r.approve = inj.rule && inj.rule->approve;
    answer.command = dispatch_request(path.settings, path.keys, request, request_len, r);
    answer.error_reply = r.error != nullptr;
  }
  answer.reply_len = r.len;
  answer.close = inj.rule && inj.rule->close;
  answer.error = r.error;
  answer.note = r.note;
  answer.injection = inj;
  if (inj.delay_ms > 0) answer.due_ms = now_ms + inj.delay_ms;
  return answer;
}

}  // namespace palisim
