// Inject sections: their option table, reading them, and the command-line form.
#include "config/inject_rules.h"

#include <confuse.h>

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "config/copy_text.h"
#include "config/parser.h"
#include "config/validation.h"
#include "protocol/command_catalog.h"

namespace palisim {

namespace {

void read_inject_rule(cfg_t* section, InjectRule& rule) {
  // The checks admit "*" or a code of the table, and delays within kMaxInjectDelayMs.
  std::string_view command = cfg_getstr(section, "command");
  rule.command = command == "*" ? kEveryCommand : static_cast<int32_t>(command_row(command));
  rule.probability = cfg_getfloat(section, "probability");
  rule.latency_ms = static_cast<int32_t>(cfg_getint(section, "latency_ms"));
  rule.jitter_ms = static_cast<int32_t>(cfg_getint(section, "jitter_ms"));
  copy_text(rule.reply, cfg_getstr(section, "reply"));
  rule.close = cfg_getbool(section, "close") == cfg_true;
  rule.approve = cfg_getbool(section, "approve") == cfg_true;
}

// A command-line rule's refusal, kept for the caller. The parse that prints
// it holds the parser lock, so one buffer serves every thread.
char rule_refusal[256];

void keep_rule_refusal(cfg_t*, const char* format, va_list args) {
  std::vsnprintf(rule_refusal, sizeof rule_refusal, format, args);
}

// Appends `name = "value"`, quoted so that '#', braces and spaces stay text.
void append_setting(std::string& out, std::string_view name, std::string_view value) {
  out.append(name).append(" = \"");
  for (char ch : value) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  out += "\"\n";
}

bool is_name(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name) {
    bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    if (!letter && ch != '_') return false;
  }
  return true;
}

}  // namespace

InjectOptions inject_options() {
  return {{
      CFG_STR("command", nullptr, CFGF_NODEFAULT),
      CFG_FLOAT("probability", 1.0, CFGF_NONE),
      CFG_INT("latency_ms", 0, CFGF_NONE),
      CFG_INT("jitter_ms", 0, CFGF_NONE),
      CFG_STR("reply", nullptr, CFGF_NODEFAULT),
      CFG_BOOL("close", cfg_false, CFGF_NONE),
      CFG_BOOL("approve", cfg_false, CFGF_NONE),
      CFG_END(),
  }};
}

void set_inject_checks(cfg_t* cfg, const char* section_path) {
  const std::pair<const char*, cfg_validate_callback_t> checks[] = {
      {"", check_inject_section},
      {"|command", check_inject_command},
      {"|probability", check_inject_probability},
      {"|latency_ms", check_inject_delay},
      {"|jitter_ms", check_inject_delay},
      {"|reply", check_inject_reply},
  };
  for (const auto& [option, check] : checks) {
    char path[64];
    std::snprintf(path, sizeof path, "%s%s", section_path, option);
    cfg_set_validate_func(cfg, path, check);
  }
}

void read_inject_rules(InjectRules& rules, cfg_t* cfg, const char* section_title) {
  cfg_t* atalla = cfg_gettsec(cfg, "atalla", section_title);
  unsigned int sections = atalla ? cfg_size(atalla, "inject") : 0;
  for (unsigned int i = 0; i < sections; ++i) {
    InjectRule rule;
    read_inject_rule(cfg_getnsec(atalla, "inject", i), rule);
    rules.add(rule);
  }
}

bool parse_inject_rule(std::string_view text, InjectRule& rule, std::string& error) {
  std::string section = "inject {\n";
  size_t colon = text.find(':');
  append_setting(section, "command", text.substr(0, colon));
  for (std::string_view rest = colon == text.npos ? "" : text.substr(colon + 1); !rest.empty();) {
    std::string_view item = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    size_t equals = item.find('=');
    std::string_view name = item.substr(0, equals);
    if (!is_name(name)) {
      char message[128];
      std::snprintf(message, sizeof message, "'%.*s' is not NAME=VALUE",
                    static_cast<int>(item.size()), item.data());
      error = message;
      return false;
    }
    append_setting(section, name, equals == item.npos ? "true" : item.substr(equals + 1));
  }
  section += "}\n";

  InjectOptions options = inject_options();
  cfg_opt_t root[] = {CFG_SEC("inject", options.data(), CFGF_MULTI), CFG_END()};
  std::lock_guard lock(parser_mutex());
  cfg_t* cfg = cfg_init(root, CFGF_NOCASE);
  if (!cfg) return false;
  cfg_set_error_function(cfg, keep_rule_refusal);
  set_inject_checks(cfg, "inject");
  rule_refusal[0] = '\0';
  bool parsed = cfg_parse_buf(cfg, section.c_str()) == CFG_SUCCESS;
  if (parsed) {
    read_inject_rule(cfg_getnsec(cfg, "inject", 0), rule);
  } else {
    error = rule_refusal;
  }
  cfg_free(cfg);
  return parsed;
}

}  // namespace palisim
