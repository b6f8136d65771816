// The resolving ping that both TCP/IP stages run, and the name that its
// "Pinging" line gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exec/command_runner.h"
#include "state/run_state.h"

// Starts "ping -a -n 1 [-w PingWait ]address"; the caller adds the redirection.
void StartResolvingPing(CommandLine* command, const char* address);

// Copies the name of a ping marker line (from the markers' name column to the
// first blank or the line end; empty for a line too short to hold one) into
// name, as much as size holds. Returns where the name ends in the line.
const char* CutPingingName(const char* line, char* name, size_t size);

// Whether text holds an address that may go into a command line: 1 to 15
// digits and dots.
bool IsDottedDecimal(const char* text, size_t length);

// The address a ping marker line was sent to: the one in brackets after the
// name, or the name itself when nothing resolved. False (address untouched)
// when neither is dotted decimal or a "[" has no "]".
bool CutPingingAddress(const char* line, char address[ADDRESS_SIZE]);

// Reads "%d.%d.%d.%d" into a 32-bit value, the first number in the top byte and
// only the low 8 bits of each number counting. False when it does not read as
// four numbers.
bool ReadDottedQuad(const char* text, uint32_t* value);
