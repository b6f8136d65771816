// The Windows side of the platform seam: the Win32 API and cmd.exe.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool OsGetVersion(PlatformVersion* version) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
    if (GetVersionExA(&info) != 1) return false;
    version->MajorVersion = info.dwMajorVersion;
    version->MinorVersion = info.dwMinorVersion;
    version->BuildNumber = info.dwBuildNumber;
    return true;
}

void OsGetTempDirectory(char* directory, size_t size) {
    // A directory that does not fit (or no answer at all) leaves the work
    // files in the current directory rather than in a cut path.
    DWORD length = GetTempPathA(static_cast<DWORD>(size), directory);
    if (length == 0 || length >= size) directory[0] = '\0';
}

void OsWait(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

int OsRunCommand(const char* command_line) { return std::system(command_line); }

// Standard output stays in the C runtime's text mode: every "\n" reaches a
// redirected file or a pipe as CR LF, as from any other Windows console program.
void OsPrepareConsole() {}
