#include "app/metrics_endpoint.h"

#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <httplib.h>
#include <prometheus/text_serializer.h>

#include "app/metrics_collector.h"

namespace palisim {

namespace {

double seconds_since_epoch() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Taken when the program starts, before main.
const double kStartTime = seconds_since_epoch();

// Each connection holds a thread of the pool until its request is read, or
// until it has been idle for the keep-alive time-out: a scrape waits behind
// idle connections for about (idle connections / threads) of those, and
// a stop waits for none.
constexpr size_t kHttpThreads = 16;
constexpr time_t kKeepAliveTimeoutS = 1;
constexpr auto kReadTimeout = std::chrono::milliseconds(500);
constexpr auto kWriteTimeout = std::chrono::seconds(5);

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";

// The pool's threads wait for an idle connection's next request for the
// keep-alive time-out, without looking at the stop; shutting the sockets
// accepted on `port` down ends their waits at once. The sockets stay open,
// so no descriptor number is reused under the pool.
void shut_down_connections_on(int port) {
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  while (dirent* entry = readdir(fds)) {
    int fd = std::atoi(entry->d_name);
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    int listening = 0;
    socklen_t flag_len = sizeof listening;
    if (fd <= 2 || fd == dirfd(fds) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
        getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flag_len) != 0 || listening) {
      continue;
    }
    in_port_t bound = local.ss_family == AF_INET6
                          ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&local)->sin_port;
    if ((local.ss_family == AF_INET || local.ss_family == AF_INET6) && ntohs(bound) == port) {
      shutdown(fd, SHUT_RDWR);
    }
  }
  closedir(fds);
}

}  // namespace

bool metrics_bind_host(const std::string& address, std::string& host, std::string& error) {
  size_t colon = address.rfind(':');
  std::string name = address.substr(0, colon);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (int e = getaddrinfo(name.c_str(), address.c_str() + colon + 1, &hints, &found); e != 0) {
    error = "metrics address '" + address + "': " + gai_strerror(e);
    return false;
  }
  char text[NI_MAXHOST];
  int e =
      getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
  freeaddrinfo(found);
  if (e != 0) {
    error = "metrics address '" + address + "': " + gai_strerror(e);
    return false;
  }
  host = text;
  return true;
}

MetricsEndpoint::MetricsEndpoint() = default;

MetricsEndpoint::~MetricsEndpoint() {
  if (!listener_.joinable()) return;
  http_->stop();
  shut_down_connections_on(port_);
  listener_.join();
}

bool MetricsEndpoint::start(const std::string& address, const std::string& host,
                            CounterExchange& counters, std::string& error) {
  collector_ = std::make_shared<MetricsCollector>(counters, kStartTime);
  http_ = std::make_unique<httplib::Server>();
  // The server takes the pool and deletes it when it stops.
  http_->new_task_queue = [] {
    return std::make_unique<httplib::ThreadPool>(kHttpThreads).release();
  };
  // Not the library's SO_REUSEPORT: a second simulator on the same port must
  // be refused, not share the port.
  http_->set_socket_options([](int sock) {
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  http_->set_keep_alive_timeout(kKeepAliveTimeoutS);
  http_->set_read_timeout(kReadTimeout);
  http_->set_write_timeout(kWriteTimeout);
  http_->Get("/metrics", [collector = collector_](const httplib::Request&, httplib::Response& res) {
    res.set_content(prometheus::TextSerializer().Serialize(collector->Collect()), kTextFormat);
  });
  int port = std::atoi(address.c_str() + address.rfind(':') + 1);
  errno = 0;
  port = port == 0 ? http_->bind_to_any_port(host) : http_->bind_to_port(host, port) ? port : -1;
  if (port < 0) {
    error = errno ? std::strerror(errno) : "could not listen";
    return false;
  }
  port_ = port;
  listener_ = std::thread([http = http_.get()] { http->listen_after_bind(); });
  address_ = address.substr(0, address.rfind(':') + 1) + std::to_string(port);
  return true;
}

}  // namespace palisim
