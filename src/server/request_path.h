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

// What a connection's requests are answered with.
struct RequestPath {
  const Settings& settings;
  KeyCache& keys;             // keys its requests opened
  const InjectRules& inject;  // its own: the command line's, then the file's
  std::span<RuleUse> uses;    // what each of them used on this connection
  ControlRules* control;      // the control port's rules, tried first; null without one
  RandomSource& random;       // where keys, IVs and the rules' draws come from
  std::span<char> reply;      // where the reply is written
};

// What a request leaves for its connection to send and to record.
struct Answer {
  int32_t reply_len = 0;  // bytes of the reply at the start of the path's reply buffer
  int64_t due_ms = 0;     // an inject rule holds it until then (steady clock); 0 sends it now
  bool close = false;     // an inject rule closes the connection instead of answering
  size_t command = 0;     // the request's row of the command table, or kCommandCount
  const ErrorKind* error = nullptr;  // the handler's refusal; null for a success or a rule's reply
  ErrorNote note = {};               // what the trace adds to the refusal's words
  bool error_reply = false;          // the reply is an error reply, whoever wrote it
  Injection injection;               // what the inject rules decided
};

// Answers the request, whose fields FrameScan found and which is cut up in
// place once the inject rules have read it; an inject rule's delay runs from
// now_ms (steady clock).
Answer answer_request(const RequestPath& path, char* request, int32_t request_len, Fields& fields,
                      int64_t now_ms);

}  // namespace palisim
