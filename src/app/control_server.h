// The control port: HTTP/1.1 with JSON bodies on threads of its own
// (cpp-httplib), for test suites to add and remove inject rules, read and
// empty the journal, check health and have the file read again. Nothing
// here runs on the serving thread, which it reaches only through the rule
// exchange, the journal and the counters.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "server/control_exchange.h"
#include "server/counter_exchange.h"
#include "server/request_journal.h"

namespace httplib {
class Server;
}

namespace palisim {

class ServerThread;

// Bodies over this get 413.
inline constexpr size_t kMaxControlBody = 64 * 1024;

// What the control port reads and changes; each outlives the port.
struct ControlTargets {
  ControlExchange& rules;
  RequestJournal& journal;  // of capacity 0 when journal_size is 0
  CounterExchange& counters;
  ServerThread& server;
  std::string token;  // required as "Authorization: Bearer TOKEN"; empty for none
};

// Whether ADDRESS:PORT binds the loopback interface only (127.0.0.0/8, ::1, localhost).
bool is_loopback_address(const std::string& address);

class ControlServer {
 public:
  explicit ControlServer(ControlTargets targets);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Binds ADDRESS:PORT (port 0: a free one) and serves on a thread of its
  // own; false with the reason in `error` when it cannot bind.
  bool start(const std::string& address, std::string& error);
  // ADDRESS:PORT as bound.
  const std::string& address() const { return address_; }

 private:
  void route();

  ControlTargets targets_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  std::string address_;
};

}  // namespace palisim
