// The simulated Windows version of the stand-in platform (QARVIK_WINVER).
#pragma once

#include "platform/platform.h"

// Reads a version name (95, 98, me, nt4, 2000, xp, 2003, vista) or three numbers
// MAJOR.MINOR.BUILD, each decimal or 0x hexadecimal. Null or empty means xp.
// False for anything else.
bool ParseSimulatedVersion(const char* text, PlatformVersion* version);
