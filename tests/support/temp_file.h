// A text in a file of its own under /tmp, removed with the object: suites of
// other checkouts may run the same test at the same time.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace palisim::testing {

class TempFile {
 public:
  // `name` starts the file's name; path() is "" when no file could be made.
  explicit TempFile(std::string_view text, std::string_view name = "palisim") {
    std::string path = "/tmp/" + std::string(name) + "-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return;
    close(fd);
    path_ = path;
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const char* path() const { return path_.c_str(); }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

}  // namespace palisim::testing
