// Handlers of the host commands, one shape for all (see protocol/command_table.h).
#pragma once

#include "protocol/command_table.h"
