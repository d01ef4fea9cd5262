// What the simulator uses when neither the command line nor the file says.
#pragma once

#include <cstdint>

namespace palisim {

inline constexpr char kDefaultConfigurationPath[] = "atalla.conf";  // in the working directory
inline constexpr uint16_t kDefaultPort = 7000;
// The `atalla` section whose settings the connections load.
inline constexpr char kDefaultSectionTitle[] = "default";
// Requests the control port's journal keeps, unless journal_size says.
inline constexpr int32_t kDefaultJournalSize = 10'000;
inline constexpr long kMaxJournalSize = 100'000;

}  // namespace palisim
