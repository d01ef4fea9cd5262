// The option table, the error function and the parse of one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <string_view>

#include <confuse.h>

#include "config/config.h"
#include "config/copy_text.h"
#include "config/parser.h"
#include "config/text_scan.h"
#include "config/tls_parameters.h"
#include "config/validation.h"
#include "crypto/secure_zero.h"

namespace palisim {

namespace {

std::atomic<FILE*> output_stream{nullptr};
std::atomic<ConfigurationMessageSink> message_sink{nullptr};

// Larger files are refused unread: the parser's time grows with the size, and
// it runs on the serving thread.
constexpr size_t kMaxFileSize = 1 << 20;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// A file's text, wiped when it goes: it holds the keys.
struct FileText {
  std::unique_ptr<char[]> bytes;
  size_t len = 0;
  ~FileText() {
    if (bytes) secure_zero(bytes.get(), len);
  }
};

// Reads the regular file at path into text when it is at most kMaxFileSize
// bytes and holds no NUL byte, which make the scanner slow down with their
// square. The scanner ends the process on a directory, and O_NONBLOCK keeps
// a FIFO from stalling the open. `version` receives what the file was when
// it was opened, also when its text is refused.
bool read_whole_file(const char* path, FileText& text, std::optional<FileVersion>& version) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) version = file_version(st);
  ok = ok && static_cast<size_t>(st.st_size) <= kMaxFileSize;
  if (ok) {
    // One byte more than allowed shows a file that grew after the fstat.
    text.bytes = std::make_unique_for_overwrite<char[]>(kMaxFileSize + 1);
    ssize_t n;
    do {
      n = read(fd, text.bytes.get() + text.len, kMaxFileSize + 1 - text.len);
      if (n > 0) text.len += static_cast<size_t>(n);
    } while ((n > 0 && text.len <= kMaxFileSize) || (n < 0 && errno == EINTR));
    ok = n == 0 && !std::memchr(text.bytes.get(), '\0', text.len);
  }
  close(fd);
  return ok;
}

void print_configuration_message(const char* format, va_list args) {
  FILE* out = output_stream.load();
  ConfigurationMessageSink sink = message_sink.load();
  if (!out && sink) {
    sink(format, args);
  } else {
    vfprintf(out ? out : stdout, format, args);
  }
}

void print_message(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_configuration_message(format, args);
  va_end(args);
}

// The parse under way on this thread: the library's messages name its file.
struct ParseUnderWay {
  const char* path;
  std::string_view text;
  ParseReport* report;
  int problems;  // reported so far: any refuses the file
};
thread_local ParseUnderWay parse_under_way{};

// Each problem on a line of its own, led by the file and, where the parser
// knows it, the line.
void report_problem(int line, const char* message) {
  ++parse_under_way.problems;
  ParseReport* report = parse_under_way.report;
  if (report && report->problems++ == 0) {
    report->first_line = line;
    copy_text(report->first_problem, message);
  }
  if (report && report->quiet) return;
  const char* path = parse_under_way.path ? parse_under_way.path : "";
  if (line > 0) {
    print_message("%s:%d: %s\n", path, line, message);
  } else {
    print_message("%s: %s\n", path, message);
  }
}

void print_library_message(cfg_t* cfg, const char* format, va_list args) {
  char message[1024];
  std::vsnprintf(message, sizeof message, format, args);
  const int line = cfg && cfg->line > 0 ? line_as_written(parse_under_way.text, cfg->line) : 0;
  report_problem(line, message);
}

// The options of an `atalla` section: the two keys, a row per option flag as
// the settings table lists it, the PIN and key-usage options, then the
// inject sections.
const cfg_opt_t kKeyOptions[] = {
    CFG_STR("mfk", "", CFGF_NONE),
    CFG_STR("pmfk", "", CFGF_NONE),
};
const cfg_opt_t kPinAndUsageOptions[] = {
    CFG_INT("opta0", 4, CFGF_NONE),          CFG_STR("opta1", "L", CFGF_NONE),
    CFG_STR("opta2", "B", CFGF_NONE),        CFG_STR("opte0", "", CFGF_NONE),
    CFG_STR("opte1", "", CFGF_NONE),         CFG_BOOL("opte2", cfg_false, CFGF_NONE),
    CFG_BOOL("opte3", cfg_false, CFGF_NONE), CFG_BOOL("opte4", cfg_false, CFGF_NONE),
};
using SectionOptions = std::array<cfg_opt_t, std::size(kKeyOptions) + kOptionFlags.size() +
                                                 std::size(kPinAndUsageOptions) + 2>;

// `inject` must outlive the parse of the rows.
SectionOptions section_options(InjectOptions& inject) {
  SectionOptions rows;
  cfg_opt_t* row = std::copy(std::begin(kKeyOptions), std::end(kKeyOptions), rows.begin());
  for (const OptionFlag& flag : kOptionFlags) {
    *row++ = CFG_BOOL(flag.name.data(), flag.default_value ? cfg_true : cfg_false, CFGF_NONE);
  }
  row = std::copy(std::begin(kPinAndUsageOptions), std::end(kPinAndUsageOptions), row);
  *row++ = CFG_SEC("inject", inject.data(), CFGF_MULTI);
  *row = CFG_END();
  return rows;
}

void wipe_text(char* text) {
  if (text) secure_zero(text, strlen(text));
}

// Guarded by parser_mutex().
ConfigurationParses parses;

}  // namespace

std::mutex& parser_mutex() {
  static std::mutex mutex;
  return mutex;
}

void set_configuration_output(FILE* out) {
  output_stream.store(out);
}

void set_configuration_message_sink(ConfigurationMessageSink sink) {
  message_sink.store(sink);
}

ConfigurationParses configuration_parses() {
  std::lock_guard lock(parser_mutex());
  return parses;
}

FILE* configuration_output() {
  FILE* out = output_stream.load();
  return out ? out : stdout;
}

void ConfigurationDeleter::operator()(cfg_t* cfg) const {
  std::lock_guard lock(parser_mutex());
  unsigned int sections = cfg_size(cfg, "atalla");
  for (unsigned int i = 0; i < sections; ++i) {
    cfg_t* section = cfg_getnsec(cfg, "atalla", i);
    wipe_text(cfg_getstr(section, "mfk"));
    wipe_text(cfg_getstr(section, "pmfk"));
  }
  cfg_free(cfg);
}

FileVersion file_version(const struct stat& st) {
  return {st.st_dev,          st.st_ino,         st.st_size,        st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

Configuration open_configuration(const char* path, std::optional<FileVersion>* version,
                                 ParseReport* report) {
  FileText text;
  std::optional<FileVersion> read_version;
  bool read = read_whole_file(path, text, read_version);
  if (version) *version = read_version;
  // The parser reads the bytes checked, whatever happens to the file now.
  File file(read ? fmemopen(text.bytes.get(), text.len, "r") : nullptr);
  if (!file) {
    {
      std::lock_guard lock(parser_mutex());
      ++(read_version ? parses.refused : parses.missing);
    }
    if (report) report->unreadable = true;
    if (!report || !report->quiet) {
      print_message("warning: configuration file '%s' could not be read\n", path);
    }
    return nullptr;
  }
  parse_under_way = {path, {text.bytes.get(), text.len}, report, 0};
  struct EndOfParse {
    ~EndOfParse() { parse_under_way = {}; }
  } end_of_parse;
  UnclosedItem unclosed = find_unclosed_item({text.bytes.get(), text.len});
  if (unclosed.line) report_problem(unclosed.line, unclosed.message);
  if (int line = line_of_section_beyond({text.bytes.get(), text.len}, kMaxAtallaSections)) {
    char message[64];
    std::snprintf(message, sizeof message, "more than %d atalla sections", kMaxAtallaSections);
    report_problem(line, message);
  }
  if (parse_under_way.problems > 0) {
    std::lock_guard lock(parser_mutex());
    ++parses.refused;
    return nullptr;
  }

  InjectOptions inject_rows = inject_options();
  SectionOptions atalla_options = section_options(inject_rows);
  // CFGF_NOCASE on the section itself makes its titles case-insensitive;
  // the flag given to cfg_init covers option names only.
  cfg_opt_t options[] = {
      CFG_STR("interface", "any", CFGF_NONE),
      CFG_INT("port", kDefaultPort, CFGF_NONE),
      CFG_STR("logfile", "/var/log/atalla", CFGF_NONE),
      CFG_BOOL("trace", cfg_false, CFGF_NONE),
      CFG_INT("idle_timeout", 0, CFGF_NONE),
      // No default: unset means no TLS listener.
      CFG_INT("tls_port", 0, CFGF_NODEFAULT),
      CFG_INT("tls_max_connections", kDefaultTlsMaxConnections, CFGF_NONE),
      CFG_STR("tls_certificate", "", CFGF_NONE),
      CFG_STR("tls_private_key", "", CFGF_NONE),
      CFG_STR("tls_client_ca", "", CFGF_NONE),
      // No default: unset means yes when a CA is set, no otherwise.
      CFG_STR("tls_auth_clients", nullptr, CFGF_NODEFAULT),
      CFG_STR("tls_protocols", kDefaultTlsProtocols, CFGF_NONE),
      CFG_STR("metrics", "", CFGF_NONE),
      CFG_STR("control", "", CFGF_NONE),
      CFG_STR("control_token", "", CFGF_NONE),
      CFG_INT("journal_size", kDefaultJournalSize, CFGF_NONE),
      CFG_STR("random_seed", "", CFGF_NONE),
      CFG_SEC("atalla", atalla_options.data(),
              CFGF_MULTI | CFGF_TITLE | CFGF_NO_TITLE_DUPES | CFGF_NOCASE),
      CFG_END(),
  };

  std::unique_lock lock(parser_mutex());
  cfg_t* raw = cfg_init(options, CFGF_NOCASE);
  if (!raw) return nullptr;
  cfg_set_error_function(raw, print_library_message);
  const std::pair<const char*, cfg_validate_callback_t> checks[] = {
      {"port", report_and_go_on<check_port>},
      {"idle_timeout", report_and_go_on<check_idle_timeout>},
      {"tls_port", report_and_go_on<check_tls_port>},
      {"tls_max_connections", report_and_go_on<check_tls_max_connections>},
      {"tls_auth_clients", report_and_go_on<check_tls_auth_clients>},
      {"tls_protocols", report_and_go_on<check_tls_protocols>},
      {"metrics", report_and_go_on<check_metrics_address>},
      {"control", report_and_go_on<check_control_address>},
      {"control_token", report_and_go_on<check_control_token>},
      {"journal_size", report_and_go_on<check_journal_size>},
      {"random_seed", report_and_go_on<check_random_seed>},
      {"atalla|mfk", report_and_go_on<check_key>},
      {"atalla|pmfk", report_and_go_on<check_key>},
      {"atalla|opta0", report_and_go_on<check_min_pin_len>},
      {"atalla|opta1", report_and_go_on<check_pin_sanity_indicator>},
      {"atalla|opta2", report_and_go_on<check_second_pin_indicator>},
  };
  for (const auto& [option, check] : checks)
    cfg_set_validate_func(raw, option, check);
  set_inject_checks(raw, "atalla|inject", true);
  bool loaded = cfg_parse_fp(raw, file.get()) == CFG_SUCCESS && parse_under_way.problems == 0;
  ++(loaded ? parses.loaded : parses.refused);
  lock.unlock();

  Configuration cfg(raw);
  if (!loaded) return nullptr;
  return cfg;
}

}  // namespace palisim
