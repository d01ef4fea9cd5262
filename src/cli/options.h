// The command line of palisim-cli: its options, in any order, and the words
// between them (a tool's name and arguments, or the requests to send).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client/connection.h"

namespace palisim {

inline constexpr int kExitOk = 0;
inline constexpr int kExitConnection = 1;  // the connection failed or closed early
inline constexpr int kExitUsage = 2;       // a bad command line or bad input

// One bit per option, to say which a mode takes.
enum OptionBit : unsigned {
  kOptHost = 1u << 0,
  kOptPort = 1u << 1,
  kOptExplain = 1u << 2,
  kOptConfig = 1u << 3,
  kOptMfk = 1u << 4,
  kOptKcv = 1u << 5,
  kOptPin = 1u << 6,
  kOptPan = 1u << 7,
  kOptFormat = 1u << 8,
  kOptKey = 1u << 9,
  kOptBdk = 1u << 10,
  kOptKsn = 1u << 11,
  kOptSingle = 1u << 12,
  kOptTls = 1u << 13,
  kOptCacert = 1u << 14,
  kOptCert = 1u << 15,
  kOptTimeout = 1u << 16,
};

// Values point into argv, so key material given on the command line is not
// copied.
struct CliOptions {
  std::string_view host = "localhost";
  int port = 7000;
  bool explain = false;
  std::string_view config;  // --config PATH; empty when not given
  std::string_view mfk;
  bool kcv = false;
  std::string_view pin;
  std::string_view pan;
  std::string_view format = "0";
  std::string_view key;
  std::string_view bdk;
  std::string_view ksn;
  bool single = false;
  bool tls = false;                    // --tls: requests go over TLS
  std::string_view cacert;             // --cacert FILE: the CA the server's certificate chains to
  std::string_view cert;               // --cert FILE: a client certificate, its key in --key
  int timeout_ms = kDefaultTimeoutMs;  // --timeout S: of the connect and of every wait after it
  bool help = false;
  unsigned given = 0;                   // OptionBit of every option on the line
  std::vector<std::string_view> words;  // everything that is not an option
};

// False, with the reason, for an unknown option, a missing value, a port
// outside 1 to 65535 or a time-out that is no positive number of seconds.
bool parse_command_line(int argc, char** argv, CliOptions& o, std::string& error);

// False, with the reason, when an option was given that the mode does not use.
bool check_options_used(const CliOptions& o, unsigned used, std::string_view mode,
                        std::string& error);

// "palisim-cli: " and the message on standard error; returns kExitUsage.
int refuse_input(std::string_view message);

}  // namespace palisim
