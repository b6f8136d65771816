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

// A text-mode standard output would turn every "\n" into CR LF, so a console
// trace saved to a file would differ from the other platforms' byte for byte.
// The console itself starts a new line at a bare LF.
void OsPrepareConsole() { _setmode(_fileno(stdout), _O_BINARY); }
