// A loopback server whose answers the test scripts: replies held and merged
// into one send, cut into small pieces, delayed, chosen by the request,
// cut off after a few answers, or the connection closed or reset mid-run;
// several connections, and more turned away at once. It records what the
// clients sent and when they left.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace palisim::stress::testing {

// The reply to each request, holding exactly one '>'.
inline constexpr char kReply[] = "<00#000035#Sent for testing throughput...#>\r\n";

struct ServerScript {
  const char* reply = kReply;
  int batch = 1;                  // replies wait until this many requests do (or input is quiet)
  size_t piece_len = 0;           // 0: no limit; else pieces of at most this size
  bool cut_at_marks = false;      // a piece also ends before every '>', CR and LF
  int answer_limit = -1;          // requests answered at most; -1: all
  int close_after_requests = -1;  // end the connection once this many have arrived; -1: never
  bool reset = false;             // end it with a reset instead of an end of stream
  int receive_buffer = 0;         // SO_RCVBUF of the connection; 0: the system's default
  int connections = 1;            // connections served at once
  int turned_away = 0;            // connections accepted after those and closed at once
  int delay_ms = 0;               // pause before each reply
  // Replies to requests that start with the first text; others get reply.
  std::vector<std::pair<std::string, std::string>> replies_by_start;
};

struct ServerRecord {
  std::string received;            // every byte the client sent
  int requests = 0;                // carriage returns received
  int replies = 0;                 // replies whose '>' went out
  int max_waiting = 0;             // most requests received but not yet answered
  int replies_at_client_end = -1;  // replies sent when the client ended its stream; -1: it did not
  int sent_before_line_end = 0;    // times the client sent while a reply lacked its CR
};

class ScriptedServer {
 public:
  explicit ScriptedServer(ServerScript script) : script_(script) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    // Set on the listener so the accepted socket advertises the small window from the start.
    if (script_.receive_buffer > 0) {
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &script_.receive_buffer,
                 sizeof script_.receive_buffer);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(listener_, 1024);
    socklen_t len = sizeof sa;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }

  // Waits until the connection is over (the client gone, or a 10 s idle limit).
  const ServerRecord& finish() {
    if (thread_.joinable()) thread_.join();
    return record_;
  }

 private:
  static constexpr int kIdleMs = 10000;
  static constexpr int kQuietMs = 200;

  struct Peer {
    int fd;
    int waiting = 0;                // requests not yet answered
    std::string line;               // the request being received
    std::vector<const char*> owed;  // the replies of the waiting requests
  };

  void serve() {
    std::vector<Peer> peers;
    int accepted = 0;
    int total = script_.connections + script_.turned_away;
    for (;;) {
      std::vector<pollfd> fds{{listener_, static_cast<short>(accepted < total ? POLLIN : 0), 0}};
      bool waiting = false;
      for (const Peer& p : peers) {
        fds.push_back({p.fd, POLLIN, 0});
        waiting = waiting || p.waiting > 0;
      }
      if (peers.empty() && accepted == total) break;
      int ready = poll(fds.data(), fds.size(), waiting ? kQuietMs : kIdleMs);
      if (ready < 0 || (ready == 0 && !waiting)) break;
      if (ready == 0) {
        for (Peer& p : peers)
          answer(p);
        continue;
      }
      if (fds[0].revents & POLLIN) {
        int fd = accept(listener_, nullptr, nullptr);
        if (fd >= 0 && accepted++ < script_.connections) {
          int one = 1;
          setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          peers.push_back(Peer{fd, 0, {}, {}});
        } else if (fd >= 0) {
          close(fd);
        }
      }
      for (size_t i = fds.size() - 1; i > 0; --i) {
        if (fds[i].revents != 0 && !serve_readable(peers[i - 1])) {
          close(peers[i - 1].fd);
          peers.erase(peers.begin() + static_cast<long>(i - 1));
        }
      }
    }
    for (const Peer& p : peers)
      close(p.fd);
  }

  // False when the connection is over.
  bool serve_readable(Peer& p) {
    char buf[4096];
    ssize_t n = recv(p.fd, buf, sizeof buf, 0);
    if (n <= 0) {
      note_client_end();
      return false;
    }
    record_.received.append(buf, static_cast<size_t>(n));
    for (const char* c = buf; c < buf + n; ++c) {
      if (*c != '\r') {
        if (*c != '\n') p.line += *c;
        continue;
      }
      p.owed.push_back(reply_to(p.line));
      p.line.clear();
      ++record_.requests;
      ++p.waiting;
    }
    record_.max_waiting = std::max(record_.max_waiting, p.waiting);
    if (p.waiting >= script_.batch) answer(p);
    if (script_.close_after_requests >= 0 && record_.requests >= script_.close_after_requests) {
      if (script_.reset) {
        linger hard{1, 0};
        setsockopt(p.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      }
      return false;
    }
    return true;
  }

  const char* reply_to(const std::string& request) const {
    for (const auto& [start, reply] : script_.replies_by_start) {
      if (request.compare(0, start.size(), start) == 0) return reply.c_str();
    }
    return script_.reply;
  }

  // Answers the waiting requests, up to the answer limit; the rest go unanswered.
  void answer(Peer& p) {
    int fd = p.fd;
    int n = p.waiting;
    if (script_.answer_limit >= 0) n = std::min(n, script_.answer_limit - record_.replies);
    p.waiting = 0;
    std::string out;
    for (int i = 0; i < n; ++i) {
      if (script_.delay_ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(script_.delay_ms));
        out += p.owed[static_cast<size_t>(i)];
        send_reply(fd, out);
        out.clear();
      } else {
        out += p.owed[static_cast<size_t>(i)];
      }
    }
    p.owed.clear();
    send_reply(fd, out);
  }

  void send_reply(int fd, const std::string& out) {
    bool in_pieces = script_.piece_len != 0 || script_.cut_at_marks;
    for (size_t at = 0; at < out.size();) {
      size_t end = next_cut(out, at);
      size_t len = end - at;
      if (send(fd, out.data() + at, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) return;
      record_.replies += static_cast<int>(std::count(out.data() + at, out.data() + end, '>'));
      line_ends_ += static_cast<int>(std::count(out.data() + at, out.data() + end, '\r'));
      at = end;
      if (in_pieces) pause_watching_client(fd);
    }
  }

  size_t next_cut(const std::string& out, size_t at) const {
    size_t end = out.size();
    if (script_.piece_len != 0) end = std::min(end, at + script_.piece_len);
    if (script_.cut_at_marks) end = std::min(end, out.find_first_of(">\r\n", at + 1));
    return end;
  }

  // Waits 1 ms between pieces, noting whether the client sent more or ended
  // meanwhile.
  void pause_watching_client(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1) != 1) return;
    char c;
    ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) note_client_end();
    if (n > 0 && line_ends_ < record_.replies) ++record_.sent_before_line_end;
  }

  void note_client_end() {
    if (record_.replies_at_client_end < 0) record_.replies_at_client_end = record_.replies;
  }

  ServerScript script_;
  ServerRecord record_;
  int line_ends_ = 0;  // carriage returns of replies sent
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace palisim::stress::testing
