// Both pacing algorithms against replies that arrive whole, cut into pieces,
// merged into one send, or both; the exact bytes sent; the printed figures.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <string>

#include "scripted_server.h"
#include "stress_process.h"

namespace palisim::stress::testing {
namespace {

struct Figures {
  bool found;
  double duration;
  double rate;
};

// The end line must be the last line of the output.
Figures figures_of(const std::string& output) {
  size_t at = output.rfind("amortized duration: ");
  if (at == std::string::npos) return {false, 0, 0};
  Figures f{false, 0, 0};
  int used = 0;
  int n =
      std::sscanf(output.c_str() + at, "amortized duration: %lf; amortized rate: %lf per sec\n%n",
                  &f.duration, &f.rate, &used);
  f.found = n == 2 && at + static_cast<size_t>(used) == output.size();
  return f;
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

struct Case {
  const char* alg;
  ServerScript script;
  int count;
};

// Runs the default command and checks what every completed run must show:
// status 0, the end line with a per-command time that fits the run, each
// command sent once, and the client staying until the last reply's '>' had
// gone out.
ServerRecord run_complete(const Case& c, Figures* figures = nullptr) {
  ScriptedServer server(c.script);
  StressRun run = run_stress(
      {"--alg", c.alg, "--port", server.port_text(), "--count", std::to_string(c.count)});
  ServerRecord seen = server.finish();
  EXPECT_EQ(run.status, 0) << run.output;
  Figures f = figures_of(run.output);
  EXPECT_TRUE(f.found) << run.output;
  // The timed part lies within the life of the process (the duration is
  // printed to the microsecond, so it may be rounded up by half of one).
  EXPECT_LE(f.duration * c.count, run.seconds + c.count * 0.5e-6);
  EXPECT_EQ(seen.received, repeated("<00#Sent for testing throughput...#>\r\n", c.count));
  EXPECT_EQ(seen.replies, c.count);
  EXPECT_EQ(seen.replies_at_client_end, c.count);
  if (figures) *figures = f;
  return seen;
}

ServerScript pieces(size_t len, int batch = 1) {
  ServerScript s;
  s.piece_len = len;
  s.batch = batch;
  return s;
}

// Each reply in pieces: "<00#000035#Sent for", " testing throughput...#", ">",
// CR, LF; the LF travels with the next reply when replies are merged.
ServerScript cut_at_marks(int batch = 1) {
  ServerScript s = pieces(20, batch);
  s.cut_at_marks = true;
  return s;
}

TEST(PingPong, WaitsForTheCarriageReturnOfEachReplyCutIntoPieces) {
  // The LF of one reply is read while waiting for the next.
  Figures f{};
  ServerRecord seen = run_complete({"pingpong", cut_at_marks(), 20}, &f);
  EXPECT_EQ(seen.max_waiting, 1);
  EXPECT_EQ(seen.sent_before_line_end, 0);
  // Each reply takes at least four 1 ms pauses, so the per-command figure
  // cannot be below 4 ms, and the rate is its inverse.
  EXPECT_GE(f.duration, 0.004);
  EXPECT_NEAR(f.rate * f.duration, 1.0, 0.01);
}

TEST(PingPong, CompletesAgainstWholeReplies) {
  Figures f{};
  run_complete({"pingpong", ServerScript{}, 200}, &f);
  EXPECT_GT(f.duration, 0.0);
  EXPECT_GT(f.rate, 0.0);
}

// A pipelined client has more than one command in flight: the server answers
// only once two wait (or its input has gone quiet), which a client waiting
// for each reply never lets happen, however fast the server reads.
TEST(Pipelined, CountsRepliesCutIntoPieces) {
  for (const ServerScript& script : {cut_at_marks(2), pieces(3, 2)})
    EXPECT_GT(run_complete({"maximalmoosh", script, 20}).max_waiting, 1);
}

TEST(Pipelined, CountsRepliesThatEndAtTheirAngleBracket) {
  // As a server with opt23 on answers: no CR LF after '>'.
  ServerScript bare = cut_at_marks(25);
  bare.reply = "<00#000035#Sent for testing throughput...#>";
  run_complete({"maximalmoosh", bare, 25});
}

TEST(Pipelined, CountsRepliesMergedIntoOneSendAcrossReads) {
  // 100 replies of 46 bytes in one send: the client's 1 KiB reads hold many
  // '>' each and cut replies in the middle.
  ServerScript merged;
  merged.batch = 100;
  ServerRecord seen = run_complete({"maximalmoosh", merged, 100});
  EXPECT_EQ(seen.max_waiting, 100);
}

TEST(Pipelined, CountsRepliesMergedAndCutAtOddPlaces) {
  EXPECT_EQ(run_complete({"ballstothewall", pieces(500, 100), 100}).max_waiting, 100);
  EXPECT_EQ(run_complete({"ballstothewall", cut_at_marks(100), 100}).max_waiting, 100);
}

TEST(Pipelined, SendsEveryCopyWhenTheServerAnswersLate) {
  // Replies held until all 2000 commands are in: the client must keep sending
  // while no reply comes.
  ServerScript late;
  late.batch = 2000;
  ServerRecord seen = run_complete({"maximalmoosh", late, 2000});
  EXPECT_EQ(seen.max_waiting, 2000);
}

TEST(Command, IsSentExactlyWithCarriageReturnAndLineFeedEachTime) {
  const std::string cmd = "<31#1#AbC def#\"quoted\"#^echo#>";
  for (const char* alg : {"pingpong", "maximalmoosh"}) {
    ScriptedServer server({});
    StressRun run =
        run_stress({"--alg", alg, "--cmd", cmd, "--port", server.port_text(), "--count", "5"});
    EXPECT_EQ(server.finish().received, repeated(cmd + "\r\n", 5)) << alg;
    EXPECT_EQ(run.status, 0) << alg << ": " << run.output;
  }
}

TEST(Command, ACommandLongerThanAReceiveChunkIsSentWhole) {
  std::string cmd = "<00#" + std::string(5000, 'A') + "#>";
  for (const char* alg : {"pingpong", "maximalmoosh"}) {
    ScriptedServer server({});
    StressRun run =
        run_stress({"--alg", alg, "--cmd", cmd, "--port", server.port_text(), "--count", "3"});
    EXPECT_EQ(server.finish().received, repeated(cmd + "\r\n", 3)) << alg;
    EXPECT_EQ(run.status, 0) << alg;
  }
}

TEST(Pipelined, SendsLongCopiesWholeAndInOrder) {
  // 6 MB in all, more than the client's socket buffer grows to, so sends
  // return short; the rest of a copy must follow from where a send stopped.
  std::string cmd = "<00#" + std::string(100000, 'B') + "#>";
  ServerScript small_window;
  small_window.receive_buffer = 4096;
  ScriptedServer server(small_window);
  StressRun run = run_stress(
      {"--alg", "maximalmoosh", "--cmd", cmd, "--port", server.port_text(), "--count", "60"});
  const ServerRecord& seen = server.finish();
  EXPECT_EQ(seen.received.size(), 60 * (cmd.size() + 2));
  EXPECT_TRUE(seen.received == repeated(cmd + "\r\n", 60));
  EXPECT_EQ(run.status, 0) << run.output;
}

}  // namespace
}  // namespace palisim::stress::testing
