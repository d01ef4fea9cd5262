#include "config/environment_mfk.h"

#include <cstdlib>
#include <cstring>

#include "config/validation.h"
#include "crypto/hex.h"
#include "crypto/secure_zero.h"

namespace palisim {

// Read afresh each time: the environment outlives every copy of the key, so
// keeping one more would only add a place to wipe.
bool environment_mfk_given() {
  return std::getenv(kMfkVariable) != nullptr;
}

bool apply_environment_mfk(Settings& settings) {
  const char* text = std::getenv(kMfkVariable);
  if (!text || !is_key_text(text)) return false;
  secure_zero(settings.mfk.data(), settings.mfk.size());
  size_t digits = std::strlen(text);
  hex_to_binary(settings.mfk.data(), text, digits);
  settings.mfk_len = static_cast<int32_t>(digits / 2);
  settings.mfk_present = 1;
  return true;
}

}  // namespace palisim
