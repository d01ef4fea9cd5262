// Reader for known-answer files: records of "Name = hex" lines separated by
// blank lines, '#' starting a comment line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace palisim::test {

struct VecRecord {
  int line = 0;  // line of the record's first field, for failure messages
  std::map<std::string, std::vector<uint8_t>> fields;

  // The named field; a missing field fails the calling test.
  const std::vector<uint8_t>& operator[](const std::string& name) const;
};

// Every record of the file; a missing file or a malformed line fails the
// calling test and yields what was read up to there.
std::vector<VecRecord> read_vec_file(const std::string& path);

}  // namespace palisim::test
