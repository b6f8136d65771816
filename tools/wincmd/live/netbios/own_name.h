// The name Windows gives one of the machine's own addresses: ping -a of it
// shows the machine's host name, found before the name server or NetBIOS is
// asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "live/kernel/interfaces.h"

// The machine's host name when address is one of the interfaces' own; false
// when it is not, or when the name cannot be read (the other look-ups
// then name it).
bool OwnHostName(const std::vector<LiveInterface>& interfaces, uint32_t address,
                 std::string* name);
