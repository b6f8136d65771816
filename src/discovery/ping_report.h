// The resolving ping that both TCP/IP stages run, and the name that its
// "Pinging" line gives.
#pragma once

#include <cstddef>

#include "exec/command_runner.h"

// Starts "ping -a -n 1 [-w PingWait ]address"; the caller adds the redirection.
void StartResolvingPing(CommandLine* command, const char* address);

// Copies the name of a ping marker line (from the markers' name column to the
// first blank or the line end; empty for a line too short to hold one) into
// name, as much as size holds. Returns where the name ends in the line.
const char* CutPingingName(const char* line, char* name, size_t size);
