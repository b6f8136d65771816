// The stand-in side of the platform seam for non-Windows hosts: the simulated
// Windows version comes from QARVIK_WINVER, the temp directory from TMPDIR, and
// command lines run through $COMSPEC or the wincmd beside the program.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "platform/winver.h"

extern char** environ;

bool OsGetVersion(PlatformVersion* version) {
    return ParseSimulatedVersion(std::getenv("QARVIK_WINVER"), version);
}

void OsGetTempDirectory(char* directory, size_t size) {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir == nullptr || tmpdir[0] == '\0') tmpdir = "/tmp";
    size_t length = std::strlen(tmpdir);
    bool needs_separator = tmpdir[length - 1] != '/';
    // A directory that does not fit falls back to /tmp rather than a cut path.
    if (length + (needs_separator ? 1 : 0) >= size) {
        tmpdir = "/tmp";
        length = 4;
        needs_separator = true;
    }
    std::snprintf(directory, size, "%s%s", tmpdir, needs_separator ? "/" : "");
}

void OsWait(int milliseconds) {
    timespec delay{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// Standard output has no text mode here: its bytes are the program's.
void OsPrepareConsole() {}

namespace {

// Starts interpreter /c command_line; -1 when the interpreter cannot be started.
pid_t StartInterpreter(const char* interpreter, const char* command_line) {
    char* argv[] = {const_cast<char*>(interpreter), const_cast<char*>("/c"),
                    const_cast<char*>(command_line), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, interpreter, nullptr, nullptr, argv, environ) != 0) return -1;
    return child;
}

// The wincmd that was built beside this program.
bool WincmdBesideProgram(char* path, size_t size) {
    ssize_t length = readlink("/proc/self/exe", path, size - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return false;
    static const char kName[] = "wincmd";
    if (static_cast<size_t>(slash + 1 - path) + sizeof kName > size) return false;
    std::memcpy(slash + 1, kName, sizeof kName);
    return true;
}

// $COMSPEC when it is set and can be started, else the wincmd beside the
// program; -1 when neither starts.
pid_t StartCommandInterpreter(const char* command_line) {
    const char* comspec = std::getenv("COMSPEC");
    if (comspec != nullptr && comspec[0] != '\0') {
        pid_t child = StartInterpreter(comspec, command_line);
        if (child > 0) return child;
    }
    char wincmd[4096];
    if (!WincmdBesideProgram(wincmd, sizeof wincmd)) return -1;
    return StartInterpreter(wincmd, command_line);
}

// Waits for child (any child when child is -1); the ended child, or -1 when
// there is none to wait for.
pid_t WaitForChild(pid_t child, int* status) {
    for (;;) {
        pid_t ended = waitpid(child, status, 0);
        if (ended >= 0 || errno != EINTR) return ended;
    }
}

}  // namespace

int OsRunCommand(const char* command_line) {
    pid_t child = StartCommandInterpreter(command_line);
    if (child < 0) return -1;
    int status = 0;
    WaitForChild(child, &status);
    return status;
}

int OsStartCommand(const char* command_line) {
    return static_cast<int>(StartCommandInterpreter(command_line));
}

int OsWaitAnyCommand() {
    int status = 0;
    return static_cast<int>(WaitForChild(-1, &status));
}
