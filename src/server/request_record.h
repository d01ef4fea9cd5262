// One record per answered request, handed once to everything that observes
// requests (the trace, the statistics, and what else is added), after
// Redis's call(): the values are measured once and every observer reads the
// same ones, so no request is counted twice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "server/fault_injection.h"

namespace palisim {

struct ErrorKind;

// Who sent a request: the same for every request of one connection.
struct ConnectionName {
  uint64_t id = 0;            // the loop numbers the connections it accepts from 1
  int fd = -1;                // its socket
  std::string_view peer;      // "address:port"
  std::string_view identity;  // what its transport established ("TLSv1.3 CN=..."); empty for plain
};

struct RequestRecord {
  ConnectionName connection;
  size_t command = 0;        // its row of the command table; kCommandCount for none
  std::string_view request;  // as received; empty unless an observer asked for the text
  // Its fields as the dispatcher found them, pointing into `request`; null
  // when they are not at hand.
  const Fields* fields = nullptr;
  std::string_view reply;  // as queued for sending; empty when none was
  bool sent = true;        // false: the connection closed before the reply left
  // The error the handler refused with; null for a success and for a reply
  // an inject rule set.
  const ErrorKind* error = nullptr;
  // Only with error, and stale without: for a wrong length, what came and
  // what was expected.
  ErrorNote note = {};
  bool error_reply = false;  // the client got an error reply, whoever wrote it
  Injection injection;       // what the inject rules decided
  int64_t handler_ns = 0;    // from its cut to its reply; 0 unless an observer asked for time
  int64_t done_ns = 0;  // the steady clock when it was answered, in ns; 0 unless time was asked
};

class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  virtual void on_request(const RequestRecord& record) = 0;
  // A line ended by a carriage return that held no <...> request.
  virtual void on_line_without_request(const ConnectionName&, std::string_view) {}
  // What a closing connection holds after its last carriage return.
  virtual void on_unended_input(const ConnectionName&, std::string_view) {}
};

// What an observer asks each request to carry.
struct ObserverNeeds {
  bool time = false;  // handler_ns and done_ns: a clock reading per request
  bool text = false;  // the request's text, copied before dispatch cuts it up
  // It takes long (writing a line, say): the next request's time starts
  // after it, at the cost of one more clock reading per request.
  bool lengthy = false;
};

// The observers of every connection of one loop, told in the order added.
class RequestObservers {
 public:
  static constexpr size_t kCapacity = 4;

  // Null adds nothing.
  void add(RequestObserver* observer, ObserverNeeds needs = {}) {
    if (!observer || count_ == kCapacity) return;
    list_[count_++] = observer;
    needs_.time = needs_.time || needs.time;
    needs_.text = needs_.text || needs.text;
    needs_.lengthy = needs_.lengthy || needs.lengthy;
  }
  bool empty() const { return count_ == 0; }
  const ObserverNeeds& needs() const { return needs_; }

  void request(const RequestRecord& record) const {
    for (size_t i = 0; i < count_; ++i)
      list_[i]->on_request(record);
  }
  void line_without_request(const ConnectionName& who, std::string_view line) const {
    for (size_t i = 0; i < count_; ++i)
      list_[i]->on_line_without_request(who, line);
  }
  void unended_input(const ConnectionName& who, std::string_view rest) const {
    for (size_t i = 0; i < count_; ++i)
      list_[i]->on_unended_input(who, rest);
  }

 private:
  std::array<RequestObserver*, kCapacity> list_{};
  size_t count_ = 0;
  ObserverNeeds needs_;
};

}  // namespace palisim
