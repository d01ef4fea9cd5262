// Inject sections: their option table, reading them, and the command-line form.
#include "config/inject_rules.h"

#include <confuse.h>

#include <algorithm>
#include <charconv>
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

// A command-line rule's refusal, kept for the caller. The reading that
// prints it holds the parser lock, so one buffer serves every thread.
char rule_refusal[256];

void keep_rule_refusal(cfg_t*, const char* format, va_list args) {
  std::vsnprintf(rule_refusal, sizeof rule_refusal, format, args);
}

bool is_name(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name) {
    bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
    if (!letter && ch != '_') return false;
  }
  return true;
}

bool is_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// Decimal digits without a zero leading others, at most 18 so the number
// fits; with `fraction` also "D.DDD".
bool is_decimal(std::string_view text, bool fraction) {
  size_t point = fraction ? text.find('.') : text.npos;
  std::string_view whole = text.substr(0, point);
  if (!is_digits(whole) || whole.size() > 18 || (whole.size() > 1 && whole[0] == '0')) return false;
  return point == text.npos || is_digits(text.substr(point + 1));
}

// How an item of a command-line rule is read, and the check the file's
// parse applies to the same option.
struct RuleItem {
  const char* name;
  enum class Form { kText, kWhole, kFraction, kSwitch } form;
  cfg_validate_callback_t check;
};

constexpr RuleItem kRuleItems[] = {
    {"probability", RuleItem::Form::kFraction, check_inject_probability},
    {"latency_ms", RuleItem::Form::kWhole, check_inject_delay},
    {"jitter_ms", RuleItem::Form::kWhole, check_inject_delay},
    {"reply", RuleItem::Form::kText, check_inject_reply},
    {"close", RuleItem::Form::kSwitch, nullptr},
    {"approve", RuleItem::Form::kSwitch, nullptr},
};

// Sets the option to the value as written: no substitutions, no other
// notations. False when the value is not of the option's form.
bool set_literally(cfg_t* section, const RuleItem& item, std::string_view value) {
  switch (item.form) {
    case RuleItem::Form::kText:
      return cfg_setstr(section, item.name, std::string(value).c_str()) == 0;
    case RuleItem::Form::kSwitch:
      if (value != "true" && value != "false") return false;
      return cfg_setbool(section, item.name, value == "true" ? cfg_true : cfg_false) == 0;
    case RuleItem::Form::kWhole: {
      long number = 0;
      if (!is_decimal(value, false)) return false;
      std::from_chars(value.data(), value.data() + value.size(), number);
      return cfg_setint(section, item.name, number) == 0;
    }
    case RuleItem::Form::kFraction: {
      double number = 0;
      if (!is_decimal(value, true)) return false;
      std::from_chars(value.data(), value.data() + value.size(), number, std::chars_format::fixed);
      return cfg_setfloat(section, item.name, number) == 0;
    }
  }
  return false;
}

// Builds the one inject section of `cfg` from "CODE:NAME=VALUE,..." and
// applies the file's checks in the order its parse would.
bool read_rule_items(cfg_t* cfg, std::string_view text) {
  cfg_t* section = cfg_addtsec(cfg, "inject", nullptr);
  size_t colon = text.find(':');
  if (!section || cfg_setstr(section, "command", std::string(text.substr(0, colon)).c_str()) != 0 ||
      check_inject_command(section, cfg_getopt(section, "command")) != 0)
    return false;
  for (std::string_view rest = colon == text.npos ? "" : text.substr(colon + 1); !rest.empty();) {
    std::string_view item = rest.substr(0, rest.find(','));
    rest.remove_prefix(std::min(rest.size(), item.size() + 1));
    size_t equals = item.find('=');
    std::string name(item.substr(0, equals));
    std::string_view value = equals == item.npos ? "true" : item.substr(equals + 1);
    const RuleItem* known = std::find_if(std::begin(kRuleItems), std::end(kRuleItems),
                                         [&](const RuleItem& r) { return name == r.name; });
    if (name == "command") {
      cfg_error(cfg, "the command is the code before the colon, not an item");
      return false;
    }
    if (known == std::end(kRuleItems)) {
      cfg_error(cfg, is_name(name) ? "no such option '%s'" : "'%s' is not NAME=VALUE",
                std::string(is_name(name) ? name : item).c_str());
      return false;
    }
    if (!set_literally(section, *known, value)) {
      static constexpr const char* kForms[] = {"text", "a decimal number without leading zeros",
                                               "a decimal number such as 0.25", "true or false"};
      cfg_error(cfg, "inject %s must be %s, not '%.*s'", known->name,
                kForms[static_cast<int>(known->form)], static_cast<int>(value.size()),
                value.data());
      return false;
    }
    if (known->check && known->check(section, cfg_getopt(section, known->name)) != 0) return false;
  }
  return check_inject_section(cfg, cfg_getopt(cfg, "inject")) == 0;
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

void set_inject_checks(cfg_t* cfg, const char* section_path, bool go_on) {
  struct Check {
    const char* option;
    cfg_validate_callback_t stop, go_on;
  };
  const Check checks[] = {
      {"", check_inject_section, report_and_go_on<check_inject_section>},
      {"|command", check_inject_command, report_and_go_on<check_inject_command>},
      {"|probability", check_inject_probability, report_and_go_on<check_inject_probability>},
      {"|latency_ms", check_inject_delay, report_and_go_on<check_inject_delay>},
      {"|jitter_ms", check_inject_delay, report_and_go_on<check_inject_delay>},
      {"|reply", check_inject_reply, report_and_go_on<check_inject_reply>},
  };
  for (const Check& check : checks) {
    char path[64];
    std::snprintf(path, sizeof path, "%s%s", section_path, check.option);
    cfg_set_validate_func(cfg, path, go_on ? check.go_on : check.stop);
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
  InjectOptions options = inject_options();
  cfg_opt_t root[] = {CFG_SEC("inject", options.data(), CFGF_MULTI), CFG_END()};
  std::lock_guard lock(parser_mutex());
  cfg_t* cfg = cfg_init(root, CFGF_NOCASE);
  if (!cfg) return false;
  // Set before the section is made, which takes it over.
  cfg_set_error_function(cfg, keep_rule_refusal);
  rule_refusal[0] = '\0';
  bool read = read_rule_items(cfg, text);
  if (read) {
    read_inject_rule(cfg_getnsec(cfg, "inject", 0), rule);
  } else {
    error = rule_refusal;
  }
  cfg_free(cfg);
  return read;
}

}  // namespace palisim
