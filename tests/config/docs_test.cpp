// docs/configuration.md lists every option of the option table with its type
// and default, and nothing else; the README stays a short map whose links, and
// those of the pages it leads to, all arrive somewhere.
#include <gtest/gtest.h>

#include <confuse.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "temp_file.h"

namespace palisim {
namespace {

using testing::TempFile;

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
  Configuration cfg = open_configuration(TempFile("", "palisim-empty").path());
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

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a Markdown text outside its fenced blocks.
std::vector<std::string> prose_lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  bool fenced = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0)
      fenced = !fenced;
    else if (!fenced)
      out.push_back(line);
  }
  return out;
}

// The anchors a renderer gives the headings, as GitHub forms them: lower
// case, spaces as '-', punctuation other than '-' and '_' left out.
std::set<std::string> anchors(const std::string& text) {
  std::set<std::string> out;
  for (const std::string& line : prose_lines(text)) {
    const size_t words = line.find_first_not_of('#');
    if (words == 0 || words == std::string::npos || line[words] != ' ') continue;
    std::string anchor;
    for (unsigned char c : line.substr(words + 1)) {
      if (c == ' ')
        anchor += '-';
      else if (std::isalnum(c) || c == '-' || c == '_' || c >= 0x80)
        anchor += static_cast<char>(std::tolower(c));
    }
    out.insert(anchor);
  }
  return out;
}

TEST(Documentation, ReadmeIsAShortMapWhoseLinksAllResolve) {
  const fs::path top = PALISIM_SOURCE_DIR;
  const std::string readme = read_text(top / "README.md");
  EXPECT_LE(std::count(readme.begin(), readme.end(), '\n'), 200);
  std::vector<fs::path> pages = {top / "README.md", top / "CONTRIBUTING.md"};
  for (const fs::directory_entry& e : fs::directory_iterator(top / "docs"))
    if (e.path().extension() == ".md") pages.push_back(e.path());
  int links = 0;
  for (const fs::path& page : pages) {
    const std::string text = read_text(page);
    ASSERT_FALSE(text.empty()) << page;
    for (const std::string& line : prose_lines(text)) {
      for (size_t at = line.find("]("); at != std::string::npos; at = line.find("](", at + 2)) {
        const std::string link = line.substr(at + 2, line.find(')', at) - at - 2);
        if (link.find("://") != std::string::npos) continue;
        ++links;
        const size_t hash = link.find('#');
        const fs::path target = hash == 0 ? page : page.parent_path() / link.substr(0, hash);
        EXPECT_TRUE(fs::is_regular_file(target)) << page << ": " << link;
        if (hash != std::string::npos) {
          EXPECT_TRUE(anchors(read_text(target)).count(link.substr(hash + 1)))
              << page << ": " << link;
        }
      }
    }
  }
  EXPECT_GT(links, 40);
}

}  // namespace
}  // namespace palisim
