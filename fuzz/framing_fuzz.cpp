// The stream framing fed arbitrary bytes in arbitrary chunks. Input: a list
// of [length byte][that many bytes] chunks. The framing, called after each
// chunk as reads arrive, must find exactly the requests that the bytes hold
// on complete lines, in order; and a connection fed the same chunks must
// answer each of them once, in order.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "protocol/framing.h"
#include "server/connection.h"

namespace {

// Requests on complete lines, counted the simple way.
int count_requests(const std::string& bytes) {
  int count = 0;
  size_t line_start = 0;
  for (size_t cr; (cr = bytes.find('\r', line_start)) != std::string::npos; line_start = cr + 1) {
    size_t pos = line_start;
    for (;;) {
      size_t open = bytes.find('<', pos);
      if (open == std::string::npos || open >= cr) break;
      size_t close = bytes.find('>', open + 1);
      if (close == std::string::npos || close >= cr) break;
      ++count;
      pos = close + 1;
    }
  }
  return count;
}

// Cuts the complete lines out of `pending` and counts their requests,
// checking each span; what follows the last carriage return stays.
int frame(std::string& pending) {
  std::span<const char> bytes(pending.data(), pending.size());
  int count = 0;
  int32_t consumed = 0;
  while (std::optional<palisim::ByteSpan> line = palisim::next_line(bytes, consumed)) {
    FUZZ_CHECK(line->begin == consumed && line->end > line->begin && bytes[line->end - 1] == '\r');
    FUZZ_CHECK(std::memchr(&bytes[line->begin], '\r', line->size() - 1) == nullptr);
    int32_t pos = line->begin;
    while (std::optional<palisim::ByteSpan> r = palisim::next_request(bytes, *line, pos)) {
      FUZZ_CHECK(r->begin >= pos && r->end <= line->end && r->size() >= 2);
      FUZZ_CHECK(bytes[r->begin] == '<' && bytes[r->end - 1] == '>');
      FUZZ_CHECK(std::memchr(&bytes[pos], '<', r->begin - pos) == nullptr);
      FUZZ_CHECK(std::memchr(&bytes[r->begin], '>', r->size() - 1) == nullptr);
      ++count;
      pos = r->end;
    }
    consumed = line->end;
  }
  FUZZ_CHECK(palisim::unended_start(bytes) == consumed);
  pending.erase(0, static_cast<size_t>(consumed));
  return count;
}

// Sends what the connection has queued and collects it on the peer's side.
void drain(palisim::Connection& c, int peer, std::string& received) {
  while (!c.pending_output().empty()) {
    FUZZ_CHECK(c.on_writable(0) == palisim::Verdict::kKeep);
    char buf[65536];
    ssize_t n;
    while ((n = recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
      received.append(buf, static_cast<size_t>(n));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) return 0;
  auto c = std::make_unique<palisim::Connection>();
  c->open(pair[0], palisim::Settings{}, {});
  std::string fed, pending, received;
  int framed = 0;
  bool open = true;
  size_t pos = 0;
  while (pos < size && open) {
    size_t chunk = data[pos++];
    chunk = std::min(chunk, size - pos);
    // Like recv, take no more than the input buffer has room for.
    while (chunk > 0 && open) {
      size_t take = std::min(chunk, static_cast<size_t>(c->input_room()));
      FUZZ_CHECK(take > 0);
      const char* bytes = reinterpret_cast<const char*>(data + pos);
      fed.append(bytes, take);
      pending.append(bytes, take);
      framed += frame(pending);
      pos += take;
      chunk -= take;
      open = c->on_received({bytes, take}, 0) == palisim::Verdict::kKeep;
      if (open) drain(*c, pair[1], received);
    }
  }
  FUZZ_CHECK(framed == count_requests(fed));
  if (open) {
    // Only complete lines are answered; a closed connection drops the rest.
    size_t replies = 0;
    for (size_t i = 0; i + 2 < received.size() + 1; ++i) {
      if (received.compare(i, 3, ">\r\n") == 0) ++replies;
    }
    FUZZ_CHECK(static_cast<int>(replies) == framed);
    FUZZ_CHECK(received.empty() || received[0] == '<');
  }
  c->close(palisim::CloseCause::kPeerClosed);
  close(pair[1]);
  return 0;
}
