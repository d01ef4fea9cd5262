// The one shape of every command handler.
#pragma once

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

class KeyCache;  // crypto/key_cache.h

// Checks the request's fields in order and appends exactly one reply. The
// dispatcher has counted the fields against the command's minimum. Keys come
// out of key blocks through the connection's key cache.
using Handler = void (*)(const Settings& s, KeyCache& keys, const Fields& f, ReplyBuffer& r);

}  // namespace palisim
