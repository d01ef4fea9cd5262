// Checks the parser runs on values read from the file (never on defaults).
// Each returns 0 to accept, or prints its refusal through cfg_error and
// returns -1, which fails the whole parse; the file's parse registers them
// through report_and_go_on, so it goes on and names every refused value.
#pragma once

#include <confuse.h>

#include <string_view>

namespace palisim {

// "ADDRESS:PORT": a host name, a dotted IPv4 address or a bracketed IPv6
// address, a colon, and a port from min_port to 65535.
bool is_listen_address(std::string_view text, long min_port);

// A key as the file and PALISIM_MFK give one: 16, 32 or 48 hex digits.
bool is_key_text(std::string_view text);

int check_port(cfg_t* cfg, cfg_opt_t* opt);
int check_idle_timeout(cfg_t* cfg, cfg_opt_t* opt);
int check_metrics_address(cfg_t* cfg, cfg_opt_t* opt);
int check_key(cfg_t* cfg, cfg_opt_t* opt);
int check_min_pin_len(cfg_t* cfg, cfg_opt_t* opt);
int check_pin_sanity_indicator(cfg_t* cfg, cfg_opt_t* opt);
int check_second_pin_indicator(cfg_t* cfg, cfg_opt_t* opt);

// An inject section: its options, then the section as a whole once it ends
// (a command, one action at most, approve only where a verification is).
int check_inject_command(cfg_t* cfg, cfg_opt_t* opt);
int check_inject_probability(cfg_t* cfg, cfg_opt_t* opt);
int check_inject_delay(cfg_t* cfg, cfg_opt_t* opt);
int check_inject_reply(cfg_t* cfg, cfg_opt_t* opt);
int check_inject_section(cfg_t* cfg, cfg_opt_t* opt);

}  // namespace palisim
