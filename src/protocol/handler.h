// The one shape of every command handler.
#pragma once

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// Checks the request's fields in order and appends exactly one reply. The
// dispatcher has counted the fields against the command's minimum.
using Handler = void (*)(const Settings& s, const Fields& f, ReplyBuffer& r);

}  // namespace palisim
