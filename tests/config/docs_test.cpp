// docs/configuration.md lists every option of the option table with its type
// and default, and nothing else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <confuse.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "config/config.h"

namespace palisim {
namespace {

struct Documented {
  std::string type;
  std::string default_value;
};

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  size_t b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Rows "| `name` | type | default | ..." of the reference's tables.
std::map<std::string, Documented> documented_options() {
  std::ifstream in(std::string(PALISIM_SOURCE_DIR) + "/docs/configuration.md");
  std::map<std::string, Documented> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    std::stringstream ss(line.substr(1));
    std::string name, type, def;
    std::getline(ss, name, '|');
    std::getline(ss, type, '|');
    std::getline(ss, def, '|');
    name = trim(name);
    out[name.substr(1, name.size() - 2)] = {trim(type), trim(def)};
  }
  return out;
}

std::string type_name(cfg_type_t t) {
  switch (t) {
    case CFGT_STR:
      return "string";
    case CFGT_INT:
      return "integer";
    case CFGT_BOOL:
      return "boolean";
    case CFGT_FLOAT:
      return "float";
    case CFGT_SEC:
      return "section";
    default:
      return "other";
  }
}

std::string default_text(const cfg_opt_t& opt) {
  if (opt.flags & CFGF_NODEFAULT) return "none";
  switch (opt.type) {
    case CFGT_STR:
      return std::string("\"") + (opt.def.string ? opt.def.string : "") + "\"";
    case CFGT_INT:
      return std::to_string(opt.def.number);
    case CFGT_BOOL:
      return opt.def.boolean ? "true" : "false";
    case CFGT_FLOAT: {
      char text[32];
      std::snprintf(text, sizeof text, "%g", opt.def.fpnumber);
      return text;
    }
    default:
      return "none";
  }
}

void collect(const cfg_opt_t* opts, std::map<std::string, Documented>& out) {
  for (const cfg_opt_t* o = opts; o->name; ++o) {
    out[o->name] = {type_name(o->type), default_text(*o)};
    if (o->type == CFGT_SEC) collect(o->subopts, out);
  }
}

TEST(ConfigurationReference, MatchesTheOptionTable) {
  char path[] = "/tmp/palisim-empty-XXXXXX";
  close(mkstemp(path));
  Configuration cfg = open_configuration(path);
  unlink(path);
  ASSERT_TRUE(cfg);
  std::map<std::string, Documented> table;
  collect(cfg->opts, table);
  std::map<std::string, Documented> docs = documented_options();
  ASSERT_GT(table.size(), 30u);
  for (const auto& [name, t] : table) {
    auto it = docs.find(name);
    ASSERT_NE(it, docs.end()) << name << " is not documented";
    EXPECT_EQ(it->second.type, t.type) << name;
    EXPECT_EQ(it->second.default_value, t.default_value) << name;
  }
  for (const auto& [name, d] : docs)
    EXPECT_TRUE(table.count(name)) << name << " is no option";
}

}  // namespace
}  // namespace palisim
