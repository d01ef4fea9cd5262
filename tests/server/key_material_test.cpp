// Keys, derived keys, PIN blocks and clear PINs do not outlive the request:
// not on the stack a handler ran on, not in the reply buffer beyond the
// reply, not in the buffers a connection reuses; nor do they show in the
// request trace unless it is full. The keys a connection's cache holds do not
// outlive the connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crypto/key_cache.h"
#include "crypto/wrapping_key.h"
#include "dispatch/command_table.h"
#include "hex_text.h"
#include "painted_stack.h"
#include "sample_configuration.h"
#include "sample_requests.h"
#include "server/connection.h"
#include "trace_capture.h"

// Every allocation goes through malloc and free here, so that the bytes of
// one watched block can be copied out as they are when it is freed.
namespace {

const void* watched_block = nullptr;
std::vector<char>* freed_copy = nullptr;  // sized beforehand: no allocation while freeing

void keep_if_watched(void* p) {
  if (p == nullptr || p != watched_block) return;
  std::memcpy(freed_copy->data(), p, freed_copy->size());
  watched_block = nullptr;
}

}  // namespace

void* operator new(size_t n) {
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  keep_if_watched(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  keep_if_watched(p);
  std::free(p);
}

namespace palisim::testing {
namespace {

constexpr size_t kStackSize = 1 << 20;

// Every 8-byte piece of secret that a leftover would show: each 8-byte part
// of each key and clear PIN block, the MFK and the two keys derived from it,
// and the first 8 digits of each clear PIN.
class SecretPieces {
 public:
  explicit SecretPieces(const Settings& s) {
    for (const std::string& hex : sample_secrets().key_hex)
      add_parts(bytes_from_hex(hex), hex);
    uint8_t derived[24];
    add_parts(std::string(reinterpret_cast<const char*>(s.mfk.data()), 24), "the MFK");
    block_encryption_key(s.mfk.data(), kMfkWrappingLen, derived);
    add_parts(std::string(reinterpret_cast<char*>(derived), 24), "the MFK's encryption key");
    block_mac_key(s.mfk.data(), kMfkWrappingLen, derived);
    add_parts(std::string(reinterpret_cast<char*>(derived), 24), "the MFK's MAC key");
    for (const std::string& pin : sample_secrets().pins)
      pieces_.emplace(pin.substr(0, 8), "clear PIN " + pin);
  }

  // The secrets that the bytes hold anywhere, one entry per place.
  std::vector<std::string> find_in(std::string_view bytes) const {
    std::vector<std::string> found;
    for (size_t at = 0; at + 8 <= bytes.size(); ++at) {
      auto it = pieces_.find(std::string(bytes.substr(at, 8)));
      if (it != pieces_.end()) found.push_back(it->second + " at " + std::to_string(at));
    }
    return found;
  }

 private:
  void add_parts(const std::string& bytes, const std::string& label) {
    for (size_t at = 0; at + 8 <= bytes.size(); at += 8)
      pieces_.emplace(bytes.substr(at, 8), label);
  }

  std::unordered_map<std::string, std::string> pieces_;
};

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items)
    out += item + "; ";
  return out;
}

struct DispatchJob {
  const Settings* settings;
  std::string request;  // on the heap, not on the painted stack
  std::vector<char> reply;
  int32_t reply_len = 0;
};

void dispatch_job(void* arg) {
  auto* job = static_cast<DispatchJob*>(arg);
  ReplyBuffer r{std::span<char>(job->reply), 0};
  KeyCache keys;
  dispatch_request(*job->settings, keys, job->request.data(),
                   static_cast<int32_t>(job->request.size()), r);
  job->reply_len = r.len;
}

// A function that forgets to wipe a key, to show that the scan finds one.
struct CarelessJob {
  std::string key;
};

void careless_job(void* arg) {
  volatile char copy[8];
  const std::string& key = static_cast<CarelessJob*>(arg)->key;
  for (size_t i = 0; i < sizeof copy; ++i)
    copy[i] = key[i];
}

TEST(KeyMaterial, ScanFindsAKeyLeftOnTheStack) {
  const Settings s = sample_settings();
  SecretPieces secrets(s);
  PaintedStack stack(kStackSize);
  CarelessJob job{std::string("\x04\x26\x66\xB4\x91\x84\xCF\x5C", 8)};  // half of a PIN key
  ASSERT_TRUE(stack.run(careless_job, &job));
  EXPECT_FALSE(secrets.find_in(stack.used()).empty());
}

TEST(KeyMaterial, NoHandlerLeavesASecretOnItsStack) {
  const Settings s = sample_settings();
  SecretPieces secrets(s);
  PaintedStack stack(kStackSize);
  for (const SampleRequest& sample : sample_requests()) {
    DispatchJob job{&s, sample.text, std::vector<char>(kReplyCapacity), 0};
    ASSERT_TRUE(stack.run(dispatch_job, &job));
    EXPECT_EQ(joined(secrets.find_in(stack.used())), "") << sample.name;
  }
}

TEST(KeyMaterial, HandlersWriteNothingBeyondTheReply) {
  const Settings s = sample_settings();
  for (const SampleRequest& sample : sample_requests()) {
    std::vector<char> reply(kReplyCapacity, '\x5A');
    ReplyBuffer r{std::span<char>(reply), 0};
    std::string text = sample.text;
    KeyCache keys;
    dispatch_request(s, keys, text.data(), static_cast<int32_t>(text.size()), r);
    ASSERT_GT(r.len, 0) << sample.name;
    EXPECT_EQ(std::string(reply.begin() + r.len, reply.end()),
              std::string(reply.size() - static_cast<size_t>(r.len), '\x5A'))
        << sample.name;
  }
}

// Sends what the connection has queued and reads it on the peer's side.
void deliver(Connection& c, int peer) {
  char buf[65536];
  while (!c.pending_output().empty()) {
    ASSERT_EQ(c.on_writable(0), Verdict::kKeep);
    while (recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }
}

TEST(KeyMaterial, ConnectionBuffersHoldNoSecretOnceRepliesAreSent) {
  const Settings s = sample_settings();
  SecretPieces secrets(s);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  auto c = std::make_unique<Connection>();
  c->open(pair[0], s, {});
  // A clear PIN in a request, then one in a reply, then short requests.
  const std::string& pin_in_request = sample_text("30_twelve_digits_echo");
  const std::string& pin_in_reply = sample_text("90_eight_digits");
  ASSERT_FALSE(pin_in_request.empty() || pin_in_reply.empty());
  const std::string stream = pin_in_request + "\r" + pin_in_reply + "\r<00#a#>\r<zz#>\r";
  c->on_received(stream, 0);
  deliver(*c, pair[1]);
  EXPECT_EQ(c->input_room(), kInputCapacity);

  const ConnectionBuffers& bufs = *c->buffers();
  EXPECT_EQ(joined(secrets.find_in({bufs.input, sizeof bufs.input})), "");
  EXPECT_EQ(joined(secrets.find_in({bufs.output, sizeof bufs.output})), "");
  EXPECT_EQ(joined(secrets.find_in({bufs.reply, sizeof bufs.reply})), "");
  c->close(CloseCause::kPeerClosed);
  close(pair[1]);
}

// Clear keys, the MFK and clear PINs as the trace would write them: each
// 16-digit part of their hex text, and the PINs' digits.
TEST(KeyMaterial, MaskedTraceShowsNoKeyMfkOrClearPin) {
  std::vector<std::string> secrets = sample_secrets().pins;
  for (const std::string& hex : sample_secrets().key_hex)
    for (size_t at = 0; at + 16 <= hex.size(); at += 16)
      secrets.push_back(hex.substr(at, 16));
  for (size_t at = 0; at < 48; at += 16)
    secrets.push_back(std::string(kSampleMfkHex).substr(at, 16));
  auto found_in = [&](const std::string& text) {
    std::string found;
    for (const std::string& secret : secrets)
      if (text.find(secret) != std::string::npos) found += secret + "; ";
    return found;
  };
  std::vector<std::string> lines;
  for (const SampleRequest& sample : sample_requests()) {
    // Command 11B's samples send a test key's digits as the enciphered key.
    if (sample.text.substr(0, 5) != "<11B#" && sample.text.substr(0, 5) != "<11b#")
      lines.push_back(sample.text + "\r");
  }
  std::string masked = served_trace(lines, TraceMode::kMasked);
  EXPECT_EQ(std::count(masked.begin(), masked.end(), '\n'), static_cast<ptrdiff_t>(lines.size()));
  EXPECT_EQ(found_in(masked), "");
  // The full trace shows them, so the scan does find what is there.
  EXPECT_NE(found_in(served_trace(lines, TraceMode::kFull)), "");
}

TEST(KeyMaterial, ClosingAConnectionLeavesNoKeyItsCacheHeld) {
  const Settings settings = sample_settings();
  SecretPieces secrets(settings);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  auto c = std::make_unique<Connection>();
  c->open(pair[0], settings, {});
  for (const SampleRequest& sample : sample_requests()) {
    const std::string line = sample.text + "\r";
    if (!sample.valid() || line.size() > static_cast<size_t>(kInputCapacity)) continue;
    c->on_received(line, 0);
    deliver(*c, pair[1]);
  }
  const KeyCache& keys = c->buffers()->keys;
  EXPECT_NE(joined(secrets.find_in({reinterpret_cast<const char*>(&keys), sizeof keys})), "")
      << "the cache holds keys while the connection is open";

  std::vector<char> freed(sizeof(ConnectionBuffers));
  freed_copy = &freed;
  watched_block = c->buffers();
  c->close(CloseCause::kPeerClosed);
  close(pair[1]);
  EXPECT_EQ(watched_block, nullptr) << "the buffers were freed";
  EXPECT_EQ(joined(secrets.find_in({freed.data(), freed.size()})), "");
}

}  // namespace
}  // namespace palisim::testing
