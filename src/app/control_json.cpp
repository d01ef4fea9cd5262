#include "app/control_json.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "protocol/command_catalog.h"
#include "protocol/errors.h"

namespace palisim {

namespace {

using nlohmann::json;

const char* source_name(RuleSource source) {
  switch (source) {
    case RuleSource::kControl:
      return "control";
    case RuleSource::kCommandLine:
      return "command line";
    case RuleSource::kFile:
      return "file";
  }
  return "";
}

json command_json(size_t row) {
  if (row >= kCommandCount) return nullptr;
  return written_code(kCommandCatalog[row].code).view();
}

// "2026-12-10T03:40:01.123456Z"
std::string utc_time(int64_t us) {
  const auto seconds = static_cast<time_t>(us / 1'000'000);
  tm utc;
  gmtime_r(&seconds, &utc);
  char text[40];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%06lldZ", static_cast<long long>(us % 1'000'000));
  return text;
}

// How each field of a rule is given in JSON, and written for the checks.
enum class Kind { kText, kNumber, kWhole, kSwitch };
struct Field {
  const char* name;
  Kind kind;
};
constexpr Field kFields[] = {
    {"probability", Kind::kNumber}, {"latency_ms", Kind::kWhole}, {"jitter_ms", Kind::kWhole},
    {"reply", Kind::kText},         {"close", Kind::kSwitch},     {"approve", Kind::kSwitch},
    {"times", Kind::kWhole},
};

// The value as the command line writes it; false when the JSON type is not the field's.
bool written_value(const json& value, Kind kind, std::string& out) {
  switch (kind) {
    case Kind::kText:
      if (!value.is_string()) return false;
      out = value.get<std::string>();
      return true;
    case Kind::kSwitch:
      if (!value.is_boolean()) return false;
      out = value.get<bool>() ? "true" : "false";
      return true;
    case Kind::kWhole:
      if (!value.is_number_integer()) return false;
      out = std::to_string(value.get<long long>());
      return true;
    case Kind::kNumber: {
      if (!value.is_number()) return false;
      // Fixed notation, shortest exact: the checks take no exponent.
      std::array<char, 400> text;
      auto end = std::to_chars(text.data(), text.data() + text.size(), value.get<double>(),
                               std::chars_format::fixed);
      out.assign(text.data(), end.ptr);
      return true;
    }
  }
  return false;
}

const char* kind_words(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return "a string";
    case Kind::kNumber:
      return "a number";
    case Kind::kWhole:
      return "an integer";
    case Kind::kSwitch:
      return "true or false";
  }
  return "";
}

}  // namespace

std::string rule_id(const ListedRule& rule) {
  const char* prefix = rule.source == RuleSource::kControl       ? "control-"
                       : rule.source == RuleSource::kCommandLine ? "command-line-"
                                                                 : "file-";
  return prefix + std::to_string(rule.number);
}

json rule_json(const ListedRule& listed) {
  const InjectRule& r = listed.rule;
  const bool control = listed.source == RuleSource::kControl;
  json out = {
      {"id", rule_id(listed)},
      {"source", source_name(listed.source)},
      {"command",
       r.command == kEveryCommand ? json("*") : command_json(static_cast<size_t>(r.command))},
      {"probability", r.probability},
      {"latency_ms", r.latency_ms},
      {"jitter_ms", r.jitter_ms},
      {"reply", r.reply[0] ? json(r.reply.data()) : json(nullptr)},
      {"close", r.close},
      {"approve", r.approve},
      {"times", r.times ? json(r.times) : json(nullptr)},
      // The command line's and the file's rules count their times per connection.
      {"remaining",
       control && listed.use.remaining >= 0 ? json(listed.use.remaining) : json(nullptr)},
      {"matched", listed.use.matched},
  };
  return out;
}

json entry_json(const JournalEntry& e) {
  // Put in one by one: a reading lists a hundred of these, and a brace list
  // builds and copies a pair of values for each member first.
  json::object_t out;
  out.emplace("seq", e.seq);
  out.emplace("time", utc_time(e.time_us));
  out.emplace("connection", e.connection);
  out.emplace("peer", e.peer);
  out.emplace("tls", e.tls[0] ? json(e.tls) : json(nullptr));
  out.emplace("command", command_json(e.command));
  out.emplace("request", e.request_text());
  out.emplace("reply", e.sent && e.reply_len ? json(e.reply_text()) : json(nullptr));
  out.emplace("error", e.error ? json(e.error->text) : json(nullptr));
  out.emplace("injected", e.injected ? json(e.injection) : json(nullptr));
  out.emplace("micros", e.micros);
  return out;
}

bool rule_from_json(const json& body, InjectRule& rule, std::string& error) {
  if (!body.is_object()) {
    error = "the body must be a JSON object";
    return false;
  }
  std::string command;
  std::vector<std::string> values;
  std::vector<InjectItem> items;
  values.reserve(body.size());
  for (const auto& [name, value] : body.items()) {
    if (name == "command") {
      if (!value.is_string()) {
        error = "inject command must be a string";
        return false;
      }
      command = value.get<std::string>();
      continue;
    }
    const Field* field = nullptr;
    for (const Field& f : kFields) {
      if (name == f.name) field = &f;
    }
    if (!field) {
      error = "no such option '" + name + "'";
      return false;
    }
    if (name == "times" && value.is_null()) continue;
    values.emplace_back();
    if (!written_value(value, field->kind, values.back())) {
      error = "inject " + name + " must be " + kind_words(field->kind);
      return false;
    }
    items.push_back({field->name, values.back(), field->name});
  }
  if (!body.contains("command")) {
    error = "inject section without a command";
    return false;
  }
  return build_inject_rule(command, items, rule, error);
}

}  // namespace palisim
