// PALISIM_MFK: an MFK from the environment, which stands for the mfk of the
// section connections load, whether a configuration file is there or not. A
// container or CI service configured by its environment alone serves with it.
#pragma once

#include "protocol/settings.h"

namespace palisim {

inline constexpr char kMfkVariable[] = "PALISIM_MFK";

// Whether PALISIM_MFK is set, to a valid key or not.
bool environment_mfk_given();

// Puts the key of PALISIM_MFK into settings in place of any MFK they hold;
// returns false, writing nothing, when the variable is unset or not a key.
bool apply_environment_mfk(Settings& settings);

}  // namespace palisim
