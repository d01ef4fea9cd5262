#include "vec_file.h"

#include <gtest/gtest.h>

#include <fstream>

namespace palisim::test {

namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool parse_hex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hex_value(text[i]);
    int lo = hex_value(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

const std::vector<uint8_t>& VecRecord::operator[](const std::string& name) const {
  static const std::vector<uint8_t> kMissing;
  auto it = fields.find(name);
  if (it == fields.end()) {
    ADD_FAILURE() << "record at line " << line << " has no field " << name;
    return kMissing;
  }
  return it->second;
}

std::vector<VecRecord> read_vec_file(const std::string& path) {
  std::vector<VecRecord> records;
  std::ifstream in(path);
  if (!in) {
    ADD_FAILURE() << "cannot open " << path;
    return records;
  }
  VecRecord current;
  std::string raw;
  int line_no = 0;
  while (std::getline(in, raw)) {
    ++line_no;
    std::string line = trim(raw);
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) {
      if (!current.fields.empty()) records.push_back(std::move(current));
      current = VecRecord{};
      continue;
    }
    size_t eq = line.find('=');
    std::vector<uint8_t> bytes;
    if (eq == std::string::npos || !parse_hex(trim(line.substr(eq + 1)), bytes)) {
      ADD_FAILURE() << path << ":" << line_no << ": not a Name = hex line";
      return records;
    }
    if (current.fields.empty()) current.line = line_no;
    current.fields[trim(line.substr(0, eq))] = std::move(bytes);
  }
  if (!current.fields.empty()) records.push_back(std::move(current));
  return records;
}

}  // namespace palisim::test
