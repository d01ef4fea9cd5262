// The reason OpenSSL gives for a failure, as one short text for a diagnostic line.
#pragma once

#include <string>

namespace palisim {

// The reason of the earliest error OpenSSL queued on this thread (the one
// nearest the cause), "unknown reason" when none; empties the queue.
std::string take_openssl_reason();

}  // namespace palisim
