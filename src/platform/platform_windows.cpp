// The Windows side of the platform seam: the Win32 API and cmd.exe.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_windows.h"

bool OsGetVersion(PlatformVersion* version) { return ReadWindowsVersion(version); }

uint32_t OsGetReportCodePage() { return ReadReportCodePage(); }

void OsGetTempDirectory(char* directory, size_t size) {
    // A directory that does not fit (or no answer at all) leaves the work
    // files in the current directory rather than in a cut path.
    DWORD length = GetTempPathA(static_cast<DWORD>(size), directory);
    if (length == 0 || length >= size) directory[0] = '\0';
}

void OsWait(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

// The adapter tools of the versions before 6 may still be writing their report
// when they return.
bool OsFileMayStillBeWritten(const char*) { return true; }

namespace {

constexpr DWORD kMaxFolderAttempts = 10000;
constexpr int kRemoveAttempts = 20;  // a tool may still hold its file open
constexpr DWORD kRemoveRetryMs = 100;

// Held by the main thread while the watch list changes, and by the control
// handler, which runs on a thread of its own, while it removes the folder.
CRITICAL_SECTION g_watch_lock;

// Removes the work folder on Ctrl-C, Ctrl-Break and the closing of the
// console, then hands the event on, so the default handler ends the process
// as it ends every interrupted program.
BOOL WINAPI OnControlEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    EnterCriticalSection(&g_watch_lock);
    for (int attempt = 0; attempt < kRemoveAttempts && !RemoveWatchedWorkFolder(); ++attempt) {
        Sleep(kRemoveRetryMs);
    }
    LeaveCriticalSection(&g_watch_lock);
    return FALSE;
}

}  // namespace

// "qarvik-" with the process id and a counter: the first name that no folder
// holds yet is this run's.
bool OsMakeWorkFolder(const char* temp_directory, char* folder, size_t size) {
    DWORD process = GetCurrentProcessId();
    for (DWORD counter = 0; counter < kMaxFolderAttempts; ++counter) {
        int length = std::snprintf(folder, size, "%sqarvik-%lx-%lu", temp_directory,
                                   static_cast<unsigned long>(process),
                                   static_cast<unsigned long>(counter));
        // The separator and the NUL must still fit.
        if (length < 0 || static_cast<size_t>(length) + 2 > size) break;
        if (CreateDirectoryA(folder, nullptr)) {
            if (!TakeRunLock(folder)) {
                NoteWindowsError(GetLastError());
                RemoveDirectoryA(folder);
                break;
            }
            std::strcat(folder, "\\");
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            NoteWindowsError(GetLastError());
            break;
        }
    }
    folder[0] = '\0';
    return false;
}

void OsHoldInterrupts() { EnterCriticalSection(&g_watch_lock); }

void OsReleaseInterrupts() { LeaveCriticalSection(&g_watch_lock); }

void OsCatchInterrupts() {
    InitializeCriticalSection(&g_watch_lock);
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

void OsRemoveFile(const char* path) { DeleteFileA(path); }

int OsRunCommand(const char* command_line) {
    int status = std::system(command_line);
    CheckWorkFolderRoom();
    return status;
}

namespace {

// Commands started and not yet waited for, by id.
HANDLE g_started[MAX_STARTED_COMMANDS];

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

constexpr int kMaxInterpreters = 3;

// The interpreters in the order they are tried: %COMSPEC%, else cmd.exe, else
// command.com (the Windows 95 family). Returns how many there are.
int InterpreterCandidates(const char* candidates[kMaxInterpreters]) {
    int count = 0;
    const char* comspec = std::getenv("COMSPEC");
    if (comspec != nullptr && comspec[0] != '\0') candidates[count++] = comspec;
    candidates[count++] = "cmd.exe";
    candidates[count++] = "command.com";
    return count;
}

HANDLE StartInterpreterProcess(const char* command_line) {
    const char* candidates[kMaxInterpreters];
    int count = InterpreterCandidates(candidates);
    for (int k = 0; k < count; ++k) {
        HANDLE process = CreateInterpreterProcess(candidates[k], command_line);
        if (process != nullptr) return process;
    }
    return nullptr;
}

}  // namespace

// Whether an interpreter starts is known only by starting one: "rem" does
// nothing in every interpreter of the family.
bool OsFindCommandInterpreter(char* tried, size_t size) {
    HANDLE process = StartInterpreterProcess("rem");
    if (process == nullptr) NoteWindowsError(GetLastError());
    if (process != nullptr) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        return true;
    }
    const char* candidates[kMaxInterpreters];
    int count = InterpreterCandidates(candidates);
    size_t length = 0;
    tried[0] = '\0';
    for (int k = 0; k < count && length < size; ++k) {
        int added = std::snprintf(tried + length, size - length, "%s%s", k > 0 ? ", " : "",
                                  candidates[k]);
        if (added < 0) break;
        length += static_cast<size_t>(added);
    }
    tried[size - 1] = '\0';  // a cut list ends inside the buffer too
    return false;
}

int OsStartCommand(const char* command_line) {
    for (int id = 0; id < MAX_STARTED_COMMANDS; ++id) {
        if (g_started[id] != nullptr) continue;
        g_started[id] = StartInterpreterProcess(command_line);
        return g_started[id] != nullptr ? id : -1;
    }
    return -1;  // already as many running as can be waited for
}

namespace {

// WaitForMultipleObjects watches at most MAXIMUM_WAIT_OBJECTS (64) handles.
// More running commands are watched in groups of 63, each by a helper thread
// that waits for its group and a stop event and ends when either is signalled;
// the main thread waits for the first helper to end, then stops the others.
// Nothing polls: an ended command is seen at once, and the waiting threads use
// no processor time. A helper costs one thread start per wait that blocks.
constexpr DWORD kGroupSize = MAXIMUM_WAIT_OBJECTS - 1;  // and the stop event
constexpr int kMaxGroups = (MAX_STARTED_COMMANDS + kGroupSize - 1) / kGroupSize;
// When a helper cannot be started the main thread looks again after this long.
constexpr DWORD kRetryMs = 10;

struct CommandGroup {
    HANDLE Handles[MAXIMUM_WAIT_OBJECTS];  // the group's commands, then the stop event
    DWORD Count;
};

CommandGroup g_groups[kMaxGroups];
HANDLE g_stop_helpers = nullptr;  // manual reset: set once one helper has ended

constexpr DWORD kHelperWaitFailed = 1;  // a helper's exit code

DWORD WINAPI WaitForGroup(LPVOID parameter) {
    const CommandGroup* group = static_cast<const CommandGroup*>(parameter);
    DWORD result = WaitForMultipleObjects(group->Count, group->Handles, FALSE, INFINITE);
    return result == WAIT_FAILED ? kHelperWaitFailed : 0;
}

// The id of a command that has ended, without waiting: the first one of
// handles; -1 when none has.
int EndedCommand(const HANDLE* handles, const int* ids, DWORD count) {
    for (DWORD first = 0; first < count; first += MAXIMUM_WAIT_OBJECTS) {
        DWORD size = count - first < MAXIMUM_WAIT_OBJECTS ? count - first : MAXIMUM_WAIT_OBJECTS;
        DWORD result = WaitForMultipleObjects(size, handles + first, FALSE, 0);
        if (result - WAIT_OBJECT_0 < size) return ids[first + result - WAIT_OBJECT_0];
    }
    return -1;
}

// More than 64 commands: one helper per group; returns once a helper has
// ended (or after kRetryMs when one could not be started), with every helper
// ended again. False when waiting failed.
bool WaitInGroups(const HANDLE* handles, DWORD count) {
    if (g_stop_helpers == nullptr) g_stop_helpers = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_stop_helpers == nullptr) return false;
    HANDLE helpers[kMaxGroups];
    DWORD helper_count = 0;
    bool all_watched = true;
    for (DWORD first = 0; first < count; first += kGroupSize) {
        CommandGroup& group = g_groups[helper_count];
        group.Count = count - first < kGroupSize ? count - first : kGroupSize;
        std::memcpy(group.Handles, handles + first, group.Count * sizeof(HANDLE));
        group.Handles[group.Count++] = g_stop_helpers;
        DWORD thread_id = 0;  // Windows 95 needs somewhere to put it
        HANDLE helper = CreateThread(nullptr, 0, WaitForGroup, &group, 0, &thread_id);
        if (helper == nullptr) {
            all_watched = false;
            continue;
        }
        helpers[helper_count++] = helper;
    }
    if (helper_count == 0) {
        Sleep(kRetryMs);
        return true;
    }
    DWORD result = WaitForMultipleObjects(helper_count, helpers, FALSE,
                                          all_watched ? INFINITE : kRetryMs);
    SetEvent(g_stop_helpers);
    WaitForMultipleObjects(helper_count, helpers, TRUE, INFINITE);
    DWORD woken = result - WAIT_OBJECT_0;
    DWORD exit_code = 0;
    if (woken < helper_count) GetExitCodeThread(helpers[woken], &exit_code);
    for (DWORD k = 0; k < helper_count; ++k) CloseHandle(helpers[k]);
    ResetEvent(g_stop_helpers);
    return result != WAIT_FAILED && exit_code != kHelperWaitFailed;
}

// Returns once one of the commands has ended; false when waiting failed.
bool WaitForOneToEnd(const HANDLE* handles, DWORD count) {
    if (count > MAXIMUM_WAIT_OBJECTS) return WaitInGroups(handles, count);
    return WaitForMultipleObjects(count, handles, FALSE, INFINITE) - WAIT_OBJECT_0 < count;
}

}  // namespace

int OsWaitAnyCommand() {
    HANDLE handles[MAX_STARTED_COMMANDS];
    int ids[MAX_STARTED_COMMANDS];
    DWORD count = 0;
    for (int id = 0; id < MAX_STARTED_COMMANDS; ++id) {
        if (g_started[id] == nullptr) continue;
        handles[count] = g_started[id];
        ids[count] = id;
        ++count;
    }
    if (count == 0) return -1;
    int id = EndedCommand(handles, ids, count);
    while (id < 0) {
        if (!WaitForOneToEnd(handles, count)) return -1;
        id = EndedCommand(handles, ids, count);
    }
    CloseHandle(g_started[id]);
    g_started[id] = nullptr;
    CheckWorkFolderRoom();
    return id;
}

// Standard output stays in the C runtime's text mode: every "\n" reaches a
// redirected file or a pipe as CR LF, as from any other Windows console program.
void OsPrepareConsole() {}
