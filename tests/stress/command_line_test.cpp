// The stress client's command line: help, missing values, unknown options,
// option and algorithm names in any case, later options overriding earlier
// ones, and how numbers are read.
#include <gtest/gtest.h>

#include <string>

#include "scripted_server.h"
#include "stress_process.h"

namespace palisim::stress::testing {
namespace {

constexpr char kHelp[] =
    "palisimstress:  stress tests an Atalla connection, ostensibly for palisim\n"
    "usage:  palisimstress {options}, where options are:\n"
    "    --host HOSTNAME   name or IP of host, or 'localhost'\n"
    "    --port PORT       port to use, defaults to 7000\n"
    "    --count COUNT     number of times to issue command\n"
    "    --cmd COMMAND     Atalla command to issue for testing\n"
    "    --alg ALG         either pingpong or maximalmoosh\n"
    "\nNote:\n"
    "By default this sends an echo command repeatedly.  You can substitute any\n"
    "valid Atalla command (for your MFK) to include the effect of encryption.  Also,\n"
    "because Atalla commands use the < and > characters, it will be necessary to\n"
    "enclose the command in quotes to avoid these being interpreted by the shell.\n";

constexpr char kDefaultRequest[] = "<00#Sent for testing throughput...#>\r\n";

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

std::string start_line(const std::string& host, const std::string& port, const std::string& count) {
  return "Starting test to " + host + ":" + port + " for " + count + " iterations...\n";
}

TEST(StressHelp, PrintsTheHelpTextAndEndsWithStatus2InAnyCase) {
  for (const char* option : {"--help", "--HELP", "--Help"}) {
    StressRun run = run_stress({option});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_EQ(run.output, kHelp) << option;
  }
}

TEST(StressHelp, EndsParsingWhereverItStands) {
  // Options before it are applied, but nothing after it is read or run.
  StressRun run = run_stress({"--port", "1", "--help", "--bogus"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output, kHelp);
}

TEST(StressCommandLine, AMissingValueIsReportedWithoutALineFeedAndEndsWithStatus1) {
  const std::pair<const char*, const char*> cases[] = {
      {"--host", "missing hostname"}, {"--port", "missing port"},     {"--count", "missing count"},
      {"--cmd", "missing command"},   {"--alg", "missing algorithm"},
  };
  for (const auto& [option, message] : cases) {
    // Valid options before the last one do not start a run.
    StressRun run = run_stress({"--port", "1", option});
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_EQ(run.output, message) << option;
  }
}

TEST(StressCommandLine, AnUnknownOptionEndsWithStatus1EvenBeforeValidOnes) {
  StressRun first = run_stress({"--bogus", "--port", "1", "--help"});
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.output, "unrecognized command '--bogus', try --help\n");

  StressRun later = run_stress({"--port", "1", "-count", "3"});
  EXPECT_EQ(later.status, 1);
  EXPECT_EQ(later.output, "unrecognized command '-count', try --help\n");

  // A value is taken as a value even when it looks like an option, so the
  // word after it is the next option.
  StressRun shifted = run_stress({"--host", "--port", "7000"});
  EXPECT_EQ(shifted.status, 1);
  EXPECT_EQ(shifted.output, "unrecognized command '7000', try --help\n");
}

TEST(StressCommandLine, DefaultsAreLocalhostPort7000And100Iterations) {
  // An unresolvable host shows the defaults without sending any traffic.
  StressRun run = run_stress({"--host", "no-such-host.invalid"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            start_line("no-such-host.invalid", "7000", "100") + "failed to resolve address\n");
}

TEST(StressCommandLine, DefaultRunSendsTheEchoCommandToLocalhost100TimesOneAtATime) {
  ScriptedServer server({});
  StressRun run = run_stress({"--port", server.port_text()});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("localhost", server.port_text(), "100"), 0), 0u)
      << run.output;
  EXPECT_EQ(seen.received, repeated(kDefaultRequest, 100));
  EXPECT_EQ(seen.max_waiting, 1);
}

TEST(StressCommandLine, OptionNamesAreComparedWithoutRegardToCase) {
  ScriptedServer server({});
  StressRun run = run_stress(
      {"--PORT", server.port_text(), "--Count", "2", "--CMD", "<00#x#>", "--HoSt", "LOCALHOST"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("LOCALHOST", server.port_text(), "2"), 0), 0u)
      << run.output;
  EXPECT_EQ(seen.received, "<00#x#>\r\n<00#x#>\r\n");
}

TEST(StressCommandLine, LaterOptionsOverrideEarlierOnes) {
  ScriptedServer server({});
  StressRun run = run_stress({"--host", "no-such-host.invalid", "--port", "1", "--count", "7",
                              "--cmd", "<00#first#>", "--host", "127.0.0.1", "--port",
                              server.port_text(), "--count", "3", "--cmd", "<00#second#>"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("127.0.0.1", server.port_text(), "3"), 0), 0u)
      << run.output;
  EXPECT_EQ(seen.received, repeated("<00#second#>\r\n", 3));
}

TEST(StressCommandLine, HostAnyConnectsToThisMachine) {
  ScriptedServer server({});
  StressRun run = run_stress({"--host", "Any", "--port", server.port_text(), "--count", "2"});
  EXPECT_EQ(server.finish().requests, 2);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("Any", server.port_text(), "2"), 0), 0u) << run.output;
}

TEST(StressCommandLine, NumbersAreReadAsLeadingDecimalIntegers) {
  ScriptedServer server({});
  // Leading blanks and a sign are allowed and reading stops at the first non-digit.
  StressRun run = run_stress({"--port", "  +" + server.port_text() + "abc", "--count", "3x"});
  EXPECT_EQ(server.finish().requests, 3);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("localhost", server.port_text(), "3"), 0), 0u)
      << run.output;

  // No digits give 0; the count is printed as it was read.
  StressRun words = run_stress({"--host", "no-such-host.invalid", "--port", "x1", "--count", "-1"});
  EXPECT_EQ(words.output,
            start_line("no-such-host.invalid", "0", "-1") + "failed to resolve address\n");
}

TEST(StressCommandLine, OnlyTheLow16BitsOfThePortAreUsed) {
  ScriptedServer server({});
  std::string wide = std::to_string(server.port() + 65536);
  StressRun run = run_stress({"--port", wide, "--count", "2"});
  EXPECT_EQ(server.finish().requests, 2);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind(start_line("localhost", wide, "2"), 0), 0u) << run.output;
}

// Replies wait until 3 requests do, so a pipelining client has 3 in flight
// and a ping-pong client 1.
ServerScript holding_three() {
  ServerScript script;
  script.batch = 3;
  return script;
}

int in_flight_with(std::vector<std::string> args) {
  ScriptedServer server(holding_three());
  args.insert(args.end(), {"--port", server.port_text(), "--count", "3"});
  StressRun run = run_stress(args);
  EXPECT_EQ(run.status, 0) << run.output;
  return server.finish().max_waiting;
}

TEST(StressAlgorithm, NamesSelectAlgorithmsInAnyCase) {
  EXPECT_EQ(in_flight_with({}), 1);
  EXPECT_EQ(in_flight_with({"--alg", "PINGPONG"}), 1);
  EXPECT_EQ(in_flight_with({"--alg", "MaximalMoosh"}), 3);
  EXPECT_EQ(in_flight_with({"--alg", "bAlLsToThEwAlL"}), 3);
}

TEST(StressAlgorithm, TheLastValidNameWins) {
  EXPECT_EQ(in_flight_with({"--alg", "maximalmoosh", "--alg", "pingpong"}), 1);
  EXPECT_EQ(in_flight_with({"--alg", "pingpong", "--alg", "ballstothewall"}), 3);
}

TEST(StressAlgorithm, AnUnknownNameIsReportedAndKeepsTheEarlierChoice) {
  ScriptedServer server(holding_three());
  StressRun run = run_stress(
      {"--alg", "maximalmoosh", "--alg", "Warp", "--port", server.port_text(), "--count", "3"});
  EXPECT_EQ(server.finish().max_waiting, 3);
  EXPECT_EQ(run.status, 0) << run.output;
  // No line feed: the start line follows on the same line.
  EXPECT_EQ(
      run.output.rfind(
          "algortihm 'Warp' unrecognized" + start_line("localhost", server.port_text(), "3"), 0),
      0u)
      << run.output;

  EXPECT_EQ(in_flight_with({"--alg", "nonsense"}), 1);
}

}  // namespace
}  // namespace palisim::stress::testing
