// The configuration the sample requests are valid under: the shipped
// atalla.conf, whose opte0 and opte1 let commands 11, 13 and 1A move keys of
// every usage.
#pragma once

#include <string>

#include "protocol/settings.h"
#include "temp_file.h"

namespace palisim::testing {

// The usage letters the shipped file gives opte0 and opte1.
inline constexpr char kSampleUsageLetters[] = "KPdVCIDMA";

// The shipped file's text; empty when it cannot be read.
std::string sample_configuration_text();

// The sample configuration in a temporary file, removed with the object.
class SampleConfigurationFile : public TempFile {
 public:
  SampleConfigurationFile() : TempFile(sample_configuration_text(), "palisim-sample-conf") {}
};

// Settings loaded from the sample configuration as a connection loads them;
// the record defaults when it cannot be loaded.
Settings sample_settings();

}  // namespace palisim::testing
