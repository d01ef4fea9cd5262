#include "app/metrics_endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include <civetweb.h>
#include <prometheus/exposer.h>

#include "app/metrics_collector.h"

namespace palisim {

namespace {

double seconds_since_epoch() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Taken when the program starts, before main.
const double kStartTime = seconds_since_epoch();

// CivetWeb gives each connection a thread of its own until its request is
// read: with these, a scrape waits behind idle connections for at most
// (idle connections / threads) request time-outs, and a stop for one.
constexpr const char* kExposerThreads = "8";
constexpr const char* kRequestTimeoutMs = "250";

// mg_check_feature's bit for IPv6.
constexpr unsigned kCivetWebIpv6 = 8;

// CivetWeb's accept thread looks at its stop flag only between polls of
// 2 s; a connection ends the poll at once. Tried every kWakeIntervalMs, a
// bounded number of times.
constexpr int kWakeIntervalMs = 20;
constexpr int kWakeTries = 150;

void connect_once(const std::string& host, int port) {
  sockaddr_storage to{};
  socklen_t len = 0;
  if (auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
      inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof *v4;
  } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
             inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof *v6;
  }
  int fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  connect(fd, reinterpret_cast<sockaddr*>(&to), len);
  close(fd);
}

}  // namespace

bool metrics_bind_address(const std::string& address, std::string& bind, std::string& error) {
  size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  std::string port = address.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[') {
    if (mg_check_feature(kCivetWebIpv6) == 0) {
      error = "metrics address '" + address +
              "': this build's HTTP library has no IPv6; give an IPv4 address or a host name";
      return false;
    }
    bind = address;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (int e = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0) {
    error = "metrics address '" + address + "': " + gai_strerror(e);
    return false;
  }
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  bind = std::string(text) + ":" + port;
  return true;
}

MetricsEndpoint::MetricsEndpoint() = default;

MetricsEndpoint::~MetricsEndpoint() {
  if (!exposer_) return;
  std::atomic<bool> stopped{false};
  std::thread wake([this, &stopped] {
    for (int i = 0; i < kWakeTries && !stopped.load(); ++i) {
      connect_once(bind_host_, port_);
      std::this_thread::sleep_for(std::chrono::milliseconds(kWakeIntervalMs));
    }
  });
  exposer_.reset();
  stopped.store(true);
  wake.join();
}

bool MetricsEndpoint::start(const std::string& address, const std::string& bind,
                            CounterExchange& counters, std::string& error) {
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(
        std::vector<std::string>{"listening_ports", bind, "num_threads", kExposerThreads,
                                 "request_timeout_ms", kRequestTimeoutMs});
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  collector_ = std::make_shared<MetricsCollector>(counters, kStartTime);
  exposer_->RegisterCollectable(collector_);
  std::vector<int> ports = exposer_->GetListeningPorts();
  port_ = ports.empty() ? 0 : ports.front();
  bind_host_ = bind.substr(0, bind.rfind(':'));
  if (bind_host_.size() > 2 && bind_host_.front() == '[') {
    bind_host_ = bind_host_.substr(1, bind_host_.size() - 2);
  }
  address_ = address.substr(0, address.rfind(':') + 1) + std::to_string(port_);
  return true;
}

}  // namespace palisim
