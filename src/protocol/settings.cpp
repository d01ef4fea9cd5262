#include "protocol/settings.h"

#include <string.h>

namespace palisim {

void apply_default_settings(Settings& s) {
  wipe_settings(s);
  s = Settings{};
}

void wipe_settings(Settings& s) {
  explicit_bzero(s.mfk.data(), s.mfk.size());
  explicit_bzero(s.pmfk.data(), s.pmfk.size());
}

}  // namespace palisim
