// The simulated Windows version of the stand-in platform (QARVIK_WINVER).
#pragma once

#include "platform/platform.h"

// Reads a version name (95, 98, me, nt4, 2000, xp, 2003; vista, 7, 8, 8.1, 10,
// 11; the servers 2008, 2008r2, 2012, 2012r2, 2016, 2019, 2022, 2025) or three
// numbers MAJOR.MINOR.BUILD, each decimal or 0x hexadecimal, which describe a
// workstation. Null or empty means xp. False for anything else.
bool ParseSimulatedVersion(const char* text, PlatformVersion* version);

// The simulated console code page (QARVIK_CODEPAGE): a decimal number; null,
// empty or anything else gives 932, the code page of Qarvik's own texts.
uint32_t ParseSimulatedCodePage(const char* text);
