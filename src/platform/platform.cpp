#include "platform/platform.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
WaitHook g_wait_hook = nullptr;
RunCommandHook g_run_command_hook = nullptr;
ExitHook g_exit_hook = nullptr;

// What an interruption removes. Written only while the handlers are held off,
// and prepared in full before it is armed, so a handler reads it as it stands.
// The run's paths fit: they are at most 1024 bytes with their NUL.
constexpr int kMaxWatchedFiles = 16;
constexpr size_t kWatchedPathSize = 1024;
char g_watched_folder[kWatchedPathSize];
char g_watched_files[kMaxWatchedFiles][kWatchedPathSize];
int g_watched_file_count = 0;
volatile std::sig_atomic_t g_watch_armed = 0;
bool g_interrupts_caught = false;

// The handlers go in before the first watch: until a folder is armed they
// only end the process as the signal's default would.
void CatchInterruptsOnce() {
    if (g_interrupts_caught) return;
    OsCatchInterrupts();
    g_interrupts_caught = true;
}

void CopyWatchedPath(char (&slot)[kWatchedPathSize], const char* path) {
    std::strncpy(slot, path, sizeof slot - 1);
    slot[sizeof slot - 1] = '\0';
}
}  // namespace

void SetWaitHook(WaitHook hook) { g_wait_hook = hook; }
void SetRunCommandHook(RunCommandHook hook) { g_run_command_hook = hook; }
void SetExitHook(ExitHook hook) { g_exit_hook = hook; }

bool PlatformGetVersion(PlatformVersion* version) { return OsGetVersion(version); }

void PlatformGetTempDirectory(char* directory, size_t size) {
    OsGetTempDirectory(directory, size);
}

bool PlatformMakeWorkFolder(const char* temp_directory, char* folder, size_t size) {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    bool made = OsMakeWorkFolder(temp_directory, folder, size);
    if (made) {
        CopyWatchedPath(g_watched_folder, folder);
        g_watched_file_count = 0;
        g_watch_armed = 1;
    }
    OsReleaseInterrupts();
    return made;
}

void PlatformWatchWorkFile(const char* path) {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    if (g_watch_armed != 0 && g_watched_file_count < kMaxWatchedFiles) {
        CopyWatchedPath(g_watched_files[g_watched_file_count], path);
        ++g_watched_file_count;
    }
    OsReleaseInterrupts();
}

void PlatformRemoveWorkFolder() {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    RemoveWatchedWorkFolder();
    g_watch_armed = 0;
    OsReleaseInterrupts();
}

bool RemoveWatchedWorkFolder() {
    if (g_watch_armed == 0) return true;
    for (int k = 0; k < g_watched_file_count; ++k) OsRemoveFile(g_watched_files[k]);
    return OsRemoveFolder(g_watched_folder);
}

void PlatformWait(int milliseconds) {
    if (g_wait_hook != nullptr) {
        g_wait_hook(milliseconds);
        return;
    }
    OsWait(milliseconds);
}

int PlatformRunCommand(const char* command_line) {
    std::fflush(stdout);
    if (g_run_command_hook != nullptr) return g_run_command_hook(command_line);
    return OsRunCommand(command_line);
}

void PlatformExit(int status) {
    std::fflush(stdout);
    if (g_exit_hook != nullptr) g_exit_hook(status);
    std::exit(status);
}

void PlatformPrepareConsole() { OsPrepareConsole(); }

void ConsolePrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}
