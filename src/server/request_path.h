// One request from its text to its answer, each stage once and in order: the
// inject rules decide, then the handler (or the rule that took the request)
// answers. Sending the answer, and handing its record to the observers once
// it is queued, is the connection's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "config/inject_rules.h"
#include "crypto/key_cache.h"
#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"
#include "server/fault_injection.h"

namespace palisim {

struct ControlRules;
struct ErrorKind;

// What a connection's requests are answered with: the same for every
// request of one pass over its input.
struct RequestPath {
  const Settings& settings;
  KeyCache& keys;             // keys its requests opened
  const InjectRules& inject;  // its own: the command line's, then the file's
  std::span<RuleUse> uses;    // what each of them used on this connection
  ControlRules* control;      // the control port's rules, tried first; null without one
  RandomSource& random;       // where keys, IVs and the rules' draws come from
};

// What a request leaves for its connection to send and to record. One
// serves a whole pass over the input: each request refills every member but
// the reply's buf, which the connection points where this reply goes.
struct Answer {
  // The reply, its length, and the handler's refusal with its note (the
  // note is set only with a refusal); null error for a success or a rule's reply.
  ReplyBuffer reply;
  int64_t due_ms = 0;        // an inject rule holds it until then (steady clock); 0 sends it now
  bool close = false;        // an inject rule closes the connection instead of answering
  size_t command = 0;        // the request's row of the command table, or kCommandCount
  bool error_reply = false;  // the reply is an error reply, whoever wrote it
  Injection injection;       // what the inject rules decided
};

// Answers the request, whose fields FrameScan found and which is cut up in
// place once the inject rules have read it, into `answer`; an inject rule's
// delay runs from now_ms (steady clock).
void answer_request(const RequestPath& path, char* request, int32_t request_len, Fields& fields,
                    int64_t now_ms, Answer& answer);

}  // namespace palisim
