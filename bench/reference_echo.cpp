// reference_echo: the floor for the end-to-end figures. A minimal poll-loop
// server on 127.0.0.1 that answers every carriage return it receives with
// one fixed reply (the simulator's answer to the stress client's default
// echo command) and parses nothing.
//
//   reference_echo --port N     serves until killed; N = 0 picks a free port
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kReply[] = "<00#000035#Sent for testing throughput...#>\r\n";
constexpr size_t kReplyLen = sizeof kReply - 1;
constexpr int kMaxClients = 64;
constexpr size_t kOutputCapacity = 64 * 1024;

struct Client {
  int fd = -1;                               // -1 when the slot is free
  unsigned long owed = 0;                    // replies due but not yet in output
  std::array<char, kOutputCapacity> output;  // reply bytes not yet sent
  size_t out_start = 0;                      // first unsent byte of output
  size_t out_len = 0;                        // end of the bytes held in output
};

std::array<Client, kMaxClients> g_clients;

bool would_block(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

void drop(Client& c) {
  close(c.fd);
  c.fd = -1;
  c.owed = c.out_start = c.out_len = 0;
}

// Moves owed replies into output as far as they fit, then sends what it can.
bool flush(Client& c) {
  if (c.out_start == c.out_len) c.out_start = c.out_len = 0;
  while (c.owed > 0 && kOutputCapacity - c.out_len >= kReplyLen) {
    std::memcpy(c.output.data() + c.out_len, kReply, kReplyLen);
    c.out_len += kReplyLen;
    --c.owed;
  }
  while (c.out_start < c.out_len) {
    ssize_t n = send(c.fd, c.output.data() + c.out_start, c.out_len - c.out_start, MSG_NOSIGNAL);
    if (n < 0) return would_block(errno);
    c.out_start += static_cast<size_t>(n);
  }
  return true;
}

bool serve_readable(Client& c) {
  char chunk[16 * 1024];
  ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
  if (n == 0) return false;
  if (n < 0) return would_block(errno);
  c.owed += static_cast<unsigned long>(std::count(chunk, chunk + n, '\r'));
  return flush(c);
}

void accept_client(int listener) {
  int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (Client& c : g_clients) {
    if (c.fd < 0) {
      c.fd = fd;
      return;
    }
  }
  close(fd);
}

int open_listener(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, kMaxClients) != 0) {
    std::perror("reference_echo: bind/listen");
    std::exit(3);
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  std::printf("reference_echo listening on 127.0.0.1:%d\n", ntohs(sa.sin_port));
  std::fflush(stdout);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--port") != 0) {
    std::fprintf(stderr, "usage: reference_echo --port N\n");
    return 2;
  }
  int listener = open_listener(std::atoi(argv[2]));
  std::array<pollfd, kMaxClients + 1> fds{};
  std::array<Client*, kMaxClients + 1> owners{};
  for (;;) {
    int n = 0;
    fds[n++] = {listener, POLLIN, 0};
    for (Client& c : g_clients) {
      if (c.fd < 0) continue;
      // Read only while every reply due has been sent: the client's own
      // pace holds the server back, as a full output buffer would.
      bool pending = c.owed > 0 || c.out_start < c.out_len;
      owners[n] = &c;
      fds[n++] = {c.fd, static_cast<short>(pending ? POLLOUT : POLLIN), 0};
    }
    if (poll(fds.data(), static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("reference_echo: poll");
      return 1;
    }
    if (fds[0].revents & POLLIN) accept_client(listener);
    for (int i = 1; i < n; ++i) {
      short ev = fds[i].revents;
      if (ev == 0) continue;
      Client& c = *owners[i];
      bool keep = (ev & POLLOUT) ? flush(c) : !(ev & (POLLERR | POLLNVAL)) && serve_readable(c);
      if (!keep) drop(c);
    }
  }
}
