#include "app/control_server.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>

#include <charconv>
#include <chrono>
#include <exception>
#include <regex>

#include <httplib.h>
#include <prometheus/text_serializer.h>
#include <nlohmann/json.hpp>

#include "app/control_json.h"
#include "app/metrics_collector.h"
#include "app/metrics_endpoint.h"
#include "app/server_thread.h"
#include "protocol/command_catalog.h"

namespace palisim {

namespace {

using nlohmann::json;

// A client that sends or reads nothing for this long is dropped, so stalled
// clients free the control port's threads.
constexpr time_t kClientTimeoutS = 2;

void answer(httplib::Response& res, int status, const json& body) {
  res.status = status;
  // Journal texts may hold any byte; invalid UTF-8 is replaced, not refused.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void refuse(httplib::Response& res, int status, const std::string& message) {
  answer(res, status, {{"error", message}});
}

void no_content(httplib::Response& res) {
  res.status = 204;
}

// Host and port of ADDRESS:PORT; an IPv6 address loses its brackets.
bool split_address(const std::string& address, std::string& host, int& port) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos) return false;
  host = address.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  auto [end, ec] =
      std::from_chars(address.data() + colon + 1, address.data() + address.size(), port);
  return ec == std::errc() && end == address.data() + address.size();
}

// A query parameter as a whole number; `fallback` when absent.
bool number_param(const httplib::Request& req, const char* name, uint64_t fallback,
                  uint64_t& value) {
  value = fallback;
  if (!req.has_param(name)) return true;
  const std::string text = req.get_param_value(name);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

struct Route {
  const char* path;     // a regular expression of the whole path
  const char* methods;  // what it takes, for 405's Allow
};
constexpr Route kRoutes[] = {
    {"/health", "GET"},          {"/metrics", "GET"},          {"/inject", "GET, POST, DELETE"},
    {"/inject/[^/]+", "DELETE"}, {"/requests", "GET, DELETE"}, {"/reset", "POST"},
    {"/reload", "POST"},
};

}  // namespace

bool is_loopback_address(const std::string& address) {
  std::string host;
  int port = 0;
  if (!split_address(address, host, port)) return false;
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

ControlServer::ControlServer(ControlTargets targets)
    : targets_(std::move(targets)), http_(std::make_unique<httplib::Server>()) {}

ControlServer::~ControlServer() {
  http_->stop();
  if (thread_.joinable()) thread_.join();
}

bool ControlServer::start(const std::string& address, std::string& error) {
  std::string host;
  int port = 0;
  if (!split_address(address, host, port)) {
    error = "not ADDRESS:PORT";
    return false;
  }
  http_->set_read_timeout(kClientTimeoutS, 0);
  http_->set_write_timeout(kClientTimeoutS, 0);
  http_->set_keep_alive_timeout(kClientTimeoutS);
  http_->set_payload_max_length(kMaxControlBody);
  route();
  if (port == 0) {
    port = http_->bind_to_any_port(host);
  } else if (!http_->bind_to_port(host, port)) {
    port = -1;
  }
  if (port < 0) {
    error = "cannot bind it";
    return false;
  }
  address_ = address.substr(0, address.rfind(':') + 1) + std::to_string(port);
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  return true;
}

void ControlServer::route() {
  ControlTargets& t = targets_;
  // Answers the library writes itself (413, a malformed request line) get a JSON body too.
  http_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    const char* message = res.status == 413 ? "the body is over 64 KiB" : "a malformed request";
    refuse(res, res.status, message);
  });
  http_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        refuse(res, 500, "the control port failed to answer");
      });
  http_->set_pre_routing_handler([&t](const httplib::Request& req, httplib::Response& res) {
    if (t.token.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const std::string given = req.get_header_value("Authorization");
    const std::string wanted = "Bearer " + t.token;
    if (given.size() == wanted.size() &&
        CRYPTO_memcmp(given.data(), wanted.data(), wanted.size()) == 0) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.set_header("WWW-Authenticate", "Bearer");
    refuse(res, 401, "this control port needs Authorization: Bearer TOKEN");
    return httplib::Server::HandlerResponse::Handled;
  });

  // Every method of every path comes here: unknown paths get 404, known
  // paths a method they do not take 405.
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    ControlTargets& t = targets_;
    const std::string& m = req.method;
    const std::string& path = req.path;
    if (path == "/health" && m == "GET") {
      const LoopCounters counters = t.counters.snapshot();
      const bool mfk = std::string_view(counters.mfk_check.data()) != "none";
      const double uptime =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count() -
          program_start_time_s();
      answer(res, mfk ? 200 : 503,
             {{"status", mfk ? "serving" : "no-mfk"},
              {"config_loaded", counters.config_loaded},
              {"mfk_check_value", mfk ? json(counters.mfk_check.data()) : json(nullptr)},
              {"connections", t.server.connection_count()},
              {"uptime_seconds", static_cast<int64_t>(uptime)}});
    } else if (path == "/metrics" && m == "GET") {
      MetricsCollector collector(t.counters, program_start_time_s());
      res.set_content(prometheus::TextSerializer().Serialize(collector.Collect()),
                      "text/plain; version=0.0.4");
    } else if (path == "/inject" && m == "GET") {
      json rules = json::array();
      for (const ListedRule& rule : t.rules.list())
        rules.push_back(rule_json(rule));
      answer(res, 200, {{"rules", rules}});
    } else if (path == "/inject" && m == "POST") {
      json body = json::parse(req.body, nullptr, false);
      InjectRule rule;
      std::string error;
      ListedRule added;
      if (body.is_discarded()) {
        refuse(res, 400, "the body is not JSON");
      } else if (!rule_from_json(body, rule, error)) {
        refuse(res, 400, error);
      } else if (!t.rules.add(rule, added)) {
        refuse(res, 400,
               "there are " + std::to_string(kMaxControlRules) +
                   " control rules already; remove one first");
      } else {
        answer(res, 201, rule_json(added));
      }
    } else if (path == "/inject" && m == "DELETE") {
      t.rules.remove_all();
      no_content(res);
    } else if (path.rfind("/inject/", 0) == 0 && m == "DELETE") {
      const std::string id = path.substr(8);
      uint32_t number = 0;
      const bool control = id.rfind("control-", 0) == 0;
      auto [end, ec] =
          std::from_chars(id.data() + (control ? 8 : 0), id.data() + id.size(), number);
      const bool numbered = ec == std::errc() && end == id.data() + id.size();
      bool listed = false;
      for (const ListedRule& rule : t.rules.list())
        listed = listed || rule_id(rule) == id;
      if (control && numbered && t.rules.remove(number)) {
        no_content(res);
      } else if (listed) {
        refuse(res, 400,
               "rule " + id + " is not a control rule: only control rules can be removed");
      } else {
        refuse(res, 404, "no rule " + id);
      }
    } else if (path == "/requests" && m == "GET") {
      JournalQuery query;
      uint64_t limit = 0;
      size_t command = SIZE_MAX;
      if (req.has_param("command")) {
        command = command_row(req.get_param_value("command"));
        if (command == kCommandCount) {
          refuse(res, 400, "command must be a command code such as 31");
          return;
        }
      }
      if (!number_param(req, "limit", query.limit, limit) ||
          !number_param(req, "after", 0, query.after)) {
        refuse(res, 400, "limit and after must be whole numbers");
        return;
      }
      query.command = command;
      query.limit = static_cast<size_t>(limit);
      std::vector<JournalEntry> entries;
      uint64_t recorded = 0, dropped = 0;
      t.journal.read(query, entries, recorded, dropped);
      json body = {{"recorded", recorded}, {"dropped", dropped}, {"requests", json::array()}};
      // Built in place: a list put in an initializer list would be copied whole.
      json& list = body["requests"];
      for (const JournalEntry& e : entries)
        list.push_back(entry_json(e));
      answer(res, 200, body);
    } else if (path == "/requests" && m == "DELETE") {
      t.journal.clear();
      no_content(res);
    } else if (path == "/reset" && m == "POST") {
      t.rules.remove_all();
      t.journal.clear();
      no_content(res);
    } else if (path == "/reload" && m == "POST") {
      t.server.request_reread("POST /reload");
      no_content(res);
    } else {
      for (const Route& route : kRoutes) {
        if (std::regex_match(path, std::regex(route.path))) {
          res.set_header("Allow", route.methods);
          refuse(res, 405, path + " takes " + route.methods);
          return;
        }
      }
      refuse(res, 404, "no such endpoint: " + path);
    }
  };
  http_->Get(".*", serve);
  http_->Post(".*", serve);
  http_->Put(".*", serve);
  http_->Patch(".*", serve);
  http_->Delete(".*", serve);
  http_->Options(".*", serve);
}

}  // namespace palisim
