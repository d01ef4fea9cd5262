// Palisim002 as a process: headless start, echo, SIGTERM, port in use, usage,
// the start-up line, the trace and statistics, the environment, descriptor
// exhaustion and a standard output that is gone or full.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "free_port.h"
#include "scripted_peer.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

std::string binary() {
  return std::string(PALISIM_BINARY_DIR) + "/Palisim002";
}

// The program running with its standard output in a file (or out_fd), with
// no display variables but those in `env` ("NAME=value").
class Program {
 public:
  explicit Program(std::vector<std::string> args, std::vector<std::string> env = {},
                   std::string bin = binary(), int out_fd = -1, const std::string& dir = "") {
    char path[] = "/tmp/palisim-out-XXXXXX";
    int out = mkstemp(path);
    out_path_ = path;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out_fd >= 0 ? out_fd : out, 1);
      dup2(out, 2);
      if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      for (std::string& e : env)
        putenv(e.data());
      std::vector<char*> argv;
      argv.push_back(bin.data());
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(bin.c_str(), argv.data());
      _exit(127);
    }
    close(out);
  }
  ~Program() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    unlink(out_path_.c_str());
  }

  // Exit status, waiting up to 30 seconds; -1 if it did not end.
  int wait_exit() {
    for (int i = 0; i < 3000; ++i) {
      int st;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  void signal(int sig) { kill(pid_, sig); }
  pid_t pid() const { return pid_; }
  std::string output() const {
    std::ifstream in(out_path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool wait_for_output(const std::string& text) {
    for (int i = 0; i < 3000; ++i) {
      if (output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_path_;
};

TEST(Program, HeadlessServesEchoAndEndsOnSigterm) {
  int port = free_port();
  Program p(
      {"--headless", "--quiet", "--port", std::to_string(port), "--config", "../../atalla.conf"});
  ASSERT_TRUE(p.wait_for_output("Waiting for connections...\n")) << p.output();
  {
    TestClient c(port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send_all("<00#hello#>\r"));
    EXPECT_EQ(c.read_replies(1), "<00#000035#hello#>\r\n");
    p.signal(SIGTERM);
    EXPECT_TRUE(c.closed_by_server());
  }
  EXPECT_EQ(p.wait_exit(), 0);
  std::string out = p.output();
  EXPECT_NE(out.find("Acceptor restarting...\n"), std::string::npos);
  EXPECT_EQ(out.find("preparing to select()"), std::string::npos);  // --quiet
  EXPECT_NE(out.find("Accepted connection from 127.0.0.1:"), std::string::npos);
}

TEST(Program, SigtermDuringAFloodEndsCleanly) {
  int port = free_port();
  Program p(
      {"--headless", "--quiet", "--port", std::to_string(port), "--config", "../../atalla.conf"});
  ASSERT_TRUE(p.wait_for_output("Waiting for connections...\n")) << p.output();
  std::string flood;
  for (int i = 0; i < 20000; ++i)
    flood += "<00#flood" + std::to_string(i) + "#>\r";
  std::vector<std::unique_ptr<TestClient>> clients;
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<TestClient>(port));
    ASSERT_TRUE(clients.back()->connected());
  }
  for (auto& c : clients)
    writers.emplace_back([&flood, client = c.get()] { client->send_all(flood); });
  // Every flood is being answered.
  for (auto& c : clients) {
    pollfd answered{c->fd(), POLLIN, 0};
    ASSERT_EQ(poll(&answered, 1, 10000), 1);
  }
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 0);
  for (auto& c : clients)
    EXPECT_TRUE(c->closed_by_server());
  for (auto& w : writers)
    w.join();
  EXPECT_NE(p.output().find("Acceptor restarting...\n"), std::string::npos);
}

#if PALISIM_WINDOW
const char kNoDisplayLine[] = "No display found; running headless.\n";
#else
const char kNoDisplayLine[] = "Built without the control window; serving headless.\n";
#endif

TEST(Program, WithoutDisplayRunsHeadlessAndTracesEvents) {
  int port = free_port();
  Program p({"--port", std::to_string(port)});
  ASSERT_TRUE(p.wait_for_output("Waiting for connections...\n")) << p.output();
  {
    TestClient c(port);
    ASSERT_TRUE(c.send_all("<00#x#>\r"));
    EXPECT_EQ(c.read_replies(1), "<00#000035#x#>\r\n");
  }
  p.signal(SIGINT);
  EXPECT_EQ(p.wait_exit(), 0);
  std::string out = p.output();
  EXPECT_NE(out.find(kNoDisplayLine), std::string::npos);
  // Said once at start, though the start-up line reads the file again.
  const std::string warning = "warning: configuration file 'atalla.conf' could not be read\n";
  const std::string start = out.substr(0, out.find("Palisim002 ready: "));
  EXPECT_EQ(start.find(warning), start.rfind(warning)) << out;
  EXPECT_NE(out.find(warning + "There is no atalla.conf file."), std::string::npos) << out;
  EXPECT_NE(out.find("preparing to select()...\nselect() returned...\n"), std::string::npos);
  EXPECT_NE(out.find("became readable; handling it.\n"), std::string::npos);
}

// A display variable that names nothing reachable means serving headless and
// one line saying why; the build without Qt serves headless whatever is set.
TEST(Program, UnreachableDisplayServesHeadless) {
  struct Case {
    std::string bin;
    std::vector<std::string> env;
    std::string line;
  };
  std::vector<Case> cases = {{PALISIM_HEADLESS_BINARY,
                              {"DISPLAY=:987"},
                              "\nBuilt without the control window; serving headless.\n"}};
#if PALISIM_WINDOW
  const std::string no_display = "\nNo reachable display: ";
  cases.push_back(
      {binary(),
       {"DISPLAY=:987.0"},
       no_display + "DISPLAY ':987.0' (/tmp/.X11-unix/X987: No such file or directory)"});
  cases.push_back(
      {binary(),
       {"DISPLAY=localhost:987", "WAYLAND_DISPLAY=wl-test", "XDG_RUNTIME_DIR=/nonexistent"},
       no_display + "DISPLAY 'localhost:987' (localhost port 6987: Connection refused) "
                    "WAYLAND_DISPLAY 'wl-test' (/nonexistent/wl-test: No such file or "
                    "directory); running headless.\n"});
  cases.push_back({binary(), {"DISPLAY=tv"}, no_display + "DISPLAY 'tv' (not of the form"});
  // An X server that refuses this client, and a listener that never speaks X.
  const std::string refusal("\0\x16\x0b\0\0\0\x06\0No protocol specified\n\0\0", 32);
  ScriptedPeer refusing({{0, refusal}}), silent({});
  cases.push_back({binary(),
                   {"DISPLAY=127.0.0.1:" + std::to_string(refusing.port() - 6000)},
                   "(the X server refused the connection: No protocol specified); running "
                   "headless.\n"});
  cases.push_back(
      {binary(),
       {"DISPLAY=127.0.0.1:" + std::to_string(silent.port() - 6000)},
       "(no answer to the X11 connection set-up within 2 seconds); running headless.\n"});
#endif
  for (const Case& c : cases) {
    int port = free_port();
    Program p({"--quiet", "--port", std::to_string(port), "--config", "../../atalla.conf"}, c.env,
              c.bin);
    ASSERT_TRUE(p.wait_for_output("Waiting for connections...\n")) << p.output();
    {
      TestClient client(port);
      ASSERT_TRUE(client.send_all("<00#probe#>\r"));
      EXPECT_EQ(client.read_replies(1), "<00#000035#probe#>\r\n");
    }
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 0);
    EXPECT_NE(("\n" + p.output()).find(c.line), std::string::npos) << c.env[0] << p.output();
  }
}

#if PALISIM_WINDOW
// SIGTERM while the probe waits for a display that never answers ends the
// program, and the probe's connection with it.
TEST(Program, SigtermEndsTheDisplayProbe) {
  ScriptedPeer silent({});
  Program p({"--port", "0"}, {"DISPLAY=127.0.0.1:" + std::to_string(silent.port() - 6000)});
  // The first connection only tells that something listens; the second greets.
  for (int i = 0; i < 3000 && silent.accepted() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(silent.accepted(), 2);
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 128 + SIGTERM);
  for (int i = 0; i < 3000 && !silent.client_left(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(silent.client_left());
}
#endif

// The port of the start-up line, once it is out; 0 when it never comes.
// A directory of its own for files, removed with them.
struct TempDir {
  std::string path = mkdtemp(std::string("/tmp/palisim-conf-XXXXXX").data());
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path + "/" + name) << text;
    return path + "/" + name;
  }
};

int announced_port(Program& p) {
  if (!p.wait_for_output(" config=")) return 0;
  std::string out = p.output();
  return std::atoi(out.c_str() + out.find(" port=", out.find("Palisim002 ready: ")) + 6);
}

TEST(Program, StartupLineTraceAndStatisticsOnSigusr1AndAtTheEnd) {
  Program p({"--headless", "--quiet", "--trace", "--interface", "localhost", "--port", "0",
             "--config", "../../atalla.conf"});
  int port = announced_port(p);
  ASSERT_GT(port, 0) << p.output();
  std::string banner =
      " interface=127.0.0.1 port=" + std::to_string(port) +
      " mfk=3FD5 commands=16 trace=masked config_loaded=yes config=../../atalla.conf";
  EXPECT_NE(p.output().find("Palisim002 ready: version=" PALISIM_VERSION + banner + "\n"),
            std::string::npos);
  {
    TestClient c(port);
    ASSERT_TRUE(
        c.send_all("<00#x#><30#1PUNE000,35DEC7FD540FED3FB857674618E45AA1A9EF8D31C895C115,"
                   "B3E41E6DEDE80F6A#1234#401234567890#>\r"));
    EXPECT_EQ(c.read_replies(2), "<00#000035#x#>\r\n<40#1B9C1845EB993A7A#>\r\n");
  }
  p.signal(SIGUSR1);
  EXPECT_TRUE(p.wait_for_output("\n  total               2          0 "));
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 0);
  std::string out = p.output();
  EXPECT_NE(out.find("B3E41E6DEDE80F6A#****#401234**7890#> -> <40#1B9C1845EB993A7A#> "),
            std::string::npos);
  // Printed on SIGUSR1 and again when the program ends.
  EXPECT_NE(out.find("Acceptor restarting...\nRequests by command:\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n  30                  1          0 "), std::string::npos);
}

TEST(Program, InjectRulesOfTheCommandLineApplyAndTheStartUpLineCountsThem) {
  Program p({"--headless", "--quiet", "--interface", "localhost", "--port", "0", "--config",
             "../../atalla.conf", "--inject", "00:reply=<00#set by a rule#>", "--inject",
             "5E:approve"});
  TestClient c(announced_port(p));
  EXPECT_NE(p.output().find(" trace=off inject=2 config_loaded=yes config=../../atalla.conf\n"
                            "Fault injection is on: 2 inject rules (0 from the file, 2 from "),
            std::string::npos)
      << p.output();
  ASSERT_TRUE(c.send_all("<00#x#>\r"));
  EXPECT_EQ(c.read_replies(1), "<00#set by a rule#>\r\n");
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 0);
}

TEST(Program, EnvironmentStandsForOptionsAndTheCommandLineWins) {
  Program p({"--headless", "--trace=full", "--config", "../../atalla.conf"},
            {"PALISIM_PORT=0", "PALISIM_INTERFACE=localhost", "PALISIM_CONFIG=no-such.conf"});
  int port = announced_port(p);
  EXPECT_GT(port, 0) << p.output();
  EXPECT_NE(p.output().find(" interface=127.0.0.1 port="), std::string::npos);
  EXPECT_NE(p.output().find(" trace=full config_loaded=yes config=../../atalla.conf\n"
                            "The request trace is full"),
            std::string::npos);
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 0);
  for (std::string bad : {"PALISIM_PORT=65536", "PALISIM_INTERFACE=10.0.0.1",
                          "PALISIM_CONFIG=", "PALISIM_METRICS=9464", "PALISIM_MFK=0123"}) {
    Program refused({"--headless"}, {bad});
    EXPECT_EQ(refused.wait_exit(), 2) << bad;
    EXPECT_NE(refused.output().find(" in " + bad.substr(0, bad.find('=')) + "\nusage:"),
              std::string::npos)
        << refused.output();
  }
}

// PALISIM_MFK stands for the file's mfk, and serves without a file, whose
// absence is said once at the start rather than at every connection.
TEST(Program, EnvironmentMfkStandsForTheFilesAndServesWithoutOne) {
  for (bool with_file : {false, true}) {
    TempDir dir;
    if (with_file) dir.write("atalla.conf", "atalla default { mfk = \"0123456789ABCDEF\" }\n");
    Program p({"--headless", "--quiet", "--interface", "localhost", "--port", "0"},
              {"PALISIM_MFK=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567"}, binary(), -1,
              dir.path);
    TestClient c(announced_port(p));
    ASSERT_TRUE(
        c.send_all("<30#1PUNE000,35DEC7FD540FED3FB857674618E45AA1A9EF8D31C895C115,"
                   "B3E41E6DEDE80F6A#1234#401234567890#>\r"));
    EXPECT_EQ(c.read_replies(1), "<40#1B9C1845EB993A7A#>\r\n");
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 0);
    std::string out = p.output();
    EXPECT_NE(out.find(std::string(" mfk=3FD5 commands=16 trace=off config_loaded=") +
                       (with_file ? "yes" : "no") +
                       " config=atalla.conf\nThe MFK comes from PALISIM_MFK.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("could not be read") == std::string::npos, with_file) << out;
    EXPECT_EQ(out.find("could not be read"), out.rfind("could not be read")) << out;
    EXPECT_EQ(out.find("no MFK"), std::string::npos) << out;
  }
}

bool echoes(TestClient& c) {
  return c.send_all("<00#x#>\r") && c.read_replies(1) == "<00#000035#x#>\r\n";
}

// Out of descriptors, a new client is closed at once and the loop goes on;
// an end of the loop that nobody asked for (poll refusing more descriptors
// than the limit) exits 4.
TEST(Program, OutOfDescriptorsShedsClientsAndAnUnaskedEndExitsFour) {
  int port = free_port();
  Program p(
      {"--headless", "--quiet", "--port", std::to_string(port), "--config", "../../atalla.conf"});
  ASSERT_TRUE(p.wait_for_output("Waiting for connections...\n")) << p.output();
  rlimit limit;
  ASSERT_EQ(prlimit(p.pid(), RLIMIT_NOFILE, nullptr, &limit), 0);
  auto set_limit = [&](rlim_t n) {
    limit.rlim_cur = n;
    return prlimit(p.pid(), RLIMIT_NOFILE, &limit, nullptr) == 0;
  };
  ASSERT_TRUE(set_limit(16));
  std::vector<std::unique_ptr<TestClient>> clients(20);
  int served = 0;
  for (auto& c : clients)
    served += echoes(*(c = std::make_unique<TestClient>(port)));
  EXPECT_TRUE(served > 2 && served < 20) << served;
  clients.clear();
  // Served again once others left; then ten, so poll is refused and a descriptor stays free.
  for (int i = 0; i < 100 && clients.size() < 10; ++i) {
    auto c = std::make_unique<TestClient>(port);
    if (echoes(*c)) clients.push_back(std::move(c));
    if (clients.size() == 1) set_limit(64);
  }
  ASSERT_EQ(clients.size(), 10u) << p.output();
  ASSERT_TRUE(set_limit(11));
  echoes(*clients[0]);
  EXPECT_EQ(p.wait_exit(), 4) << p.output();
  std::string out = p.output();
  EXPECT_NE(out.find(" at once: Too many open files (24)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("select() failed: Invalid argument (22)\n"), std::string::npos);
}

// Standard output a pipe: with its reader gone the program keeps serving;
// with a reader that stops reading, lines past the buffer are dropped, and
// their count is printed once the reader takes lines again.
TEST(Program, StandardOutputGoneOrFullDoesNotStopServing) {
  for (bool reader_stays : {false, true}) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    int port = free_port();
    Program p({"--headless", "--port", std::to_string(port), "--config", "../../atalla.conf"}, {},
              binary(), out[1]);
    close(out[1]);
    if (!reader_stays) close(out[0]);
    for (int i = 0; i < 3000 && !TestClient(port).connected(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 0; i < 500; ++i) {
      TestClient c(port);
      ASSERT_TRUE(echoes(c)) << i << p.output();
    }
    // The reader takes lines again: the count of those dropped shows; then
    // the lines of the stop follow it.
    bool dropped = !reader_stays;
    if (dropped) p.signal(SIGTERM);
    std::string text;
    char buf[65536];
    pollfd in{out[0], POLLIN, 0};
    for (ssize_t n = 1; reader_stays && n > 0 && poll(&in, 1, 10000) == 1;) {
      text.append(buf,
                  static_cast<size_t>(std::max<ssize_t>(0, n = read(out[0], buf, sizeof buf))));
      if (!dropped && (dropped = text.find(" diagnostic lines dropped\n") != std::string::npos))
        p.signal(SIGTERM);
    }
    EXPECT_TRUE(dropped);
    EXPECT_EQ(p.wait_exit(), 0);
    if (reader_stays) close(out[0]);
    EXPECT_EQ(reader_stays, text.find("Acceptor restarting...\n", text.find(" lines dropped\n")) !=
                                std::string::npos);
  }
}

// The start-up line names the TLS port; a key that does not match the
// certificate stops the start with exit 2 and one line, before listening.
TEST(Program, TlsPortInTheStartUpLineAndABadKeyExitsWithTwo) {
  char dir[] = "/tmp/palisim-tls-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string d = dir;
  ASSERT_EQ(std::system(("../../scripts/test-certs.sh " + d + " >/dev/null").c_str()), 0);
  for (const char* key : {"server.key", "client.key"}) {
    std::ofstream(d + "/tls.conf") << "tls_certificate = \"" << d << "/server.pem\"\n"
                                   << "tls_private_key = \"" << d << "/" << key << "\"\n";
    int tls_port = free_port();
    Program check(
        {"--check-config", "--tls-port", std::to_string(tls_port), "--config", d + "/tls.conf"});
    EXPECT_EQ(check.wait_exit(), std::string(key) == "server.key" ? 0 : 2) << check.output();
    Program p({"--headless", "--quiet", "--port", "0", "--tls-port", std::to_string(tls_port),
               "--config", d + "/tls.conf"});
    if (std::string(key) == "server.key") {
      ASSERT_GT(announced_port(p), 0) << p.output();
      EXPECT_NE(p.output().find(" tls_port=" + std::to_string(tls_port) + " mfk="),
                std::string::npos);
      p.signal(SIGTERM);
      EXPECT_EQ(p.wait_exit(), 0);
    } else {
      EXPECT_EQ(p.wait_exit(), 2);
      EXPECT_NE(p.output().find("tls_private_key '" + d +
                                "/client.key' does not match "
                                "tls_certificate '" +
                                d + "/server.pem': key values mismatch\n"),
                std::string::npos)
          << p.output();
      EXPECT_EQ(p.output().find("Establishing the listener"), std::string::npos);
    }
  }
  // tls_port = 0 binds a free port, --tls-port off none; a client CA that is
  // a FIFO is refused, not waited on.
  ASSERT_EQ(mkfifo((d + "/ca.fifo").c_str(), 0600), 0);
  const std::string conf = "tls_port = 0\ntls_certificate = \"" + d +
                           "/server.pem\"\ntls_private_key = \"" + d + "/server.key\"\n";
  std::ofstream(d + "/tls.conf") << conf;
  std::ofstream(d + "/fifo.conf") << conf << "tls_client_ca = \"" << d << "/ca.fifo\"\n";
  for (bool off : {false, true}) {
    std::vector<std::string> args = {"--headless", "--quiet",  "--port",
                                     "0",          "--config", d + "/tls.conf"};
    if (off) args.insert(args.end(), {"--tls-port", "off"});
    Program p(args);
    ASSERT_GT(announced_port(p), 0) << p.output();
    size_t at = p.output().find(" tls_port=");
    EXPECT_EQ(at == std::string::npos, off) << p.output();
    EXPECT_TRUE(off || TestClient(std::atoi(&p.output()[at + 10])).connected());
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 0);
  }
  Program fifo({"--check-config", "--config", d + "/fifo.conf"});
  EXPECT_EQ(fifo.wait_exit(), 2);
  EXPECT_NE(fifo.output().find("tls_client_ca '" + d + "/ca.fifo': not a regular file"),
            std::string::npos)
      << fifo.output();
  std::system(("rm -rf " + d).c_str());
}

// Standard output that refuses writes (/dev/full, a file at the size limit):
// the program keeps serving, is not killed by SIGXFSZ, and sleeps when idle
// instead of retrying the output (its count of write calls stays put).
TEST(Program, StandardOutputThatRefusesWritesDoesNotStopServing) {
  for (bool size_limit : {false, true}) {
    int port = free_port();
    Program p({"--headless", "--port", std::to_string(port), "--config", "../../atalla.conf"}, {},
              binary(), size_limit ? -1 : open("/dev/full", O_WRONLY | O_CLOEXEC));
    for (int i = 0; i < 3000 && !TestClient(port).connected(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rlimit limit{4096, RLIM_INFINITY};
    ASSERT_TRUE(!size_limit || prlimit(p.pid(), RLIMIT_FSIZE, &limit, nullptr) == 0);
    for (int i = 0; i < 200; ++i)
      ASSERT_TRUE(echoes(*std::make_unique<TestClient>(port))) << i;
    auto write_calls = [&p, key = std::string(), n = 0L]() mutable {
      std::ifstream io("/proc/" + std::to_string(p.pid()) + "/io");
      while (io >> key >> n && key != "syscw:") {
      }
      return n;
    };
    // Once idle, a half second passes with fewer than three write calls.
    bool quiet = false;
    for (int i = 0; i < 10 && !quiet; ++i) {
      long before = write_calls();
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      quiet = write_calls() - before < 3;
    }
    EXPECT_TRUE(quiet) << size_limit;
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait_exit(), 0) << size_limit;
  }
}

TEST(Program, PortInUseExitsWithThree) {
  BusyPort busy;
  ASSERT_NE(busy.port(), 0);
  Program p({"--headless", "--port", std::to_string(busy.port())});
  EXPECT_EQ(p.wait_exit(), 3);
  std::string out = p.output();
  EXPECT_NE(out.find("bind() failed: Address already in use (98)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("failed to SetupListener(): Address already in use (98)\n"),
            std::string::npos);
}

TEST(Program, HelpAndBadCommandLines) {
  Program help({"--help"});
  EXPECT_EQ(help.wait_exit(), 0);
  EXPECT_EQ(help.output().rfind("usage: Palisim002 [--headless]", 0), 0u) << help.output();
  for (std::vector<std::string> args : {std::vector<std::string>{"--port", "-1"},
                                        {"--port", "65536"},
                                        {"--port", "12x"},
                                        {"--interface", "10.0.0.1"},
                                        {"--config"},
                                        {"--inject", "31:bogus=1"},
                                        {"--config", std::string(1024, 'c')},
                                        {"--bogus"}}) {
    Program p(args);
    EXPECT_EQ(p.wait_exit(), 2) << args[0];
    EXPECT_NE(p.output().find("usage: Palisim002"), std::string::npos);
  }
}

// A page of docs/ as text.
std::string doc_page(const std::string& name) {
  std::ifstream in(std::string(PALISIM_SOURCE_DIR) + "/docs/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// docs/ shows both programs' --help output; it must stay word for word.
TEST(Program, DocsShowTheHelpTexts) {
  Program simulator({"--help"});
  EXPECT_EQ(simulator.wait_exit(), 0);
  EXPECT_NE(doc_page("running.md").find("$ build/Palisim002 --help\n" + simulator.output() + "```"),
            std::string::npos);

  // palisimstress is a program of its own; run it the same way.
  char path[] = "/tmp/palisim-help-XXXXXX";
  int out = mkstemp(path);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out, 1);
    std::string bin = std::string(PALISIM_BINARY_DIR) + "/palisimstress";
    execl(bin.c_str(), bin.c_str(), "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(out);
  std::ifstream help_in(path);
  std::stringstream help;
  help << help_in.rdbuf();
  unlink(path);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(doc_page("stress.md").find("$ build/palisimstress --help\n" + help.str() + "```"),
            std::string::npos);
}

// Palisim002 and its configuration file: --check-config on broken files, a
// named file that is missing or refused stops the start, an unnamed one is
// served on the defaults, and SIGHUP has the next connection read it again.
TEST(ConfigRefusal, CheckModeNamesEachProblemAndItsLine) {
  std::string sections;
  for (int i = 0; i <= 64; ++i)
    sections += "atalla s" + std::to_string(i) + " { }\n";
  const std::pair<std::string, std::string> cases[] = {
      {"port = 0\n", ":1: invalid port 0 in section 'root'"},
      {"port = 7000\nopt2l = false\n", ":2: no such option 'opt2l'"},
      {"\natalla default {\n  mfk = \"0123\"\n}\n",
       ":3: keys must be 16, 32, or 48 hex digits in length"},
      {"atalla a { }\n# a\natalla A { }\n", ":3: found duplicate title 'A'"},
      {sections, ":65: more than 64 atalla sections"},
      {"port = 7000\n/* open\natalla default { mfk = \"0123\" }\n",
       ":2: comment never closed: '/*' without '*/' hides the rest of the file"},
      {"atalla default {\n  opt21 = true\n", ":1: section never closed: '{' without '}'"},
      // Every refused value of one parse, each on its line.
      {"port = 0\ntls_port = 70000\nmetrics = \"x\"\nidle_timeout = -1\natalla default {\n"
       "mfk = \"0123\"\npmfk = \"1\"\nopta0 = 99\nopta1 = \"q\"\nopta2 = \"z\"\n}\n",
       ":1: invalid port 0 in section 'root'\n:2: invalid tls_port 70000 (1 to 65535, or 0 for a "
       "free port)\n:3: metrics must be ADDRESS:PORT with a port of 1 to 65535\n:4: idle timeout "
       "must be 0 to 86400 seconds\n:6: keys must be 16, 32, or 48 hex digits in length\n:7: "
       "keys must be 16, 32, or 48 hex digits in length\n:8: min PIN len must be 4 to 12\n:9: "
       "PIN sanity indicator must be S or L\n:10: second PIN indicator must be B, D or S"},
  };
  TempDir dir;
  for (const auto& [text, problems] : cases) {
    const std::string path = dir.write("test.conf", text);
    std::string expected;
    std::istringstream lines(problems);
    for (std::string line; std::getline(lines, line);)
      expected += path + line + "\n";
    expected += path + ": refused: the server would not load it\n";
    Program p({"--check-config", "--config", path});
    EXPECT_EQ(p.wait_exit(), 2) << problems;
    EXPECT_EQ(p.output(), expected);
    Program start({"--headless", "--port", "0", "--config", path});
    EXPECT_EQ(start.wait_exit(), 2) << problems;
  }
  // What the file allows but a start would refuse, the check refuses too.
  ASSERT_EQ(mkfifo((dir.path + "/fifo.pem").c_str(), 0600), 0);
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"--metrics", "nonsense.invalid:9464"}, "metrics address 'nonsense.invalid:9464': "},
      {{"--tls-port", "0"}, "tls_certificate '" + dir.path + "/fifo.pem': not a regular file"},
  };
  for (const auto& [args, refusal] : refusals) {
    const std::string path = dir.write(
        "test.conf", "tls_certificate = \"" + dir.path + "/fifo.pem\"\ntls_private_key = \"k\"\n");
    std::vector<std::string> check = {"--check-config", "--config", path};
    check.insert(check.end(), args.begin(), args.end());
    Program p(check);
    EXPECT_EQ(p.wait_exit(), 2) << refusal;
    EXPECT_EQ(p.output().rfind(path + ": refused: " + refusal, 0), 0u) << p.output();
    check[0] = "--headless";
    Program start(check);
    EXPECT_EQ(start.wait_exit(), 2) << refusal;
    EXPECT_NE(start.output().find(refusal), std::string::npos) << start.output();
  }
  const std::string path =
      dir.write("test.conf",
                "port = 7100\natalla default { mfk = \"0123456789ABCDEFFEDCBA9876543210\"\n"
                "inject { command = \"31\" close = true } }\n");
  Program ok({"--check-config", "--config", path, "--inject", "00:latency_ms=1"});
  EXPECT_EQ(ok.wait_exit(), 0);
  EXPECT_EQ(ok.output(),
            path + ": OK: port 7100, interface any, mfk 08D7, 2 inject rules, trace off\n");
}

// Named by option or environment, a missing file (its path of 1023 bytes used
// whole) or a refused one binds nothing; a line feed in a path is escaped in
// the start-up line.
TEST(ConfigRefusal, NamedFileMissingOrRefusedStopsTheStart) {
  TempDir dir;
  const std::string whole = "/" + std::string(1022, 'x');
  for (const std::string& path :
       {whole, dir.write("test.conf", "atalla default { mfk = \"0\" }")}) {
    Program by_option({"--headless", "--port", "0", "--config", path});
    EXPECT_EQ(by_option.wait_exit(), 2);
    Program by_environment({"--headless", "--port", "0"}, {"PALISIM_CONFIG=" + path});
    EXPECT_EQ(by_environment.wait_exit(), 2);
    EXPECT_EQ(by_environment.output().find("Establishing the listener"), std::string::npos);
    EXPECT_NE(
        by_environment.output().find(path + (path == whole ? "' could not be read\n" : ":1: keys")),
        std::string::npos);
  }
  Program p({"--headless", "--quiet", "--port", "0", "--config", dir.write("a\nb.conf", "")});
  ASSERT_GT(announced_port(p), 0) << p.output();
  EXPECT_NE(p.output().find(" config=" + dir.path + "/a\\nb.conf\n"), std::string::npos);
}

// Unnamed, the working directory's refused file is served on the defaults,
// said once; the start-up line stays a line of its own. SIGHUP has the next
// connection parse the unchanged file again, and does not end the program.
TEST(ConfigRefusal, UnnamedRefusedFileIsServedOnDefaultsAndRereadOnSighup) {
  TempDir dir;
  dir.write("atalla.conf", "atalla default {\n  mfk = \"0123\"\n}\n");
  Program p({"--headless", "--quiet", "--interface", "localhost", "--port", "0"}, {}, binary(), -1,
            dir.path);
  const std::string refusal = "atalla.conf:2: keys must be 16, 32, or 48 hex digits in length\n";
  int port = announced_port(p);
  ASSERT_GT(port, 0) << p.output();
  EXPECT_EQ(p.output().rfind(refusal + "Serving on the defaults: atalla.conf was refused.\n"
                                       "Establishing the listener",
                             0),
            0u)
      << p.output();
  p.signal(SIGHUP);
  ASSERT_TRUE(
      p.wait_for_output("SIGHUP: the next connection reads the configuration file afresh.\n"));
  TestClient c(port);
  ASSERT_TRUE(
      p.wait_for_output(" has no MFK: atalla.conf:2 was refused (keys must be 16, 32, or 48 hex "
                        "digits in length).\n"));
  EXPECT_NE(p.output().find(refusal), p.output().rfind(refusal));
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait_exit(), 0);
}

}  // namespace
}  // namespace palisim::testing
