// Requests through a server: one-shot, pipe and prompt, connection faults,
// keys and blocks from the tool that the server takes, and the README's
// "Use your own keys" walkthrough run as written.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include "cli_run.h"
#include "free_port.h"
#include "scripted_peer.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

const std::string kPinKeyB =
    "1PUNE000,1E97BBD5F1682E5E2EA4A87FD8A5D81ADD141C5B4BED0FA3,E538E503B9532EC5";

TEST(CliSession, OneShotAndPipeWithExplanations) {
  TestServer server(kShippedConfig.c_str());
  const std::string port = std::to_string(server.port());
  const Outcome one = cli({"--port", port, "<00#a#><00#b#>", "<zz#>"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out, "<00#000035#a#>\n<00#000035#b#>\n<00#230035#>\n");

  const Outcome pipe = cli({"--port", port, "--explain"},
                           "<31#1#" + kPinKeyABlock + "#" + kPinKeyB +
                               "#1B9C1845EB993A7A#401234567890#^t#>\r\n\nno request\n<32#>\n");
  EXPECT_EQ(pipe.status, 0);
  EXPECT_EQ(pipe.out,
            "<41#10A01C8D02C69107#Y#^t#>\n"
            "  reply code: 41 (command 31, translate a PIN block)\n"
            "  1 PIN block under the outgoing key: 10A01C8D02C69107\n"
            "  2 PIN check: Y\n"
            "  echo field: ^t\n"
            "<00#041135#>\n"
            "  error: type 04, field 11, detail not sent (opt21 off): too few fields\n");
  EXPECT_EQ(pipe.err, "palisim-cli: line 3 holds no request; not sent\n");
}

TEST(CliSession, ConnectionFaultsGiveStatusOne) {
  const Outcome refused = cli({"--port", std::to_string(free_port()), "<00#x#>"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot connect to localhost:"), std::string::npos) << refused.err;

  // The server closes a connection whose line passes 5120 bytes.
  TestServer server;
  const Outcome cut = cli({"--port", std::to_string(server.port()), "<00#a#>",
                           "<00#" + std::string(6000, 'x') + "#>", "<00#b#>"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, "<00#000035#a#>\n");
  EXPECT_NE(cut.err.find(" after 1 of 2 replies\n"), std::string::npos) << cut.err;
}

// The last word of what the tool prints.
std::string tool(std::vector<std::string> args) {
  const Outcome r = cli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string text = r.out.substr(0, r.out.size() - 1);
  return text.substr(text.find_last_of(" \n") + 1);
}

// From a hostile server, control bytes print escaped, as the trace shows
// them, and a reply that never ends stops the client with status 1.
TEST(CliSession, WhatAServerSendsIsPrintedEscapedAndBounded) {
  const struct {
    std::string sent;
    Outcome expected;
  } cases[] = {
      {"<00#\x1b]0;owned\x07#\\>\r\n", {0, "<00#\\x1B]0;owned\\x07#\\\\>\n", ""}},
      {"<00#" + std::string(9000, 'x'),
       {1, "", "palisim-cli: reply longer than 8192 bytes after 0 of 1 replies\n"}},
  };
  for (const auto& c : cases) {
    ScriptedPeer server({{0, c.sent}});
    const Outcome got =
        cli({"--host", "127.0.0.1", "--port", std::to_string(server.port()), "<00#x#>"});
    EXPECT_EQ(got.status, c.expected.status);
    EXPECT_EQ(got.out, c.expected.out);
    EXPECT_EQ(got.err, c.expected.err);
  }
}

TEST(CliRoundTrip, TheServerTakesWhatTheToolPrepares) {
  TestServer server(kShippedConfig.c_str());
  const std::string port = std::to_string(server.port());
  const std::string config = "--config";
  // A single-length DUKPT terminal's block, translated by command 31 mode S.
  const std::string bdk = tool({config, kShippedConfig, "key", "wrap", "1dDNE000", kBdk});
  const std::string block =
      tool({"dukpt", "--single", "--bdk", kBdk, "--ksn", "FFFF9876543210E00007", "--pin", "987654",
            "--pan", "5413330089010434"});
  const std::string request =
      "<31#7#" + bdk + "#" + kPinKeyABlock + "#" + block + "#333008901043#FFFF9876543210E00007#S#>";
  const std::string under_a = tool({"pin", "block", "--pin", "987654", "--pan", "5413330089010434",
                                    "--key", "042666B49184CF5C68DE9628D0397B36"});
  EXPECT_EQ(cli({"--port", port, request}).out, "<41#" + under_a + "#Y#>\n");

  // A header that the note says command 30 refuses is refused there.
  const Outcome noted = cli({config, kShippedConfig, "key", "wrap", "1PUDE000", kBdk});
  EXPECT_EQ(noted.err,
            "palisim-cli: note: header 1PUDE000 is refused by 30 (field 1), 31 (field 3)\n");
  const std::string refused = "<30#" + noted.out.substr(0, 74) + "#1234#401234567890#>";
  EXPECT_EQ(cli({"--port", port, refused}).out, "<00#060135#>\n");
}

// Reads from fd into seen until marker has appeared count times, the other
// side closes, or two seconds pass without output.
void read_until(int fd, std::string& seen, const std::string& marker, int count) {
  pollfd p{fd, POLLIN, 0};
  char buf[4096];
  for (ssize_t n = 0; poll(&p, 1, 2000) > 0 && (n = read(fd, buf, sizeof buf)) > 0;) {
    seen.append(buf, static_cast<size_t>(n));
    size_t at = 0;
    for (int found = 0; (at = seen.find(marker, at)) != std::string::npos; ++at)
      if (++found == count) return;
  }
}

TEST(CliSession, PromptEditsLinesAndExplainsEveryReply) {
  TestServer server(kShippedConfig.c_str());
  const std::string port = std::to_string(server.port());
  int fd = -1;
  const pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execl(kCli.c_str(), kCli.c_str(), "--port", port.c_str(), nullptr);
    _exit(127);
  }
  // At each prompt: a mistake mended with backspace, the line again from the
  // history (arrow up), then quit (which, unlike Ctrl-D, survives early typing).
  const std::string prompt = "localhost:" + port + "> ";
  std::string seen;
  int prompts = 0;
  for (const std::string keys : {"<00#hix\x7f#>\r", "\x1b[A\r", "quit\r"}) {
    read_until(fd, seen, prompt, ++prompts);
    ASSERT_EQ(write(fd, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  read_until(fd, seen, "never shown", 1);
  int status = -1;
  for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (status == -1 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  close(fd);
  EXPECT_EQ(status, 0) << "exit status 0 after quit";
  const std::string explained = "<00#000035#hi#>\r\n  reply code: 00 (command 00, echo)\r\n";
  const size_t first = seen.find(explained);
  ASSERT_NE(first, std::string::npos) << seen;
  EXPECT_NE(seen.find(explained, first + 1), std::string::npos) << seen;
}

TEST(CliDocs, ShowsTheHelpText) {
  EXPECT_NE(slurp(kSourceDir + "/docs/cli.md")
                .find("$ build/palisim-cli --help\n" + cli({"--help"}).out + "```"),
            std::string::npos);
}

// The README's commands from the top of the tree, as sh runs them, with the
// server on a free port; each prints what the README shows.
TEST(CliReadme, UseYourOwnKeysRunsAsShown) {
  const std::string readme = slurp(kSourceDir + "/README.md");
  const size_t section = readme.find("## Use your own keys");
  ASSERT_NE(section, std::string::npos);
  const size_t open = readme.find("```\n", section) + 4;
  std::stringstream block(readme.substr(open, readme.find("```", open) - open));
  TestServer server(kShippedConfig.c_str());
  const std::string cli_with_port = kCli + " --port " + std::to_string(server.port());
  std::string script, line;
  std::vector<std::string> shown;
  while (std::getline(block, line)) {
    if (line.rfind("$ ", 0) != 0) {
      shown.back() += line + "\n";
      continue;
    }
    std::string command = line.substr(2);
    const size_t at = command.find("build/palisim-cli");
    ASSERT_NE(at, std::string::npos) << line;
    const bool sends = command.compare(at + 17, 3, " \"<") == 0;
    command.replace(at, 17, sends ? cli_with_port : kCli);
    script += "echo '$'\n" + command + "\n";
    shown.push_back("$\n");
  }
  EXPECT_LE(shown.size(), 6u);
  const Outcome r = run_program({"/bin/sh", "-e", "-c", script}, "", kSourceDir);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string all_shown;
  for (const std::string& s : shown)
    all_shown += s;
  EXPECT_EQ(r.out, all_shown);
}

}  // namespace
}  // namespace palisim::testing
