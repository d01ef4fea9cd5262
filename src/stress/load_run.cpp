#include "stress/load_run.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>

#include "stress/connection.h"
#include "stress/pacing.h"

namespace palisim::stress {

namespace {

constexpr int kIdleWaitMs = 100;
constexpr size_t kBatches = 256;
constexpr size_t kHeadCapacity = 64;
constexpr uint64_t kUnlimited = UINT64_MAX;

// Requests in flight in runs that share a send time: unpaced, those placed
// by one pass share the pass's time (first); at a rate, they are requests
// first, first + 1, ... of the schedule, each with its own time.
struct Batch {
  int64_t first;
  uint32_t count;
};

enum class State { kConnecting, kHandshaking, kOpen, kClosed };

struct Conn {
  int fd = -1;
  State state = State::kConnecting;
  int index = 0;                          // among the connections
  std::unique_ptr<Link> link;             // the byte stream on fd, plain or TLS, once connected
  std::unique_ptr<char[]> out;            // requests not yet sent
  size_t out_start = 0;                   // first unsent byte of out
  size_t out_len = 0;                     // end of the bytes held in out
  bool watching_out = false;              // EPOLLOUT is registered
  uint64_t sent = 0;                      // requests placed in out, the next one's sequence number
  uint64_t replied = 0;                   // replies seen
  std::array<Batch, kBatches> batches{};  // send times of the requests in flight
  size_t batch_first = 0;
  size_t batch_count = 0;
  std::array<char, kHeadCapacity> head{};  // the start of the reply being received
  size_t head_len = 0;
  bool head_cut = false;     // the reply is longer than head
  int64_t reply_due_ns = 0;  // the next reply is late after this (with requests in flight)
};

class LoadRun {
 public:
  LoadRun(const RunParameters& params, const RequestMix& mix, const TlsContext* tls)
      : params_(params),
        mix_(mix),
        tls_(tls),
        timeout_ns_(static_cast<int64_t>(params.timeout_s * kNsPerSecond)) {
    const LoadOptions& o = params.load;
    depth_ = o.pipeline > 0                             ? static_cast<uint64_t>(o.pipeline)
             : params.algorithm == Algorithm::kPingPong ? 1
                                                        : kUnlimited;
    budget_ = static_cast<uint32_t>(params.count);
    // Enough room to batch a pipeline without holding megabytes per connection.
    out_capacity_ =
        std::clamp<size_t>((size_t{1} << 20) / static_cast<size_t>(o.connections), 4096, 65536);
    out_capacity_ = std::max(out_capacity_, mix.longest());
  }

  LoadFigures run(in_addr address) {
    // A thousand connections pass the usual soft limit of 1024 descriptors
    // only narrowly; take what the hard limit allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      setrlimit(RLIMIT_NOFILE, &files);
    }
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    conns_ = std::make_unique<Conn[]>(static_cast<size_t>(params_.load.connections));
    figures_.by_line.resize(mix_.groups());
    connect_all(address);
    if (figures_.opened > 0) drive();
    for (int i = 0; i < params_.load.connections; ++i) {
      Conn& c = conns_[i];
      if (c.state != State::kOpen) continue;
      c.link->notify_close();
      c.link.reset();
      close_gracefully(c.fd);
    }
    close(epoll_);
    return figures_;
  }

 private:
  // --- connecting ---------------------------------------------------------

  void connect_all(in_addr address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(params_.port));
    sa.sin_addr = address;
    int waiting = 0;
    for (int i = 0; i < params_.load.connections; ++i) {
      Conn& c = conns_[i];
      c.index = i;
      c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (c.fd < 0) {
        refuse(c);
        continue;
      }
      if (connect(c.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        refuse(c);
        continue;
      }
      epoll_event ev{};
      ev.events = EPOLLOUT;
      ev.data.u32 = static_cast<uint32_t>(i);
      epoll_ctl(epoll_, EPOLL_CTL_ADD, c.fd, &ev);
      ++waiting;
    }
    int64_t limit = now_ns() + timeout_ns_;
    std::array<epoll_event, 256> events{};
    while (waiting > 0 && now_ns() < limit) {
      int n = epoll_wait(epoll_, events.data(), events.size(), kIdleWaitMs);
      for (int k = 0; k < n; ++k) {
        Conn& c = conns_[events[k].data.u32];
        if (c.state != State::kConnecting && c.state != State::kHandshaking) continue;
        if (c.state == State::kConnecting) connected(c);
        if (c.state == State::kHandshaking) shake_hands(c);
        if (c.state != State::kConnecting && c.state != State::kHandshaking) --waiting;
      }
    }
    for (int i = 0; i < params_.load.connections; ++i) {
      State s = conns_[i].state;
      if (s == State::kConnecting || s == State::kHandshaking) refuse(conns_[i]);
    }
  }

  // The connect has an answer: refused, open, or on to the TLS handshake.
  void connected(Conn& c) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) return refuse(c);
    c.link = std::make_unique<Link>(c.fd);
    if (!tls_) return open(c);
    if (!c.link->begin_tls(*tls_, params_.host)) return refuse(c);
    c.state = State::kHandshaking;
  }

  // One step of the handshake; the socket is then watched for what it waits for.
  void shake_hands(Conn& c) {
    std::string why;
    switch (c.link->continue_handshake(why)) {
      case Handshake::kDone:
        return open(c);
      case Handshake::kFailed:
        if (figures_.tls_failure.empty()) figures_.tls_failure = why;
        return refuse(c);
      case Handshake::kWantRead:
        return watch(c, EPOLLIN);
      case Handshake::kWantWrite:
        return watch(c, EPOLLOUT);
    }
  }

  void watch(const Conn& c, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u32 = static_cast<uint32_t>(c.index);
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
  }

  void refuse(Conn& c) {
    c.link.reset();
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.state = State::kClosed;
    ++figures_.refused;
  }

  void open(Conn& c) {
    c.state = State::kOpen;
    ++figures_.opened;
    c.out = std::make_unique<char[]>(out_capacity_);
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    watch(c, EPOLLIN);
  }

  // An unpaced count run hands the lost connection's unanswered requests
  // back, so the others still answer the whole count.
  void lose(Conn& c) {
    if (ns_per_request_ == 0 && params_.load.duration_s == 0) {
      for (size_t b = 0; b < c.batch_count; ++b) {
        const Batch& batch = c.batches[(c.batch_first + b) % kBatches];
        if (batch.first >= measure_from_ns_) budget_ += batch.count;
      }
    }
    c.link.reset();
    close(c.fd);
    c.fd = -1;
    c.state = State::kClosed;
    ++figures_.lost;
    --open_count_;
  }

  // --- the run ------------------------------------------------------------

  void drive() {
    const LoadOptions& o = params_.load;
    open_count_ = figures_.opened;
    start_ns_ = now_ns();
    measure_from_ns_ = start_ns_ + static_cast<int64_t>(o.warmup_s * kNsPerSecond);
    end_ns_ = o.duration_s > 0
                  ? measure_from_ns_ + static_cast<int64_t>(o.duration_s * kNsPerSecond)
                  : INT64_MAX;
    if (o.rate > 0) {
      ns_per_request_ = kNsPerSecond / o.rate;
      warmup_requests_ = static_cast<uint64_t>(std::ceil(o.warmup_s * o.rate));
    }
    last_reply_ns_ = measure_from_ns_;
    std::array<epoll_event, 1024> events{};
    // Often enough that a time-out is seen within a quarter of its length.
    const int64_t check_every = std::min(kNsPerSecond, timeout_ns_ / 4);
    int64_t next_stall_check = start_ns_ + check_every;
    int first = 0;
    for (;;) {
      int64_t now = now_ns();
      if (now >= end_ns_ || open_count_ == 0 || count_done(now)) break;
      release_due(now);
      // Each pass starts one connection further, so a few released
      // requests spread over the connections.
      for (int k = 0; k < o.connections; ++k) {
        Conn& c = conns_[(first + k) % o.connections];
        if (c.state == State::kOpen) send_more(c, now);
      }
      first = (first + 1) % o.connections;
      int n = epoll_wait(epoll_, events.data(), events.size(), wait_ms(now));
      for (int k = 0; k < n; ++k) {
        Conn& c = conns_[events[k].data.u32];
        if (c.state != State::kOpen) continue;
        uint32_t ev = events[k].events;
        if (ev & (EPOLLIN | EPOLLERR | EPOLLHUP)) receive(c);
        if (c.state == State::kOpen && (ev & EPOLLOUT)) send_more(c, now_ns());
      }
      if (now >= next_stall_check) {
        drop_late(now);
        next_stall_check = now + check_every;
      }
    }
    int64_t finish = o.duration_s > 0 ? end_ns_ : last_reply_ns_;
    figures_.seconds =
        static_cast<double>(std::max<int64_t>(finish - measure_from_ns_, 0)) / kNsPerSecond;
    figures_.completed = o.duration_s > 0 ? open_count_ > 0 : figures_.replies == count_target();
  }

  uint64_t count_target() const { return static_cast<uint32_t>(params_.count); }

  // Done when every request is answered, or when nothing is left to send
  // and nothing is in flight (the rest went with lost connections).
  bool count_done(int64_t now) const {
    if (params_.load.duration_s > 0 || now < measure_from_ns_) return false;
    if (figures_.replies >= count_target()) return true;
    if (ns_per_request_ == 0 ? budget_ > 0 : next_taken_ < release_limit()) return false;
    for (int i = 0; i < params_.load.connections; ++i) {
      const Conn& c = conns_[i];
      if (c.state == State::kOpen && c.sent != c.replied) return false;
    }
    return true;
  }

  uint64_t release_limit() const {
    return params_.load.duration_s > 0 ? UINT64_MAX : warmup_requests_ + count_target();
  }

  // The rate schedule releases request k at start + k / rate; whichever
  // connection has room takes it, keeping that time as its send time.
  int64_t scheduled_ns(uint64_t k) const {
    return start_ns_ + static_cast<int64_t>(static_cast<double>(k) * ns_per_request_);
  }

  void release_due(int64_t now) {
    if (ns_per_request_ == 0) return;
    uint64_t last = release_limit();
    while (next_release_ < last && scheduled_ns(next_release_) <= now)
      ++next_release_;
  }

  int wait_ms(int64_t now) const {
    if (ns_per_request_ == 0 || next_release_ >= release_limit()) return kIdleWaitMs;
    double due = static_cast<double>(scheduled_ns(next_release_));
    int64_t left = static_cast<int64_t>(due) - now;
    // epoll waits in whole milliseconds: the last one is spent polling.
    return left < 1'000'000 ? 0
                            : static_cast<int>(std::min<int64_t>(left / 1'000'000, kIdleWaitMs));
  }

  // May connection c place one more request at now?
  bool may_send(const Conn& c, int64_t now) const {
    if (c.sent - c.replied >= depth_) return false;
    if (c.batch_count == kBatches && !extends_last(c, ns_per_request_ != 0 ? next_taken_ : now)) {
      return false;
    }
    if (ns_per_request_ != 0) return next_taken_ < next_release_;
    return now < measure_from_ns_ || params_.load.duration_s > 0 || budget_ > 0;
  }

  static size_t last_batch(const Conn& c) { return (c.batch_first + c.batch_count - 1) % kBatches; }

  // Can the request with this send time (unpaced) or schedule index join
  // the last batch?
  bool extends_last(const Conn& c, int64_t key) const {
    if (c.batch_count == 0) return false;
    const Batch& b = c.batches[last_batch(c)];
    return ns_per_request_ != 0 ? b.first + b.count == key : b.first == key;
  }

  LineFigures* line_of(const MixEntry& e) {
    return figures_.by_line.empty() ? nullptr : &figures_.by_line[e.group];
  }

  void note_sent(Conn& c, int64_t now, const MixEntry& e) {
    auto key = ns_per_request_ != 0 ? static_cast<int64_t>(next_taken_++) : now;
    int64_t at = ns_per_request_ != 0 ? scheduled_ns(static_cast<uint64_t>(key)) : now;
    ++c.sent;
    if (extends_last(c, key)) {
      ++c.batches[last_batch(c)].count;
    } else {
      c.batches[(c.batch_first + c.batch_count++) % kBatches] = {key, 1};
    }
    if (at >= measure_from_ns_) {
      ++figures_.sent;
      if (LineFigures* line = line_of(e)) ++line->sent;
      if (ns_per_request_ == 0 && params_.load.duration_s == 0) --budget_;
    }
  }

  // Fills the output with requests while the connection may send and the
  // socket takes them.
  void send_more(Conn& c, int64_t now) {
    for (;;) {
      if (c.out_start == c.out_len) c.out_start = c.out_len = 0;
      while (may_send(c, now)) {
        const MixEntry& e = mix_.at(c.sent);
        std::string_view r = mix_.request(e);
        if (out_capacity_ - c.out_len < r.size()) break;
        std::memcpy(c.out.get() + c.out_len, r.data(), r.size());
        c.out_len += r.size();
        if (c.sent == c.replied) c.reply_due_ns = now + timeout_ns_;
        note_sent(c, now, e);
      }
      if (c.out_start == c.out_len) break;
      ssize_t n = c.link->send(c.out.get() + c.out_start, c.out_len - c.out_start);
      if (n < 0) {
        if (!would_block(errno)) return lose(c);
        break;
      }
      c.out_start += static_cast<size_t>(n);
      if (c.out_start < c.out_len) break;
    }
    // Over TLS, the last requests wait in a record until pushed.
    if (!c.link->push()) return lose(c);
    watch_output(c, c.out_start < c.out_len || c.link->has_unsent());
  }

  void watch_output(Conn& c, bool on) {
    if (c.watching_out == on) return;
    c.watching_out = on;
    watch(c, EPOLLIN | (on ? EPOLLOUT : 0u));
  }

  // Over TLS, records already read may hold more than one receive takes,
  // and epoll does not announce them.
  void receive(Conn& c) {
    do {
      receive_once(c);
    } while (c.state == State::kOpen && c.link->has_buffered_input());
  }

  void receive_once(Conn& c) {
    static char chunk[64 * 1024];
    ssize_t n = c.link->recv(chunk, sizeof chunk);
    if (n == 0 || (n < 0 && !would_block(errno))) return lose(c);
    if (n < 0) return;
    int64_t now = now_ns();
    const char* p = chunk;
    const char* end = chunk + n;
    while (p < end) {
      const char* gt = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(end - p)));
      const char* stop = gt ? gt + 1 : end;
      keep_head(c, p, stop);
      p = stop;
      if (gt) complete_reply(c, now);
    }
  }

  // Keeps the first bytes of the reply, from its '<' (line ends between
  // replies are skipped).
  static void keep_head(Conn& c, const char* p, const char* stop) {
    if (c.head_len == 0) {
      while (p < stop && (*p == '\r' || *p == '\n'))
        ++p;
    }
    size_t take = std::min<size_t>(static_cast<size_t>(stop - p), kHeadCapacity - c.head_len);
    std::memcpy(c.head.data() + c.head_len, p, take);
    c.head_len += take;
    if (take < static_cast<size_t>(stop - p)) c.head_cut = true;
  }

  void complete_reply(Conn& c, int64_t now) {
    std::string_view head(c.head.data(), c.head_len);
    bool cut = c.head_cut;
    c.head_len = 0;
    c.head_cut = false;
    if (c.replied == c.sent) {
      // A reply to nothing sent.
      ++figures_.mismatched;
      quote(c, head, cut, "reply to no request");
      return;
    }
    uint64_t j = c.replied++;
    // Bytes that trickle in do not make a reply on time; each whole reply
    // gives the next one the full time-out.
    c.reply_due_ns = now + timeout_ns_;
    int64_t sent_at = pop_batch(c);
    if (sent_at < measure_from_ns_) return;
    ++figures_.replies;
    last_reply_ns_ = now;
    figures_.latency.record_us((now - sent_at) / 1000);
    const MixEntry& e = mix_.at(j);
    LineFigures* line = line_of(e);
    if (line) {
      ++line->replies;
      line->latency.record_us((now - sent_at) / 1000);
    }
    classify(c, head, cut, e.reply_code, line);
  }

  int64_t pop_batch(Conn& c) {
    Batch& b = c.batches[c.batch_first];
    int64_t at = b.first;
    if (ns_per_request_ != 0) at = scheduled_ns(static_cast<uint64_t>(b.first++));
    if (--b.count == 0) {
      c.batch_first = (c.batch_first + 1) % kBatches;
      --c.batch_count;
    }
    return at;
  }

  // An error reply is <00#TTFF35...#> with a type TT other than 00; any
  // other reply must start with the code that answers its request.
  void classify(const Conn& c, std::string_view head, bool cut, const std::string& expected,
                LineFigures* line) {
    if (head.empty() || head[0] != '<') {
      ++figures_.mismatched;
      if (line) ++line->mismatched;
      return quote(c, head, cut, "not a reply");
    }
    size_t hash = head.find('#');
    std::string_view code =
        head.substr(1, (hash == std::string_view::npos ? head.size() - 1 : hash) - 1);
    if (code == "00" && hash != std::string_view::npos && head.size() >= hash + 3) {
      char t0 = head[hash + 1];
      char t1 = head[hash + 2];
      bool digits = t0 >= '0' && t0 <= '9' && t1 >= '0' && t1 <= '9';
      if (digits && (t0 != '0' || t1 != '0')) {
        ++figures_.errors;
        if (line) ++line->errors;
        ++figures_.errors_by_type[static_cast<size_t>((t0 - '0') * 10 + (t1 - '0'))];
        return quote(c, head, cut, "error reply");
      }
    }
    if (code.size() != expected.size() ||
        strncasecmp(code.data(), expected.data(), expected.size()) != 0) {
      ++figures_.mismatched;
      if (line) ++line->mismatched;
      quote(c, head, cut, "mismatched reply");
    }
  }

  void quote(const Conn& c, std::string_view head, bool cut, const char* what) {
    if (!params_.load.check || figures_.quoted.size() >= kQuotedReplies) return;
    std::string line = std::string(what) + " on connection " + std::to_string(c.index) +
                       " to request " + std::to_string(c.replied) + ": \"";
    line.append(head);
    line += cut ? "...\"" : "\"";
    figures_.quoted.push_back(std::move(line));
  }

  void drop_late(int64_t now) {
    for (int i = 0; i < params_.load.connections; ++i) {
      Conn& c = conns_[i];
      if (c.state == State::kOpen && c.sent > c.replied && now > c.reply_due_ns) {
        ++figures_.timed_out;
        lose(c);
      }
    }
  }

  const RunParameters& params_;
  const RequestMix& mix_;
  const TlsContext* tls_;  // null: plain TCP
  LoadFigures figures_;
  std::unique_ptr<Conn[]> conns_;
  int epoll_ = -1;
  uint64_t depth_ = 1;       // requests in flight per connection at most
  size_t out_capacity_ = 0;  // bytes of each connection's output
  uint32_t open_count_ = 0;
  uint64_t budget_ = 0;           // measured requests still to send (unpaced count runs)
  double ns_per_request_ = 0;     // 0: unpaced
  uint64_t warmup_requests_ = 0;  // scheduled within the warm-up
  uint64_t next_taken_ = 0;       // the next released request a connection takes
  uint64_t next_release_ = 0;     // the next request of the rate schedule
  int64_t start_ns_ = 0;
  int64_t measure_from_ns_ = 0;  // end of the warm-up
  int64_t end_ns_ = 0;           // end of a duration run
  int64_t last_reply_ns_ = 0;
  int64_t timeout_ns_;  // of the connects, and of each reply
};

}  // namespace

LoadFigures run_load(const RunParameters& params, const RequestMix& mix, in_addr address,
                     const TlsContext* tls) {
  return LoadRun(params, mix, tls).run(address);
}

}  // namespace palisim::stress
