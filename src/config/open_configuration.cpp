// The option table, the error function and the parse of one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
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

  cfg_opt_t atalla_options[] = {
      CFG_STR("mfk", "", CFGF_NONE),
      CFG_STR("pmfk", "", CFGF_NONE),
      CFG_BOOL("opt20", cfg_false, CFGF_NONE),
      CFG_BOOL("opt21", cfg_false, CFGF_NONE),
      CFG_BOOL("opt23", cfg_false, CFGF_NONE),
      CFG_BOOL("opt27", cfg_false, CFGF_NONE),
      CFG_BOOL("opt44", cfg_false, CFGF_NONE),
      CFG_BOOL("opt60", cfg_false, CFGF_NONE),
      CFG_BOOL("opt61", cfg_false, CFGF_NONE),
      CFG_BOOL("opt62", cfg_true, CFGF_NONE),
      CFG_BOOL("opt63", cfg_true, CFGF_NONE),
      CFG_BOOL("opt64", cfg_false, CFGF_NONE),
      CFG_BOOL("opt66", cfg_false, CFGF_NONE),
      CFG_BOOL("opt68", cfg_false, CFGF_NONE),
      CFG_BOOL("opt69", cfg_false, CFGF_NONE),
      CFG_BOOL("opt6b", cfg_false, CFGF_NONE),
      CFG_BOOL("opt6c", cfg_false, CFGF_NONE),
      CFG_BOOL("opt6e", cfg_false, CFGF_NONE),
      CFG_BOOL("opt6f", cfg_false, CFGF_NONE),
      CFG_BOOL("opt88", cfg_false, CFGF_NONE),
      CFG_BOOL("opt8a", cfg_false, CFGF_NONE),
      CFG_BOOL("opt8b", cfg_false, CFGF_NONE),
      CFG_BOOL("opt8c", cfg_false, CFGF_NONE),
      CFG_BOOL("opt8e", cfg_false, CFGF_NONE),
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
  // CFGF_NOCASE on the section itself makes its titles case-insensitive;
  // the flag given to cfg_init covers option names only.
  cfg_opt_t options[] = {
      CFG_STR("interface", "any", CFGF_NONE),
      CFG_INT("port", 7000, CFGF_NONE),
      CFG_STR("logfile", "/var/log/atalla", CFGF_NONE),
      CFG_SEC("atalla", atalla_options,
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
  cfg_set_validate_func(raw, "atalla|opte0", accept_any_value);
  cfg_set_validate_func(raw, "atalla|opte1", accept_any_value);
  int result = cfg_parse_fp(raw, file.get());
  lock.unlock();

  Configuration cfg(raw);
  if (result != CFG_SUCCESS) return nullptr;
  return cfg;
}

}  // namespace palisim
