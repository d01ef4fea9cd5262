// A connection's stream framing fed arbitrary bytes in arbitrary chunks.
// Input: a list of [length byte][that many bytes] chunks. Every request that
// the bytes hold on complete lines must get exactly one reply, in order.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
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

// Sends what the connection has queued and collects it on the peer's side.
void drain(palisim::Connection& c, int peer, std::string& received) {
  while (c.has_output()) {
    FUZZ_CHECK(palisim::write_to_connection(c) == palisim::kKeep);
    char buf[65536];
    ssize_t n;
    while ((n = recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
      received.append(buf, static_cast<size_t>(n));
    }
    if (c.resume) {
      c.resume = false;
      palisim::process_input_lines(c);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0) return 0;
  static palisim::ConnectionTable table;
  palisim::Connection* c = palisim::open_connection_slot(table, pair[0], palisim::Settings{});
  std::string fed, received;
  size_t pos = 0;
  while (pos < size && !c->overlong) {
    size_t chunk = data[pos++];
    chunk = std::min(chunk, size - pos);
    // Like recv, take no more than the input buffer has room for.
    while (chunk > 0 && !c->overlong) {
      size_t room = static_cast<size_t>(palisim::kInputCapacity - c->in_len);
      size_t take = std::min(chunk, room);
      FUZZ_CHECK(take > 0 || c->held_len != 0 || c->has_output());
      std::memcpy(c->bufs->input + c->in_len, data + pos, take);
      c->in_len += static_cast<int32_t>(take);
      fed.append(reinterpret_cast<const char*>(data + pos), take);
      pos += take;
      chunk -= take;
      palisim::process_input_lines(*c);
      FUZZ_CHECK(c->in_len <= palisim::kInputCapacity);
      FUZZ_CHECK(c->out_len <= palisim::kOutputCapacity);
      drain(*c, pair[1], received);
      FUZZ_CHECK(c->held_len == 0);
    }
  }
  if (!c->overlong) {
    // Only complete lines are answered; a closed connection drops the rest.
    size_t replies = 0;
    for (size_t i = 0; i + 2 < received.size() + 1; ++i) {
      if (received.compare(i, 3, ">\r\n") == 0) ++replies;
    }
    FUZZ_CHECK(static_cast<int>(replies) == count_requests(fed));
    FUZZ_CHECK(received.empty() || received[0] == '<');
  }
  palisim::close_connection_slot(*c);
  close(pair[1]);
  return 0;
}
