// The simulated Windows version and report code page of the stand-in
// platform, from the environment that Qarvik and wincmd share.
#include <cstdlib>

#include "contract/windows_version.h"

bool ReadWindowsVersion(PlatformVersion* version) {
    return ParseSimulatedVersion(std::getenv("QARVIK_WINVER"), version);
}

uint32_t ReadReportCodePage() { return ParseSimulatedCodePage(std::getenv("QARVIK_CODEPAGE")); }
