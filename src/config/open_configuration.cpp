// The option table, the error function and the parse of one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <mutex>

#include <confuse.h>

#include "config/config.h"
#include "config/validation.h"
#include "crypto/secure_zero.h"

namespace palisim {

namespace {

std::atomic<FILE*> output_stream{nullptr};

// libConfuse's scanner keeps its state in globals, and freeing a root
// configuration resets them, so parsing and freeing take turns process-wide.
std::mutex& parser_mutex() {
  static std::mutex mutex;
  return mutex;
}

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Opens path only when it names a regular file: the scanner ends the process
// on a directory, and O_NONBLOCK keeps a FIFO from stalling the open.
File open_regular_file(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "r");
  if (!file) close(fd);
  return File(file);
}

void print_library_message(cfg_t*, const char* format, va_list args) {
  vfprintf(configuration_output(), format, args);
}

// The options of an `atalla` section: the two keys, a row per option flag as
// the settings table lists it, then the PIN and key-usage options.
const cfg_opt_t kKeyOptions[] = {
    CFG_STR("mfk", "", CFGF_NONE),
    CFG_STR("pmfk", "", CFGF_NONE),
};
const cfg_opt_t kPinAndUsageOptions[] = {
    CFG_INT("opta0", 4, CFGF_NONE),
    CFG_STR("opta1", "L", CFGF_NONE),
    CFG_STR("opta2", "B", CFGF_NONE),
    CFG_STR("opte0", "", CFGF_NONE),
    CFG_STR("opte1", "", CFGF_NONE),
    CFG_BOOL("opte2", cfg_false, CFGF_NONE),
    CFG_BOOL("opte3", cfg_false, CFGF_NONE),
    CFG_BOOL("opte4", cfg_false, CFGF_NONE),
    CFG_END(),
};
using SectionOptions = std::array<cfg_opt_t, std::size(kKeyOptions) + kOptionFlags.size() +
                                                 std::size(kPinAndUsageOptions)>;

SectionOptions section_options() {
  SectionOptions rows;
  cfg_opt_t* row = std::copy(std::begin(kKeyOptions), std::end(kKeyOptions), rows.begin());
  for (const OptionFlag& flag : kOptionFlags) {
    *row++ = CFG_BOOL(flag.name.data(), flag.default_value ? cfg_true : cfg_false, CFGF_NONE);
  }
  std::copy(std::begin(kPinAndUsageOptions), std::end(kPinAndUsageOptions), row);
  return rows;
}

void wipe_text(char* text) {
  if (text) secure_zero(text, strlen(text));
}

}  // namespace

void set_configuration_output(FILE* out) {
  output_stream.store(out);
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

Configuration open_configuration(const char* path) {
  File file = open_regular_file(path);
  if (!file) {
    fprintf(configuration_output(), "warning: configuration file '%s' could not be read\n", path);
    return nullptr;
  }

  SectionOptions atalla_options = section_options();
  // CFGF_NOCASE on the section itself makes its titles case-insensitive;
  // the flag given to cfg_init covers option names only.
  cfg_opt_t options[] = {
      CFG_STR("interface", "any", CFGF_NONE),
      CFG_INT("port", kDefaultPort, CFGF_NONE),
      CFG_STR("logfile", "/var/log/atalla", CFGF_NONE),
      CFG_BOOL("trace", cfg_false, CFGF_NONE),
      CFG_SEC("atalla", atalla_options.data(),
              CFGF_MULTI | CFGF_TITLE | CFGF_NO_TITLE_DUPES | CFGF_NOCASE),
      CFG_END(),
  };

  std::unique_lock lock(parser_mutex());
  cfg_t* raw = cfg_init(options, CFGF_NOCASE);
  if (!raw) return nullptr;
  cfg_set_error_function(raw, print_library_message);
  cfg_set_validate_func(raw, "port", check_port);
  cfg_set_validate_func(raw, "atalla|mfk", check_key);
  cfg_set_validate_func(raw, "atalla|pmfk", check_key);
  cfg_set_validate_func(raw, "atalla|opta0", check_min_pin_len);
  cfg_set_validate_func(raw, "atalla|opta1", check_pin_sanity_indicator);
  cfg_set_validate_func(raw, "atalla|opta2", check_second_pin_indicator);
  int result = cfg_parse_fp(raw, file.get());
  lock.unlock();

  Configuration cfg(raw);
  if (result != CFG_SUCCESS) return nullptr;
  return cfg;
}

}  // namespace palisim
