// The Windows version and report code page as the system itself reports them.
#include <windows.h>

#include <cstring>

#include "contract/windows_version.h"

namespace {

// The product type of the extended version record. Only asked for from
// version 6 on: the oldest systems refuse the extended record.
bool IsServerProduct() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != 1) return false;
    return info.wProductType != VER_NT_WORKSTATION;
}

}  // namespace

bool ReadWindowsVersion(PlatformVersion* version) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
    if (GetVersionExA(&info) != 1) return false;
    version->MajorVersion = info.dwMajorVersion;
    version->MinorVersion = info.dwMinorVersion;
    version->BuildNumber = info.dwBuildNumber;
    version->IsServer = IsVersion6OrLater(*version) && IsServerProduct();
    return true;
}

// The tools print in the console's output code page; a process without a
// console gets 0 there, and the tools then use the OEM code page.
uint32_t ReadReportCodePage() {
    UINT code_page = GetConsoleOutputCP();
    return code_page != 0 ? code_page : GetOEMCP();
}
