// The configuration file: server parameters at the top level and device
// settings in titled `atalla` sections, parsed with libConfuse.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "config/defaults.h"
#include "protocol/settings.h"

struct cfg_t;

namespace palisim {

struct ServerParameters {
  char interface_name[64] = "any";        // "any" or "localhost", up to 63 characters
  uint16_t port = kDefaultPort;           // TCP port to listen on
  char logfile[256] = "/var/log/atalla";  // read and kept; nothing writes to it
  bool trace = false;                     // the request trace, masked, unless --trace says
};

// Wipes the key texts of a parsed configuration and frees it.
struct ConfigurationDeleter {
  void operator()(cfg_t* cfg) const;
};
using Configuration = std::unique_ptr<cfg_t, ConfigurationDeleter>;

// Parses the file at path afresh. Returns none, after printing why, when the
// file cannot be read or is invalid. Safe to call from several threads.
Configuration open_configuration(const char* path);

// Fills params from the top level of the file; leaves it untouched on failure.
bool load_server_parameters(ServerParameters& params, const char* path);

// Fills settings from the `atalla` section with that title. Writes nothing
// unless the file is valid and holds the section.
bool load_settings(Settings& settings, const char* path, const char* section_title);

// Where the configuration's messages are printed; standard output unless
// redirected (nullptr restores it).
void set_configuration_output(FILE* out);
FILE* configuration_output();

}  // namespace palisim
