#include "protocol/settings.h"

#include <string.h>

namespace palisim {

const std::array<OptionFlag, 22> kOptionFlags = {{
    {"opt20", &Settings::opt20}, {"opt21", &Settings::opt21}, {"opt23", &Settings::opt23},
    {"opt27", &Settings::opt27}, {"opt44", &Settings::opt44}, {"opt60", &Settings::opt60},
    {"opt61", &Settings::opt61}, {"opt62", &Settings::opt62}, {"opt63", &Settings::opt63},
    {"opt64", &Settings::opt64}, {"opt66", &Settings::opt66}, {"opt68", &Settings::opt68},
    {"opt69", &Settings::opt69}, {"opt6b", &Settings::opt6b}, {"opt6c", &Settings::opt6c},
    {"opt6e", &Settings::opt6e}, {"opt6f", &Settings::opt6f}, {"opt88", &Settings::opt88},
    {"opt8a", &Settings::opt8a}, {"opt8b", &Settings::opt8b}, {"opt8c", &Settings::opt8c},
    {"opt8e", &Settings::opt8e},
}};

void apply_default_settings(Settings& s) {
  wipe_settings(s);
  s = Settings{};
}

void wipe_settings(Settings& s) {
  explicit_bzero(s.mfk.data(), s.mfk.size());
  explicit_bzero(s.pmfk.data(), s.pmfk.size());
}

}  // namespace palisim
