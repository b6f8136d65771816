// The seam between Qarvik and the operating system. Everything the program asks
// of the platform goes through these functions: the Windows build answers them
// with the Win32 API, other systems with the stand-in platform (wincmd).
#pragma once

#include <cstddef>
#include <cstdint>

// What the version probe reports: enough to tell the Windows versions apart.
struct PlatformVersion {
    uint32_t MajorVersion;
    uint32_t MinorVersion;
    uint32_t BuildNumber;  // the whole 32-bit build number
};

// False when the version cannot be read.
bool PlatformGetVersion(PlatformVersion* version);

// The temp directory, ending with its separator, as a NUL-terminated text of
// at most size - 1 bytes.
void PlatformGetTempDirectory(char* directory, size_t size);

// Waits the given milliseconds (or whatever a test put in its place).
void PlatformWait(int milliseconds);

// Runs one command line through the command interpreter and returns when it has
// ended. Standard output is flushed first so the console trace keeps its order.
int PlatformRunCommand(const char* command_line);

// Ends the process (or hands the status to a test's replacement, which must not
// return normally).
[[noreturn]] void PlatformExit(int status);

// Readies standard output for the console trace. Called once at start. Lines
// end as the platform's text mode ends them: LF on POSIX systems, CR LF on
// Windows.
void PlatformPrepareConsole();

// Formatted console output, flushed at once so progress marks show while the
// tools run.
void ConsolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Replacements for tests and fuzz targets; nullptr restores the real one.
using WaitHook = void (*)(int milliseconds);
using RunCommandHook = int (*)(const char* command_line);
using ExitHook = void (*)(int status);  // must throw or end the process
void SetWaitHook(WaitHook hook);
void SetRunCommandHook(RunCommandHook hook);
void SetExitHook(ExitHook hook);

// The operating system's own implementations, one file per platform.
bool OsGetVersion(PlatformVersion* version);
void OsGetTempDirectory(char* directory, size_t size);
void OsWait(int milliseconds);
int OsRunCommand(const char* command_line);
void OsPrepareConsole();
