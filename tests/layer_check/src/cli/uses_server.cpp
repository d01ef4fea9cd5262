// Planted for the layer check test: the tool may use the commands but no server.
#include "commands/dukpt.h"
#include "server/server.h"
