// palisim-cli: a client of the protocol and a tool for test keys, PIN blocks
// and DUKPT under the simulator's own MFK and algorithms.
#include <cstdio>
#include <string>

#include "cli/options.h"
#include "cli/session.h"
#include "cli/tools.h"

namespace {

constexpr const char* kUsage =
    R"(usage: palisim-cli [--host H] [--port P] [--explain] [--timeout S]
                   [--tls [--cacert FILE] [--cert FILE --key FILE]] [REQUEST...]
       palisim-cli [--config PATH | --mfk HEX] key wrap [--kcv] HEADER CLEARKEY
       palisim-cli [--config PATH | --mfk HEX] key form HEADER COMPONENT COMPONENT [COMPONENT]
       palisim-cli [--config PATH | --mfk HEX] key open BLOCK
       palisim-cli key kcv CLEARKEY
       palisim-cli pin block --pin PIN --pan PAN [--format 0|3] [--key HEX]
       palisim-cli dukpt --bdk HEX --ksn HEX [--single] [--pin PIN --pan PAN]
Requests go to a server of the protocol, by default localhost port 7000:
  REQUEST...       send each one (a carriage return is added), print each reply
  no REQUEST       a prompt with line editing and history when standard input is
                   a terminal, every reply explained; else one request per line
  --explain        print under each reply its fields by name, or the error
  --tls            over TLS; the server's certificate must chain to --cacert FILE
                   (default: the system's CAs) and name the host connected to;
                   --cert FILE --key FILE present a client certificate
  --timeout S      wait at most S seconds (default 30) for the connection, the
                   TLS handshake, a send or a reply, else end with status 1
The tools work offline, under the MFK of the simulator's configuration:
  --config PATH    its configuration file, section default (default atalla.conf
                   in the working directory, else /etc/palisim/atalla.conf)
  --mfk HEX        this MFK instead: 16, 32 or 48 hex digits
  key wrap         the key block of a clear key as requests carry it; --kcv adds
                   the key's check value
  key form         the key block of the XOR of 2 or 3 clear components, with the
                   check values of the key and of each component
  key open         the clear key in a key block and its check value (a test tool:
                   it prints key material in clear)
  key kcv          the check value of a clear key
  pin block        the ISO 9564 PIN block, format 0 or 3; --key HEX enciphers it
                   as a terminal does
  dukpt            the ANSI X9.24 initial key and PIN key of a KSN, double length
                   unless --single; with --pin and --pan the PIN block a terminal
                   sends
PAN: 12 account digits, or a card number of 13 to 19 digits whose 12 digits
left of the check digit are used. Check values have six hex digits; replies
carry the first four unless opt88 is on.
Exit status: 0 success, 1 the connection failed or closed early, 2 a bad
command line or bad input.
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace palisim;
  CliOptions o;
  std::string error;
  if (!parse_command_line(argc, argv, o, error)) {
    return refuse_input(error + " (palisim-cli --help lists the options)");
  }
  if (o.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const std::string_view first = o.words.empty() ? "" : o.words[0];
  if (first == "key") return run_key_tool(o);
  if (first == "pin") return run_pin_tool(o);
  if (first == "dukpt") return run_dukpt_tool(o);
  return run_session(o);
}
