// The checks of the key tool's inputs. Each returns false with one line of
// reason in error, naming the argument by what.
#pragma once

#include <string>
#include <string_view>

#include "crypto/key.h"
#include "protocol/settings.h"

namespace palisim {

// The longest card number a PAN argument may be (ISO 7812).
inline constexpr size_t kMaxPanLen = 19;

// 16, 32 or 48 hex digits, in either case.
bool read_key_argument(std::string_view text, std::string_view what, Key& key, std::string& error);

// A PIN of 4 to 12 decimal digits.
bool read_pin_argument(std::string_view text, std::string& error);

// The 12 account digits of a PIN block: 12 digits are taken as they are, as
// the request fields take them; a card number of 13 to 19 digits gives the
// 12 to the left of its check digit.
bool read_pan_argument(std::string_view text, std::string_view& account, std::string& error);

// The MFK and device options the simulator would use: --mfk (with every
// option at its default), else the `default` section of --config, else of
// atalla.conf in the working directory or, when there is none, of the
// installed /etc/palisim/atalla.conf (saying so on standard error).
bool load_tool_settings(std::string_view config, std::string_view mfk, Settings& s,
                        std::string& error);

}  // namespace palisim
