#include "app/server_thread.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "app/banner.h"
#include "config/defaults.h"
#include "server/diag.h"

namespace palisim {

namespace {

ServerThread& owner_of(ServerHooks* hooks) {
  return *static_cast<ServerThread*>(hooks->owner);
}

}  // namespace

ServerThread::ServerThread() {
  hooks_.listening = &ServerThread::on_listening;
  hooks_.accepted = &ServerThread::on_accepted;
  hooks_.closed = &ServerThread::on_closed;
  hooks_.owner = this;
  hooks_.stats = &stats_;
  configure("any", kDefaultPort, kDefaultConfigurationPath);
}

void ServerThread::configure(const char* interface_name, uint16_t port, const char* config_path) {
  std::snprintf(interface_name_, sizeof interface_name_, "%s", interface_name);
  port_ = port;
  // The command line refuses longer paths: a cut one would name another file.
  assert(std::strlen(config_path) < sizeof config_path_);
  std::snprintf(config_path_, sizeof config_path_, "%s", config_path);
  connections_.store(0, std::memory_order_release);
  stop_.reset();
  ended_.reset();
}

void ServerThread::set_tls(TlsContext context, uint16_t port, int max_connections) {
  tls_ = std::move(context);
  hooks_.tls_context = tls_.get();
  hooks_.tls_port = port;
  hooks_.tls_max_connections = max_connections;
  hooks_.tls_listening = &ServerThread::on_tls_listening;
}

CounterExchange& ServerThread::keep_counters() {
  if (!counters_) counters_ = std::make_unique<CounterExchange>(stats_);
  hooks_.counters = counters_.get();
  return *counters_;
}

int ServerThread::run() {
  tls_listening_fd_ = -1;
  return run_server(
      interface_name_, port_, &hooks_,
      SettingsSource{
          .config_path = config_path_, .inject_rules = &inject_rules_, .reread = &reread_},
      &stop_);
}

void ServerThread::request_reread(const char* cause) {
  reread_.store(true);
  diag("%s: the next connection reads the configuration file afresh.\n", cause);
  diag_flush();
}

void ServerThread::release() {
  ended_.signal();
}

int ServerThread::stop() {
  request_stop();
  int code = wait();
  connections_.store(0, std::memory_order_release);
  return code;
}

void ServerThread::on_listening(ServerHooks* hooks, int fd) {
  ServerThread& owner = owner_of(hooks);
  print_banner(fd, owner.tls_listening_fd_, owner.config_path_, hooks->trace,
               owner.inject_rules_.count, owner.metrics_address_.c_str(),
               owner.control_address_.c_str(), !owner.seed_.empty());
}

void ServerThread::on_tls_listening(ServerHooks* hooks, int fd) {
  owner_of(hooks).tls_listening_fd_ = fd;
}

void ServerThread::on_accepted(ServerHooks* hooks, int, const sockaddr_in&) {
  owner_of(hooks).connections_.fetch_add(1, std::memory_order_acq_rel);
}

void ServerThread::on_closed(ServerHooks* hooks, int) {
  owner_of(hooks).connections_.fetch_sub(1, std::memory_order_acq_rel);
}

}  // namespace palisim
