// Parsing the largest configuration files the loader admits: the serving
// thread parses an edited file at the next accept, so the slowest of them
// bounds how long every client can wait for an edit.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "config/inject_rules.h"

namespace palisim {
namespace {

constexpr size_t kFileBytes = 1 << 20;  // the loader's limit

std::string section(int n, const std::string& padding) {
  std::string s = "atalla \"title-" + std::to_string(n) + "\" {\n";
  s += "  mfk = \"0123456789ABCDEFFEDCBA9876543210\"\n  opt21 = true\n  opte0 = \"" + padding +
       "\"\n";
  for (int i = 0; i < kMaxInjectRules; ++i) {
    s += "  inject { command = \"31\" probability = 0.5 latency_ms = 10 jitter_ms = 5 }\n";
  }
  return s + "}\n";
}

// Every section the bound admits, each with every inject rule it admits.
std::string most_sections(size_t padding_len) {
  std::string text = "port = 7000\n";
  for (int n = 0; n < kMaxAtallaSections; ++n)
    text += section(n, std::string(padding_len, 'p'));
  return text;
}

std::string repeated(const std::string& head, const std::string& line, const std::string& tail) {
  std::string text = head;
  while (text.size() + line.size() + tail.size() <= kFileBytes)
    text += line;
  return text + tail;
}

// The same text, most sections padded to the size limit, one long string,
// comments, and one option set again on every line.
std::string file_text(int shape) {
  switch (shape) {
    case 0:
      return most_sections(0);
    case 1:
      return most_sections((kFileBytes - most_sections(0).size()) / kMaxAtallaSections - 8);
    case 2:
      return "logfile = \"" + std::string(kFileBytes - 16, 'l') + "\"\n";
    case 3:
      return repeated("", "# a comment line of some length, as people write them\n", "");
    case 4:
      return repeated("atalla default {\n", "  opt21 = true\n", "}\n");
    default:
      return most_sections(0) + "atalla beyond { }\n";
  }
}

const char* const kShapeNames[] = {"most_sections", "most_sections_padded", "one_long_string",
                                   "comments",      "one_option_repeated",  "one_section_too_many"};

void BM_ParseConfiguration(benchmark::State& state) {
  const auto shape = static_cast<int>(state.range(0));
  char path[] = "/tmp/palisim-bench-conf-XXXXXX";
  int fd = mkstemp(path);
  const std::string text = file_text(shape);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the file");
    return;
  }
  close(fd);
  FILE* sink = std::fopen("/dev/null", "w");
  set_configuration_output(sink);
  bool loaded = false;
  for (auto _ : state) {
    Configuration cfg = open_configuration(path);
    loaded = cfg != nullptr;
    benchmark::DoNotOptimize(cfg.get());
  }
  set_configuration_output(nullptr);
  std::fclose(sink);
  unlink(path);
  state.SetLabel(std::string(kShapeNames[shape]) + (loaded ? ", loaded, " : ", refused, ") +
                 std::to_string(text.size()) + " bytes");
}
BENCHMARK(BM_ParseConfiguration)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace palisim

BENCHMARK_MAIN();
