// 64 clients at once, each pipelining 5,000 requests of every command, valid
// and malformed; some read slowly, some hang up midway. Every reply is
// checked, in order, against what dispatch answers in-process under the same
// settings, and the server's heap ends where it began.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "heap_in_use.h"
#include "sample_configuration.h"
#include "sample_requests.h"
#include "soak_client.h"
#include "test_client.h"

namespace palisim::testing {
namespace {

constexpr int kClients = 64;
constexpr int kRequestsPerClient = 5000;
// Heap growth allowed across the soak: nothing per connection or request may stay.
constexpr long kHeapSlack = 16 * 1024;

SoakStyle style_of(int client) {
  switch (client % 8) {
    case 0:
      return SoakStyle::kSlowReader;
    case 1:
      return SoakStyle::kHangUp;
    case 2:
      return SoakStyle::kReset;
    default:
      return SoakStyle::kFast;
  }
}

// Requests drawn at random from every sample, one to three to a line, some
// lines ended by CR LF (the LF belongs to no request).
SoakScript make_script(int client, size_t sample_count) {
  std::mt19937 draw(static_cast<unsigned>(7919 * (client + 1)));
  std::uniform_int_distribution<size_t> pick(0, sample_count - 1);
  std::uniform_int_distribution<int> per_line(1, 3);
  const std::vector<SampleRequest>& samples = sample_requests();
  SoakScript script;
  while (script.expected.size() < static_cast<size_t>(kRequestsPerClient)) {
    int n = per_line(draw);
    for (int i = 0; i < n && script.expected.size() < static_cast<size_t>(kRequestsPerClient);
         ++i) {
      size_t k = pick(draw);
      script.stream += samples[k].text;
      script.expected.push_back(static_cast<int>(k));
    }
    script.stream += (n == 3) ? "\r\n" : "\r";
  }
  return script;
}

// Every sample once over each of kClients connections at once, so that
// whatever the server and the client threads set up on first use is in place
// before the heap is measured.
void warm_up(int port, const std::vector<ExpectedReply>& replies) {
  SoakScript script;
  for (size_t k = 0; k < sample_requests().size(); ++k) {
    script.stream += sample_requests()[k].text + "\r";
    script.expected.push_back(static_cast<int>(k));
  }
  std::vector<SoakOutcome> outcomes(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back(
        [&, i] { outcomes[i] = run_soak_client(port, script, SoakStyle::kFast, replies); });
  }
  for (std::thread& t : clients)
    t.join();
  for (const SoakOutcome& out : outcomes) {
    ASSERT_EQ(out.replies_checked, static_cast<int>(script.expected.size()));
    ASSERT_EQ(out.mismatches, 0) << out.first_mismatch;
  }
}

// The heap while one idle client holds a connection. The server answers the
// client only after it has freed the connections whose close it reported, so
// the reading is not taken halfway through a close.
size_t heap_beside_idle_client(int port) {
  TestClient probe(port);
  EXPECT_TRUE(probe.send_all("<00#probe#>\r"));
  EXPECT_EQ(probe.read_replies(1), "<00#000035#probe#>\r\n");
  return heap_in_use();
}

long peak_rss_kib() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib;
}

TEST(Soak, SixtyFourPipeliningClientsGetEveryReplyInOrder) {
  SampleConfigurationFile conf;
  Settings s;
  ASSERT_TRUE(load_settings(s, conf.path(), "default"));
  std::vector<ExpectedReply> replies;
  for (const SampleRequest& r : sample_requests())
    replies.emplace_back(s, r.text);
  std::vector<SoakScript> scripts;
  for (int i = 0; i < kClients; ++i)
    scripts.push_back(make_script(i, replies.size()));

  DiagCapture diag;
  TestServer server(conf.path());
  ASSERT_GT(server.port(), 0);
  warm_up(server.port(), replies);
  ASSERT_TRUE(server.wait_closed(kClients));
  std::vector<SoakOutcome> outcomes(kClients);
  std::vector<std::thread> clients;
  clients.reserve(kClients);
  const size_t heap_before = heap_beside_idle_client(server.port());

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back(
        [&, i] { outcomes[i] = run_soak_client(server.port(), scripts[i], style_of(i), replies); });
  }
  for (std::thread& t : clients)
    t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(server.wait_closed(2 * kClients + 1));
  const size_t heap_after = heap_beside_idle_client(server.port());

  long checked = 0;
  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE("client " + std::to_string(i));
    const SoakOutcome& out = outcomes[i];
    checked += out.replies_checked;
    EXPECT_FALSE(out.timed_out);
    EXPECT_FALSE(out.closed_early);
    EXPECT_EQ(out.mismatches, 0) << out.first_mismatch;
    EXPECT_EQ(out.extra_bytes, 0u);
    SoakStyle style = style_of(i);
    if (style == SoakStyle::kHangUp || style == SoakStyle::kReset) {
      EXPECT_GE(out.replies_checked, kRequestsPerClient / 3);
      EXPECT_LT(out.replies_checked, kRequestsPerClient);
    } else {
      EXPECT_EQ(out.replies_checked, kRequestsPerClient);
    }
  }
  EXPECT_LE(static_cast<long>(heap_after) - static_cast<long>(heap_before), kHeapSlack);
  std::printf(
      "soak: %d clients, %ld replies checked in %.2f s; heap %zu -> %zu bytes; peak RSS %ld KiB\n",
      kClients, checked, seconds, heap_before, heap_after, peak_rss_kib());
}

}  // namespace
}  // namespace palisim::testing
