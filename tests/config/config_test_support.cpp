#include "config_test_support.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "config/config.h"

namespace palisim {

ScratchDir::ScratchDir() {
  char name[] = "/tmp/palisim-config-XXXXXX";
  if (!mkdtemp(name)) ADD_FAILURE() << "mkdtemp: " << strerror(errno);
  path_ = name;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::path_of(const char* name) const {
  return path_ + "/" + name;
}

std::string ScratchDir::write(const char* name, std::string_view text) const {
  std::string path = path_of(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
  return path;
}

CapturedOutput::CapturedOutput() {
  stream_ = open_memstream(&buffer_, &size_);
  if (!stream_) ADD_FAILURE() << "open_memstream: " << strerror(errno);
  set_configuration_output(stream_);
}

CapturedOutput::~CapturedOutput() {
  set_configuration_output(nullptr);
  if (stream_) fclose(stream_);
  free(buffer_);
}

std::string CapturedOutput::take() {
  if (!stream_) return {};
  fflush(stream_);
  std::string text(buffer_ + taken_, size_ - taken_);
  taken_ = size_;
  return text;
}

::testing::AssertionResult ConfigFileTest::accepts(std::string_view text) {
  bool parsed = open_configuration(write_conf(text).c_str()) != nullptr;
  std::string printed = output_.take();
  if (parsed && printed.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << (parsed ? "parsed" : "refused") << " and printed \"" << printed << "\"";
}

std::string ConfigFileTest::refusal(std::string_view text) {
  const std::string path = write_conf(text);
  bool parsed = open_configuration(path.c_str()) != nullptr;
  std::string printed = output_.take();
  if (parsed) return "(accepted)";
  // One line, led by the file and the line where the parser found the fault.
  const size_t colon = printed.find(": ", path.size());
  bool one_line = printed.find('\n') == printed.size() - 1 && colon != std::string::npos;
  if (printed.rfind(path + ":", 0) != 0 || !one_line) return "(not PATH:LINE: ...) " + printed;
  return printed.substr(colon + 2, printed.size() - colon - 3);
}

Settings sentinel_settings() {
  Settings s;
  apply_default_settings(s);
  s.mfk.fill(0xA5);
  s.mfk_len = 24;
  s.mfk_present = 1;
  s.pmfk.fill(0x5A);
  s.pmfk_present = 1;
  for (const OptionFlag& flag : kOptionFlags)
    s.*flag.member ^= 1;
  s.min_pin_len = 9;
  s.pin_sanity = 'X';
  s.second_pin = 'Y';
  strcpy(s.opte0.data(), "keep0");
  strcpy(s.opte1.data(), "keep1");
  s.opte2 = 1;
  s.opte3 = 1;
  s.opte4 = 1;
  return s;
}

void expect_same_settings(const Settings& expected, const Settings& actual) {
  EXPECT_EQ(expected.mfk, actual.mfk);
  EXPECT_EQ(expected.mfk_len, actual.mfk_len);
  EXPECT_EQ(expected.mfk_present, actual.mfk_present);
  EXPECT_EQ(expected.pmfk, actual.pmfk);
  EXPECT_EQ(expected.pmfk_present, actual.pmfk_present);
  for (const OptionFlag& flag : kOptionFlags) {
    EXPECT_EQ(expected.*flag.member, actual.*flag.member) << flag.name;
  }
  EXPECT_EQ(expected.min_pin_len, actual.min_pin_len);
  EXPECT_EQ(expected.pin_sanity, actual.pin_sanity);
  EXPECT_EQ(expected.second_pin, actual.second_pin);
  EXPECT_EQ(expected.opte0, actual.opte0);
  EXPECT_EQ(expected.opte1, actual.opte1);
  EXPECT_EQ(expected.opte2, actual.opte2);
  EXPECT_EQ(expected.opte3, actual.opte3);
  EXPECT_EQ(expected.opte4, actual.opte4);
}

}  // namespace palisim
