// Planted for the layer check test: crypto may not include the protocol.
#include "protocol/reply.h"
