// The fields of one request, cut in place out of the request text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

inline constexpr int kMaxFields = 64;

struct Fields {
  std::array<const char*, kMaxFields> ptr{};  // NUL-terminated field starts inside the request
  std::array<uint16_t, kMaxFields> len{};     // length of each field
  int count = 0;                              // fields found by splitting, 0 to 64
  int visible = 0;    // fields a handler reads; an echo field and all beyond read as empty
  bool echo = false;  // the last field is an echo field, repeated by a success reply

  // Field i, or an empty field when i lies beyond what the handler may read.
  std::string_view operator[](int i) const {
    if (i < 0 || i >= visible) return {};
    return {ptr[i], len[i]};
  }
  // The same field as a NUL-terminated string.
  const char* c_str(int i) const { return (i >= 0 && i < visible) ? ptr[i] : ""; }
};

// Splits a request "<...>" in place at '#', overwriting each '#' with NUL.
void split_request(char* text, int32_t text_len, Fields& f);

enum FieldCountResult : int { kRefused = 0, kAccepted = 1, kAcceptedWithEcho = 2 };

// Counts the fields (field 0 included, a trailing "^..." echo field excluded)
// and refuses fewer than `minimum`, writing no reply. Surplus fields are
// accepted. Once an echo field is recognised, it and everything after it read
// as empty.
int field_count_rule(Fields& f, int minimum);

// A further minimum on the fields that field_count_rule counted, for a
// command whose field count depends on one of its fields: fewer give the
// error reply 4/minimum/35, detail 300.
bool check_field_count(const Settings& s, const Fields& f, ReplyBuffer& r, int minimum);

// Appends the echo field and '#' when the request has one.
void append_echo_field(ReplyBuffer& r, const Fields& f);

// "<" + reply code + "#": the start of every success reply.
inline void begin_success(ReplyBuffer& r, std::string_view reply_code) {
  begin_reply(r);
  append_field(r, reply_code);
}

// Echo field (if any) and '>' (plus CR LF unless opt23): the end of every success reply.
inline void finish_success(const Settings& s, ReplyBuffer& r, const Fields& f) {
  append_echo_field(r, f);
  end_reply(s, r);
}

}  // namespace palisim
