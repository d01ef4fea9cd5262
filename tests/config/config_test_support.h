// Scratch files, captured messages and record comparison for the
// configuration tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "protocol/settings.h"

namespace palisim {

// A fresh directory under /tmp, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes text to name inside the directory, replacing any earlier file,
  // and returns its path.
  std::string write(const char* name, std::string_view text) const;
  std::string path_of(const char* name) const;

 private:
  std::string path_;
};

// Sends the configuration's messages into memory for as long as it lives.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Everything printed since the capture began or was last taken.
  std::string take();

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_ = nullptr;
  size_t taken_ = 0;
};

// A test with a scratch directory and captured messages.
class ConfigFileTest : public ::testing::Test {
 protected:
  std::string write_conf(std::string_view text) const { return dir_.write("atalla.conf", text); }

  // Success when a file holding text parses and prints nothing.
  ::testing::AssertionResult accepts(std::string_view text);

  // What opening a file holding text printed when it was refused, without
  // the "PATH:LINE: " before it and the line end, or "(accepted)" when it parsed.
  std::string refusal(std::string_view text);

  ScratchDir dir_;
  CapturedOutput output_;
};

// A record that differs from the defaults in every field, so a load that
// writes anything at all shows.
Settings sentinel_settings();

// Compares every field of two records.
void expect_same_settings(const Settings& expected, const Settings& actual);

}  // namespace palisim
