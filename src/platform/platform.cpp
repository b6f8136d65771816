#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
WaitHook g_wait_hook = nullptr;
RunCommandHook g_run_command_hook = nullptr;
ExitHook g_exit_hook = nullptr;
StartCommandHook g_start_command_hook = nullptr;
WaitAnyCommandHook g_wait_any_command_hook = nullptr;
}  // namespace

void SetWaitHook(WaitHook hook) { g_wait_hook = hook; }
void SetRunCommandHook(RunCommandHook hook) { g_run_command_hook = hook; }
void SetExitHook(ExitHook hook) { g_exit_hook = hook; }
void SetStartCommandHook(StartCommandHook hook) { g_start_command_hook = hook; }
void SetWaitAnyCommandHook(WaitAnyCommandHook hook) { g_wait_any_command_hook = hook; }

bool PlatformGetVersion(PlatformVersion* version) { return OsGetVersion(version); }

void PlatformGetTempDirectory(char* directory, size_t size) {
    OsGetTempDirectory(directory, size);
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

int PlatformStartCommand(const char* command_line) {
    std::fflush(stdout);
    if (g_start_command_hook != nullptr) return g_start_command_hook(command_line);
    return OsStartCommand(command_line);
}

int PlatformWaitAnyCommand() {
    if (g_wait_any_command_hook != nullptr) return g_wait_any_command_hook();
    return OsWaitAnyCommand();
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
