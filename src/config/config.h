// The configuration file: server parameters at the top level and device
// settings in titled `atalla` sections, parsed with libConfuse.
#pragma once

#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include "config/defaults.h"
#include "config/tls_parameters.h"
#include "protocol/settings.h"

struct cfg_t;

namespace palisim {

struct ServerParameters {
  char interface_name[64] = "any";        // "any" or "localhost", up to 63 characters
  uint16_t port = kDefaultPort;           // TCP port to listen on
  char logfile[256] = "/var/log/atalla";  // read and kept; nothing writes to it
  bool trace = false;                     // the request trace, masked, unless --trace says
  TlsParameters tls;                      // the TLS listener; off unless tls_port is set
  char metrics[64] = "";                  // ADDRESS:PORT of the metrics endpoint; "" for none
};

// Wipes the key texts of a parsed configuration and frees it.
struct ConfigurationDeleter {
  void operator()(cfg_t* cfg) const;
};
using Configuration = std::unique_ptr<cfg_t, ConfigurationDeleter>;

// What tells one version of a file from another without reading it.
struct FileVersion {
  dev_t device;
  ino_t inode;
  off_t size;
  time_t modified_s;  // modification time, seconds
  long modified_ns;   // and nanoseconds
  // The change time moves on every write, also one that keeps the size and
  // restores the modification time.
  time_t changed_s;
  long changed_ns;
  bool operator==(const FileVersion&) const = default;
};
FileVersion file_version(const struct stat& st);

// What one parse of a file found, for the lines that say why a file was not
// used. Each problem is printed as "PATH:LINE: message" (or "PATH: message"
// where the line is not known) and a line feed.
struct ParseReport {
  bool quiet = false;            // set by the caller: keep the findings, print nothing
  bool unreadable = false;       // the file could not be read
  int problems = 0;              // messages of a refused file
  int first_line = 0;            // where the first was found; 0 when not known
  char first_problem[256] = "";  // its message, cut to fit
};

// Parses of the file since the program started, by result: valid, read but
// refused, or not there to read.
struct ConfigurationParses {
  uint64_t loaded = 0;
  uint64_t refused = 0;
  uint64_t missing = 0;
};
// Safe to call from any thread.
ConfigurationParses configuration_parses();

// Parses the file at path afresh. Returns none, after printing why, when the
// file cannot be read, is over 1 MiB, holds a NUL byte, has more than
// kMaxAtallaSections `atalla` sections, a "/*" comment or a section never
// closed, or is invalid (every refused value is printed). `version`, when given,
// receives the version of the file read (none when it could not be opened);
// `report`, when given, what was found wrong. Safe to call from several threads.
Configuration open_configuration(const char* path, std::optional<FileVersion>* version = nullptr,
                                 ParseReport* report = nullptr);

// More sections than this are refused before the parser sees them: it checks
// each title against every earlier one.
inline constexpr int kMaxAtallaSections = 64;

// Fills params from the top level of the file; leaves it untouched on failure.
bool load_server_parameters(ServerParameters& params, const char* path,
                            ParseReport* report = nullptr);
// The same from a parsed file.
void read_server_parameters(ServerParameters& params, cfg_t* cfg);

// Fills settings from the `atalla` section with that title. Writes nothing
// unless the file is valid and holds the section.
bool load_settings(Settings& settings, const char* path, const char* section_title);
// The same from a parsed file.
bool read_settings(Settings& settings, cfg_t* cfg, const char* section_title);

// Where the configuration's messages are printed; standard output unless
// redirected (nullptr restores it).
void set_configuration_output(FILE* out);
FILE* configuration_output();

// Takes the messages while no stream is set: the program hands them to the
// server's diagnostics, whose output never blocks. Without one they go to
// standard output.
using ConfigurationMessageSink = void (*)(const char* format, va_list args);
void set_configuration_message_sink(ConfigurationMessageSink sink);

}  // namespace palisim
