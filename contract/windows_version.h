// The Windows version both sides see, and the simulated one of the stand-in
// platform (QARVIK_WINVER, QARVIK_CODEPAGE).
#pragma once

#include <cstdint>

// What the version probe reports: enough to tell the Windows versions apart.
struct PlatformVersion {
    uint32_t MajorVersion;
    uint32_t MinorVersion;
    uint32_t BuildNumber;  // the whole 32-bit build number
    bool IsServer;         // a server product; asked for from version 6 on only
};

// Windows 95, 98 and Me, which keep their version in the build number's high word.
inline bool IsWin95Family(const PlatformVersion& version) {
    return (version.BuildNumber & 0x04000000) != 0;
}

// Versions 6 and later (Vista on): their tools print in the language of the
// console and have written their reports when they return, and server products
// are told apart.
inline bool IsVersion6OrLater(const PlatformVersion& version) {
    return !IsWin95Family(version) && version.MajorVersion >= 6;
}

// The code page of Qarvik's own texts and of the tools' Japanese reports.
constexpr uint32_t CODE_PAGE_JAPANESE = 932;

// The version the tools report for and the code page they print in: on
// Windows the system's own (the console's output code page), elsewhere the
// simulated ones of QARVIK_WINVER and QARVIK_CODEPAGE. False when the version
// cannot be read, or QARVIK_WINVER names none.
bool ReadWindowsVersion(PlatformVersion* version);
uint32_t ReadReportCodePage();

// Reads a version name (95, 98, me, nt4, 2000, xp, 2003; vista, 7, 8, 8.1, 10,
// 11; the servers 2008, 2008r2, 2012, 2012r2, 2016, 2019, 2022, 2025) or three
// numbers MAJOR.MINOR.BUILD, each decimal or 0x hexadecimal, which describe a
// workstation. Null or empty means xp. False for anything else.
bool ParseSimulatedVersion(const char* text, PlatformVersion* version);

// The simulated console code page (QARVIK_CODEPAGE): a decimal number; null,
// empty or anything else gives 932, the code page of Qarvik's own texts.
uint32_t ParseSimulatedCodePage(const char* text);
