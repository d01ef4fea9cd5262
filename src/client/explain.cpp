#include "client/explain.h"

#include <cstdio>
#include <vector>

#include "client/reply_fields.h"
#include "protocol/errors.h"
#include "protocol/request_code.h"

namespace palisim {

namespace {

// The fields between '<' and '>', each ended by '#'; text after the last '#' is no field.
std::vector<std::string_view> reply_fields(std::string_view reply) {
  std::vector<std::string_view> out;
  if (reply.size() < 2) return out;
  std::string_view inner = reply.substr(1, reply.size() - 2);
  for (size_t end; (end = inner.find('#')) != std::string_view::npos;) {
    out.push_back(inner.substr(0, end));
    inner.remove_prefix(end + 1);
  }
  return out;
}

bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int number(std::string_view digits) {
  int value = 0;
  for (char c : digits)
    value = value * 10 + (c - '0');
  return value;
}

std::string explain_error(const ErrorReply& e) {
  char line[160];
  if (e.detail >= 0) {
    snprintf(line, sizeof line, "  error: type %02d, field %02d, detail %04d", e.type, e.field,
             e.detail);
  } else {
    snprintf(line, sizeof line, "  error: type %02d, field %02d, detail not sent (opt21 off)",
             e.type, e.field);
  }
  std::string out = line;
  const std::string words = error_words(e);
  if (!words.empty()) out.append(": ").append(words);
  return out + "\n";
}

// Three refusals concern the request as a whole and are reported against
// field 00; every other one names the field it found at fault.
bool reported_at_field_zero(ErrorId id) {
  return id == kNoFields || id == kUnknownCommand || id == kNoMfk;
}

}  // namespace

bool parse_error_reply(std::string_view reply, ErrorReply& error) {
  std::vector<std::string_view> f = reply_fields(reply);
  if (f.size() < 2 || f[0] != "00" || f[1].size() != 6 || !all_digits(f[1])) return false;
  if (f[1] == "000035") return false;
  error.type = number(f[1].substr(0, 2));
  error.field = number(f[1].substr(2, 2));
  error.detail = f.size() >= 3 && f[2].size() == 4 && all_digits(f[2]) ? number(f[2]) : -1;
  return true;
}

std::string error_words(const ErrorReply& error) {
  const auto type = static_cast<uint8_t>(error.type);
  if (error.detail >= 0) {
    const ErrorKind* kind = find_error_kind(type, error.detail);
    return kind ? std::string(kind->text) : "";
  }
  std::vector<std::string_view> texts;
  for (const ErrorKind& kind : kErrorKinds) {
    if (kind.type == type && reported_at_field_zero(kind.id) == (error.field == 0)) {
      texts.push_back(kind.text);
    }
  }
  std::string out = texts.size() > 1 ? "one of " : "";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += i + 1 == texts.size() ? " or " : ", ";
    out += texts[i];
  }
  return out;
}

std::string explain_reply(std::string_view request, std::string_view reply) {
  ErrorReply error;
  if (parse_error_reply(reply, error)) return explain_error(error);
  std::vector<std::string_view> f = reply_fields(reply);
  if (f.empty()) return "  not a reply of the protocol\n";
  std::string out = "  reply code: " + std::string(f[0]);
  const CommandInfo* row = find_reply_row(request_code(request), f[0]);
  if (row) {
    out.append(" (command ")
        .append(written_code(row->code).view())
        .append(", ")
        .append(row->action) += ')';
  }
  out += '\n';
  const bool echo = f.size() > 1 && f.back().starts_with('^');
  const size_t named = echo ? f.size() - 1 : f.size();
  for (size_t i = 1; i < named; ++i) {
    std::string_view name = row && i <= kMaxNamedReplyFields ? row->reply_fields[i - 1] : "";
    out += "  " + std::to_string(i) + ' ';
    out.append(name.empty() ? "field" : name).append(": ").append(f[i]) += '\n';
  }
  if (echo) out.append("  echo field: ").append(f.back()) += '\n';
  return out;
}

}  // namespace palisim
