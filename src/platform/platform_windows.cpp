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

namespace {

// Commands started and not yet waited for, by id; WaitForMultipleObjects
// watches at most this many at once.
HANDLE g_started[MAXIMUM_WAIT_OBJECTS];

// Creates "interpreter /c command_line" as its own process, with the
// interpreter in quotes when its path holds a blank. Only calls that Windows 95
// and NT 4.0 both provide.
HANDLE CreateInterpreterProcess(const char* interpreter, const char* command_line) {
    static char text[MAX_PATH + 8 + 4096];
    const char* quote = std::strchr(interpreter, ' ') != nullptr ? "\"" : "";
    int length = std::snprintf(text, sizeof text, "%s%s%s /c %s", quote, interpreter, quote,
                               command_line);
    if (length < 0 || static_cast<size_t>(length) >= sizeof text) return nullptr;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // Handles are inherited so the tools' messages reach the console, as with system().
    if (!CreateProcessA(nullptr, text, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// %COMSPEC%, else cmd.exe, else command.com (the Windows 95 family).
HANDLE StartInterpreterProcess(const char* command_line) {
    const char* comspec = std::getenv("COMSPEC");
    if (comspec != nullptr && comspec[0] != '\0') {
        HANDLE process = CreateInterpreterProcess(comspec, command_line);
        if (process != nullptr) return process;
    }
    HANDLE process = CreateInterpreterProcess("cmd.exe", command_line);
    if (process != nullptr) return process;
    return CreateInterpreterProcess("command.com", command_line);
}

}  // namespace

int OsStartCommand(const char* command_line) {
    for (int id = 0; id < MAXIMUM_WAIT_OBJECTS; ++id) {
        if (g_started[id] != nullptr) continue;
        g_started[id] = StartInterpreterProcess(command_line);
        return g_started[id] != nullptr ? id : -1;
    }
    return -1;  // already as many running as can be waited for
}

int OsWaitAnyCommand() {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    int ids[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (int id = 0; id < MAXIMUM_WAIT_OBJECTS; ++id) {
        if (g_started[id] == nullptr) continue;
        handles[count] = g_started[id];
        ids[count] = id;
        ++count;
    }
    if (count == 0) return -1;
    DWORD result = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (result >= WAIT_OBJECT_0 + count) return -1;
    int id = ids[result - WAIT_OBJECT_0];
    CloseHandle(g_started[id]);
    g_started[id] = nullptr;
    return id;
}

// A text-mode standard output would turn every "\n" into CR LF, so a console
// trace saved to a file would differ from the other platforms' byte for byte.
// The console itself starts a new line at a bare LF.
void OsPrepareConsole() { _setmode(_fileno(stdout), _O_BINARY); }
