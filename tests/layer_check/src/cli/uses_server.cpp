// Planted for the layer check test: the tool may use the payment algorithms but no server.
#include "payments/dukpt.h"
#include "server/server.h"
