// The error table of docs/protocol.md and the code's error table list the
// same errors, each with the same short text.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/errors.h"

namespace palisim {
namespace {

struct DocRow {
  int line;
  int type;
  int detail;
  std::string text;
};

// Rows "| TT | DDDD | field | short text | meaning |" under "## Error replies".
std::vector<DocRow> documented_errors() {
  std::ifstream in(std::string(PALISIM_SOURCE_DIR) + "/docs/protocol.md");
  std::vector<DocRow> rows;
  std::string line;
  bool in_section = false;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.rfind("## ", 0) == 0) in_section = line == "## Error replies";
    if (!in_section || line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream cut(line.substr(1));
    for (std::string cell; std::getline(cut, cell, '|');)
      cells.push_back(cell.substr(1, cell.size() - 2));
    if (cells[0].find_first_not_of("0123456789") != std::string::npos) continue;  // the heading
    if (cells.size() != 5) {
      ADD_FAILURE() << "line " << number << ": not five cells";
      continue;
    }
    rows.push_back({number, std::stoi(cells[0]), std::stoi(cells[1]), cells[3]});
  }
  return rows;
}

TEST(ErrorTable, DocsAndCodeListTheSameErrors) {
  const std::vector<DocRow> rows = documented_errors();
  ASSERT_FALSE(rows.empty());
  for (const DocRow& row : rows) {
    SCOPED_TRACE("docs/protocol.md line " + std::to_string(row.line));
    const ErrorKind* kind = find_error_kind(static_cast<uint8_t>(row.type), row.detail);
    ASSERT_NE(kind, nullptr) << "not in the code's table";
    EXPECT_EQ(kind->text, row.text);
  }
  for (const ErrorKind& kind : kErrorKinds) {
    int listed = 0;
    for (const DocRow& row : rows)
      listed += row.type == kind.type && row.detail == kind.detail && row.text == kind.text;
    EXPECT_EQ(listed, 1) << kind.text;
  }
  EXPECT_EQ(find_error_kind(2, 3), nullptr);
}

}  // namespace
}  // namespace palisim
