// The one shape of every command handler.
#pragma once

#include "protocol/fields.h"
#include "protocol/reply.h"
#include "protocol/settings.h"

namespace palisim {

// The settings, key cache, fields and reply of one request, with the field
// readers the handlers share (commands/request_context.h).
class RequestContext;

// Checks the request's fields in order and appends exactly one reply. The
// dispatcher has counted the fields against the command's minimum. Keys come
// out of key blocks through the connection's key cache.
using Handler = void (*)(RequestContext& c);

}  // namespace palisim
