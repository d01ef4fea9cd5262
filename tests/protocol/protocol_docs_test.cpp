// docs/protocol.md: every worked example is what the simulator answers under
// the shipped atalla.conf, every command has one, and the test keys that the
// guide lists are what their key blocks hold.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "crypto/check_value.h"
#include "crypto/hex.h"
#include "crypto/key_block.h"
#include "crypto/key_cache.h"
#include "crypto/wrapping_key.h"
#include "dispatch/command_table.h"
#include "server/connection.h"
#include "temp_file.h"

namespace palisim {
namespace {

const std::string kGuidePath = std::string(PALISIM_SOURCE_DIR) + "/docs/protocol.md";
const std::string kShippedConfigPath = std::string(PALISIM_SOURCE_DIR) + "/atalla.conf";

// One request and its reply, or (stream) bytes sent and bytes received.
struct Example {
  int line = 0;                       // line of the request in the guide
  std::vector<std::string> settings;  // "name = value": changes to the shipped file
  std::string request;
  std::string reply;
  bool random = false;  // the reply holds freshly drawn values
  bool stream = false;  // send/receive, with \r and \n written as escapes
};

struct Guide {
  std::vector<Example> examples;
  std::vector<std::string> key_rows;  // table rows that hold a key block
  std::vector<std::string> problems;  // malformed example blocks
};

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  size_t b = s.find_last_not_of(" \t");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The text after `prefix` when the line starts with it.
bool take(const std::string& line, const std::string& prefix, std::string& rest) {
  if (line.rfind(prefix, 0) != 0) return false;
  rest = trim(line.substr(prefix.size()));
  return true;
}

// Inside fenced blocks: "settings:" lines apply to every example of their
// block; "request:" is followed by "reply:" or "reply (random):", "send:" by
// "receive:".
Guide read_guide() {
  Guide g;
  std::ifstream in(kGuidePath);
  if (!in) {
    g.problems.push_back("cannot read " + kGuidePath);
    return g;
  }
  std::string line, rest;
  bool fenced = false;
  std::vector<std::string> settings;
  Example* open = nullptr;  // an example still waiting for its reply line
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.rfind("```", 0) == 0) {
      if (open) g.problems.push_back("line " + std::to_string(open->line) + ": no reply");
      open = nullptr;
      fenced = !fenced;
      settings.clear();
      continue;
    }
    if (!fenced) {
      if (line.rfind("| ", 0) == 0) g.key_rows.push_back(line);
      continue;
    }
    if (open) {
      bool matched = false;
      if (!open->stream && take(line, "reply:", rest)) {
        matched = true;
      } else if (!open->stream && take(line, "reply (random):", rest)) {
        matched = open->random = true;
      } else if (open->stream && take(line, "receive:", rest)) {
        matched = true;
      }
      if (matched) {
        open->reply = rest;
      } else {
        g.problems.push_back("line " + std::to_string(number) + ": reply expected");
        g.examples.pop_back();
      }
      open = nullptr;
      continue;
    }
    if (take(line, "settings:", rest)) {
      settings.push_back(rest);
    } else if (take(line, "request:", rest) || take(line, "send:", rest)) {
      g.examples.push_back({number, settings, rest, "", false, line.rfind("send:", 0) == 0});
      open = &g.examples.back();
    } else if (take(line, "reply:", rest) || take(line, "receive:", rest)) {
      g.problems.push_back("line " + std::to_string(number) + ": reply without request");
    }
  }
  if (open) g.problems.push_back("line " + std::to_string(open->line) + ": no reply");
  return g;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The shipped file with each "name = value" replacing the line that sets name.
// Empty when a name has no line of its own.
std::string configuration_text(const std::vector<std::string>& settings) {
  std::string text = read_file(kShippedConfigPath);
  for (const std::string& setting : settings) {
    std::string name = trim(setting.substr(0, setting.find('=')));
    bool replaced = false;
    size_t at = 0;
    while (at < text.size() && !replaced) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      std::string head = trim(line);
      if (head.rfind(name, 0) == 0 && trim(head.substr(name.size())).rfind('=', 0) == 0) {
        text.replace(at, end - at, "  " + setting);
        replaced = true;
      }
      at = end + 1;
    }
    if (!replaced) return "";
  }
  return text;
}

// Settings loaded as a connection loads them; false when the file refuses.
bool load_example_settings(const std::vector<std::string>& changes, Settings& s) {
  std::string text = configuration_text(changes);
  if (text.empty()) return false;
  const testing::TempFile file(text, "palisim-guide");
  apply_default_settings(s);
  return file.ok() && load_settings(s, file.path(), "default");
}

std::string dispatch(const Settings& s, std::string request) {
  char reply[6144];
  ReplyBuffer r{reply, 0};
  KeyCache keys;
  dispatch_request(s, keys, request.data(), static_cast<int32_t>(request.size()), r);
  return std::string(r.view());
}

// "\r" and "\n" as the bytes they name; "(nothing)" as no bytes at all.
std::string unescape(const std::string& text) {
  if (text == "(nothing)") return "";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
      out += text[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// What a connection of the example's configuration sends back for the bytes.
std::string stream_reply(const Example& e) {
  Settings s;
  if (!load_example_settings(e.settings, s)) return "configuration refused";
  auto c = std::make_unique<Connection>();
  c->open(-1, s, {});
  std::string bytes = unescape(e.request);
  if (bytes.size() > static_cast<size_t>(kInputCapacity)) return "more than one input buffer";
  c->on_received(bytes, 0);
  return std::string(c->pending_output());
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::vector<std::string> split_fields(const std::string& reply) {
  std::vector<std::string> out;
  std::stringstream ss(reply);
  std::string field;
  while (std::getline(ss, field, '#'))
    out.push_back(field);
  return out;
}

// A reply with fresh values has the documented shape: the same fields, each
// as long as documented, the reply code and every character that is no
// uppercase hex digit unchanged, a hex digit where the guide has one.
std::string shape_mismatch(const std::string& documented, const std::string& actual) {
  std::vector<std::string> want = split_fields(documented), got = split_fields(actual);
  if (want.size() != got.size()) return "field count differs";
  if (want[0] != got[0]) return "reply code differs";
  for (size_t i = 1; i < want.size(); ++i) {
    if (want[i].size() != got[i].size()) return "field " + std::to_string(i) + " length differs";
    for (size_t j = 0; j < want[i].size(); ++j) {
      bool same = is_hex_digit(want[i][j]) ? is_hex_digit(got[i][j]) : want[i][j] == got[i][j];
      if (!same) return "field " + std::to_string(i) + " differs in shape";
    }
  }
  return "";
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// An error reply: "<00#" and six digits other than the echo command's "000035".
bool is_error_reply(const std::string& reply) {
  return reply.rfind("<00#", 0) == 0 && reply.compare(4, 6, "000035") != 0;
}

TEST(ProtocolGuide, IsWellFormed) {
  Guide g = read_guide();
  for (const std::string& p : g.problems)
    ADD_FAILURE() << p;
  EXPECT_GE(g.examples.size(), 32u);
}

TEST(ProtocolGuide, EveryDocumentedReplyIsTheSimulatorsReply) {
  Guide g = read_guide();
  ASSERT_FALSE(g.examples.empty());
  for (const Example& e : g.examples) {
    if (e.stream) continue;
    SCOPED_TRACE("docs/protocol.md line " + std::to_string(e.line));
    Settings s;
    ASSERT_TRUE(load_example_settings(e.settings, s)) << "settings refused";
    const std::string line_end = s.opt23 ? "" : "\r\n";
    const std::string reply = dispatch(s, e.request);
    ASSERT_GE(reply.size(), line_end.size());
    EXPECT_EQ(reply.substr(reply.size() - line_end.size()), line_end) << "line end";
    const std::string text = reply.substr(0, reply.size() - line_end.size());
    if (!e.random) {
      EXPECT_EQ(text, e.reply);
      continue;
    }
    EXPECT_EQ(shape_mismatch(e.reply, text), "") << "got " << text;
    // Marked random only when a second run draws other values.
    EXPECT_NE(dispatch(s, e.request), reply) << "the reply is not random";
  }
}

TEST(ProtocolGuide, EveryDocumentedStreamIsAnsweredAsShown) {
  Guide g = read_guide();
  int streams = 0;
  for (const Example& e : g.examples) {
    if (!e.stream) continue;
    ++streams;
    SCOPED_TRACE("docs/protocol.md line " + std::to_string(e.line));
    EXPECT_EQ(stream_reply(e), unescape(e.reply));
  }
  EXPECT_GE(streams, 3);
}

TEST(ProtocolGuide, EveryCommandHasASuccessfulExample) {
  Guide g = read_guide();
  std::set<std::string> answered;
  for (const Example& e : g.examples) {
    if (e.stream || is_error_reply(e.reply)) continue;
    answered.insert(lower(e.request.substr(1, e.request.find('#') - 1)));
  }
  EXPECT_EQ(command_table().size(), 16u);
  for (const CommandRow& row : command_table())
    EXPECT_TRUE(answered.count(std::string(row.code))) << "no example of command " << row.code;
}

// Rows "| name | `clear key` | `check value` | `key block` |" of the test key
// table: the block opens under the shipped MFK to that key and check value.
TEST(ProtocolGuide, TestKeysAreWhatTheirBlocksHold) {
  Guide g = read_guide();
  Settings s;
  ASSERT_TRUE(load_example_settings({}, s));
  int keys = 0;
  for (const std::string& row : g.key_rows) {
    std::vector<std::string> cells;
    std::stringstream ss(row.substr(1));
    std::string cell;
    while (std::getline(ss, cell, '|')) {
      cell = trim(cell);
      if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') {
        cell = cell.substr(1, cell.size() - 2);
      }
      cells.push_back(cell);
    }
    if (cells.size() < 4 || !check_key_block_form(cells[3])) continue;
    ++keys;
    SCOPED_TRACE(cells[0]);
    Key key;
    ASSERT_TRUE(open_key_block(s.mfk.data(), kMfkWrappingLen, cells[3], key));
    char hex[2 * kMaxKeyLen + 1];
    binary_to_hex(hex, key.bytes.data(), static_cast<size_t>(key.len));
    EXPECT_EQ(std::string(hex), cells[1]);
    CheckValueText check_value;
    key_check_value(key.bytes.data(), key.len, check_value, false);
    EXPECT_EQ(std::string(check_value.data()), cells[2]);
  }
  EXPECT_GE(keys, 8);
}

}  // namespace
}  // namespace palisim
