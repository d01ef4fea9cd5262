// The load options against scripted servers: connections refused and turned
// away, counts split over connections, pipeline depth, a request mix with
// error and mismatched replies, latencies from known delays, the rate
// schedule, duration and warm-up, and the JSON and CSV records.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "free_port.h"
#include "scripted_server.h"
#include "stress_process.h"
#include "temp_file.h"

namespace palisim::stress::testing {
namespace {

using palisim::testing::TempFile;

// The figure after `label` in the output, e.g. "p50 " or "\"sent\":".
double figure(const std::string& output, const std::string& label) {
  size_t at = output.find(label);
  return at == std::string::npos ? -1 : std::atof(output.c_str() + at + label.size());
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(LoadConnections, ANonListeningPortCountsEveryConnectionRefused) {
  std::string port = std::to_string(palisim::testing::free_port());
  StressRun run = run_stress({"--port", port, "--connections", "3", "--count", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("connections: 0 opened, 3 refused, 0 lost\n"), std::string::npos)
      << run.output;
}

TEST(LoadConnections, TurnedAwayConnectionsAreLostAndTheOthersAnswerTheCount) {
  ServerScript s;
  s.connections = 2;
  s.turned_away = 3;
  ScriptedServer server(s);
  StressRun run = run_stress({"--port", server.port_text(), "--connections", "5", "--count", "40"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("connections: 5 opened, 0 refused, 3 lost\n"), std::string::npos)
      << run.output;
  // Each turned-away connection took one request before its end was seen;
  // the others sent those again.
  EXPECT_NE(run.output.find("requests: 43 sent, 40 replies,"), std::string::npos) << run.output;
  EXPECT_EQ(seen.replies, 40);
}

TEST(LoadConnections, ACountIsSplitOverConnectionsKeepingThePipelineDepth) {
  // Replies wait until 4 requests have come: a depth of 4 is answered
  // without the quiet pause and never has more than 4 waiting.
  ServerScript s;
  s.connections = 4;
  s.batch = 4;
  ScriptedServer server(s);
  StressRun run = run_stress(
      {"--port", server.port_text(), "--connections", "4", "--pipeline", "4", "--count", "400"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("requests: 400 sent, 400 replies, 0 errors, 0 mismatched\n"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(seen.requests, 400);
  EXPECT_EQ(seen.max_waiting, 4);
  EXPECT_LT(run.seconds, 5.0);
}

// 6 of every 10 requests are command 31, answered well; 3 command 32,
// answered with an error of type 04; 1 command 98, answered with a code that
// is not its own.
struct MixRun {
  StressRun run;
  ServerRecord seen;
};

MixRun run_mix(std::vector<std::string> extra) {
  // A file of its own: suites of other checkouts run this test at the same time.
  const TempFile mix("6\t<31#A#>\n3\t<32#B#>\r\n\n<98#C#>\n", "stress-mix");
  ServerScript s;
  s.replies_by_start = {
      {"<31", "<41#Y#>\r\n"}, {"<32", "<00#040235#>\r\n"}, {"<98", "<41#N#>\r\n"}};
  ScriptedServer server(s);
  std::vector<std::string> args{"--port", server.port_text(), "--mix", mix.path(), "--count", "50"};
  args.insert(args.end(), extra.begin(), extra.end());
  StressRun run = run_stress(args);
  return {run, server.finish()};
}

TEST(LoadMix, RequestsAreDrawnInProportionAndBadRepliesCountedApart) {
  MixRun m = run_mix({"--check"});
  EXPECT_EQ(occurrences(m.seen.received, "<31#A#>\r\n"), 30u);
  EXPECT_EQ(occurrences(m.seen.received, "<32#B#>\r\n"), 15u);
  EXPECT_EQ(occurrences(m.seen.received, "<98#C#>\r\n"), 5u);
  EXPECT_EQ(m.run.status, 1);
  EXPECT_NE(m.run.output.find("requests: 50 sent, 50 replies, 15 errors, 5 mismatched\n"
                              "errors by type: 04 x15\n"),
            std::string::npos)
      << m.run.output;
  // The first five bad replies are quoted, with where they came from.
  EXPECT_EQ(occurrences(m.run.output, "error reply on connection 0 to request "), 4u);
  EXPECT_EQ(occurrences(m.run.output, "mismatched reply on connection 0 to request "), 1u);
  EXPECT_NE(m.run.output.find(": \"<00#040235#>\"\n"), std::string::npos);
  static const std::regex kLines(
      "by request line:\n  <31#A#>: 30 sent, 30 replies, 0 errors, 0 mismatched; latency us: .*\n"
      "  <32#B#>: 15 sent, 15 replies, 15 errors, 0 mismatched; latency us: .*\n"
      "  <98#C#>: 5 sent, 5 replies, 0 errors, 5 mismatched; latency us: .*\n$");
  EXPECT_TRUE(std::regex_search(m.run.output, kLines)) << m.run.output;
}

TEST(LoadMix, WithoutCheckTheSameCountsEndWithStatus0AndNoQuotes) {
  MixRun m = run_mix({});
  EXPECT_EQ(m.run.status, 0);
  EXPECT_NE(m.run.output.find("15 errors, 5 mismatched\n"), std::string::npos) << m.run.output;
  EXPECT_EQ(m.run.output.find("reply on connection"), std::string::npos);
}

// The latency figures of a JSON record.
const std::string kJsonLatency = "\"latency_us\":\\{(\"[a-z0-9.]+\":[0-9.]+,){10}\"max\":[0-9]+\\}";

TEST(LoadOutput, JsonAndCsvGiveOneRecordOfTheSameCounts) {
  MixRun json = run_mix({"--json"});
  static const std::regex kJson(
      "\\{\"host\":\"localhost\",\"port\":[0-9]+,\"connections\":1,\"opened\":1,\"refused\":0,"
      "\"lost\":0,\"sent\":50,\"replies\":50,\"errors\":15,\"errors_by_type\":\\{\"04\":15\\},"
      "\"mismatched\":5,\"completed\":true,\"seconds\":[0-9.]+,\"rate\":[0-9.]+," +
      kJsonLatency +
      ",\"by_line\":\\[\\{\"request\":\"<31#A#>\",\"sent\":30,\"replies\":30,\"errors\":0,"
      "\"mismatched\":0," +
      kJsonLatency +
      "\\},\\{\"request\":\"<32#B#>\",\"sent\":15,\"replies\":15,\"errors\":15,\"mismatched\":0," +
      kJsonLatency +
      "\\},\\{\"request\":\"<98#C#>\",\"sent\":5,\"replies\":5,\"errors\":0,\"mismatched\":5," +
      kJsonLatency + "\\}\\]\\}\n");
  EXPECT_TRUE(std::regex_match(json.run.output, kJson)) << json.run.output;
  MixRun csv = run_mix({"--csv", "--check"});
  EXPECT_EQ(csv.run.status, 1);
  static const std::regex kCsv(
      "connections,opened,refused,lost,sent,replies,errors,mismatched,completed,seconds,rate,"
      "min_us,mean_us,stdev_us,p50_us,p75_us,p90_us,p95_us,p99_us,p99.9_us,p99.99_us,max_us\n"
      "1,1,0,0,50,50,15,5,1,[0-9.]+,[0-9.]+,[0-9]+(,[0-9.]+){2}(,[0-9]+){8}\n");
  EXPECT_TRUE(std::regex_match(csv.run.output, kCsv)) << csv.run.output;
}

TEST(LoadLatency, KnownDelaysShowInThePercentiles) {
  // Every reply 20 ms late, one request at a time: no latency below 20 ms.
  ServerScript s;
  s.delay_ms = 20;
  ScriptedServer server(s);
  StressRun run = run_stress({"--port", server.port_text(), "--count", "10", "--pipeline", "1"});
  server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* at_least_20_ms : {"min ", "mean ", "p75 ", "p95 ", "p99.99 "})
    EXPECT_GE(figure(run.output, at_least_20_ms), 20000) << at_least_20_ms << run.output;
  EXPECT_LT(figure(run.output, "p50 "), 200000) << run.output;
  EXPECT_LT(figure(run.output, "stdev "), figure(run.output, "mean ")) << run.output;
}

TEST(LoadLatency, AtAConstantRateQueueingBehindSlowRepliesIsCounted) {
  // 100 requests/s, each answered 50 ms after the one before: request k is
  // due at 10k ms and answered no sooner than 50(k + 1) ms, so its latency
  // from the schedule is at least 50 + 40k ms; from its send it would be 50.
  ServerScript s;
  s.delay_ms = 50;
  ScriptedServer server(s);
  StressRun run = run_stress(
      {"--port", server.port_text(), "--count", "10", "--rate", "100", "--pipeline", "1"});
  server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_GE(figure(run.output, "p50 "), (50 + 40 * 4) * 1000 * 0.99) << run.output;
  EXPECT_GE(figure(run.output, "max "), (50 + 40 * 9) * 1000) << run.output;
  // About 20 replies a second of the 100 asked for.
  EXPECT_EQ(run.errors.find("palisimstress: warning: "), 0u) << run.errors;
  EXPECT_NE(run.errors.find(" % short of --rate 100\n"), std::string::npos) << run.errors;
}

TEST(LoadLatency, ARateTheServerKeepsUpWithGivesNoWarning) {
  ScriptedServer server({});
  StressRun run = run_stress({"--port", server.port_text(), "--count", "50", "--rate", "100"});
  server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.errors, "");
}

TEST(LoadLatency, AtARateThePipelineIsNotCappedByTheScheduleBookkeeping) {
  // Replies held until 600 requests are in: all 600 must go out unanswered.
  ServerScript s;
  s.batch = 600;
  ScriptedServer server(s);
  StressRun run = run_stress(
      {"--port", server.port_text(), "--count", "600", "--rate", "20000", "--alg", "maximalmoosh"});
  EXPECT_EQ(server.finish().max_waiting, 600);
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST(LoadDuration, TheWarmupIsLeftOutAndTheRunLastsItsDuration) {
  ServerScript s;
  s.delay_ms = 5;
  ScriptedServer server(s);
  StressRun run = run_stress(
      {"--port", server.port_text(), "--duration", "0.5", "--warmup", "0.3", "--pipeline", "1"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("for 0.5 seconds...\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("duration: 0.500000 s"), std::string::npos) << run.output;
  // At most one request every 5 ms; the warm-up's are sent but not counted.
  double sent = figure(run.output, "requests: ");
  EXPECT_LE(sent, 100);
  EXPECT_GE(seen.requests, sent + 1);
  EXPECT_GE(run.seconds, 0.8);
}

TEST(LoadCommandLine, OutOfRangeValuesEndWithStatus1BeforeConnecting) {
  for (const char* bad : {"0", "1001", "12x", ""}) {
    StressRun run = run_stress({"--connections", bad});
    EXPECT_EQ(run.status, 1) << bad;
    EXPECT_EQ(run.output,
              std::string("--connections takes a number from 1 to 1000, not '") + bad + "'\n");
  }
  StressRun run = run_stress({"--mix", "/nonexistent/mix"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "cannot read mix file '/nonexistent/mix'\n");
}

}  // namespace
}  // namespace palisim::stress::testing
