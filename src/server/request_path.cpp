#include "server/request_path.h"

#include "dispatch/command_table.h"
#include "protocol/frame_scan.h"
#include "protocol/reply.h"
#include "server/control_rules.h"

namespace palisim {

void answer_request(const RequestPath& path, char* request, int32_t request_len, Fields& fields,
                    int64_t now_ms, Answer& answer) {
  ReplyBuffer& r = answer.reply;
  r.len = 0;
  r.error = nullptr;
  r.approve = false;
  Injection inj;
  ControlRules* control = path.control;
  if (path.inject.count != 0 || (control && control->count != 0)) {
    const size_t command = command_of_request({request, static_cast<size_t>(request_len)});
    if (control && control->count != 0) {
      inj = choose_injection({control->rules.data(), static_cast<size_t>(control->count)},
                             {control->uses.data(), static_cast<size_t>(control->count)}, command,
                             path.random);
      control->used = control->used || inj.rule;
    }
    if (!inj.rule) {
      std::span<const InjectRule> own(path.inject.rules.data(),
                                      static_cast<size_t>(path.inject.count));
      inj = choose_injection(own, path.uses, command, path.random);
      if (inj.rule && control) {
        ++control->base_matched[static_cast<size_t>(inj.rule - own.data())];
        control->used = true;
      }
    }
  }
  answer.command = inj.command;
  answer.close = inj.rule && inj.rule->close;
  answer.due_ms = inj.delay_ms > 0 ? now_ms + inj.delay_ms : 0;
  answer.injection = inj;
  if (inj.rule && inj.rule->replaces_reply()) {
    if (!answer.close) write_injected_reply(path.settings, *inj.rule, r);
    // The client sees an error reply, whoever wrote it.
    answer.error_reply = is_error_reply(r.view());
  } else {
    r.approve = inj.rule && inj.rule->approve;
    cut_fields(request, fields);
    answer.command = dispatch_fields(path.settings, path.keys, path.random, fields, r);
    answer.error_reply = r.error != nullptr;
  }
}

}  // namespace palisim
