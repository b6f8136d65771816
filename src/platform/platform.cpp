#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
WaitHook g_wait_hook = nullptr;
RunCommandHook g_run_command_hook = nullptr;
ExitHook g_exit_hook = nullptr;
StartCommandHook g_start_command_hook = nullptr;
WaitAnyCommandHook g_wait_any_command_hook = nullptr;
ConsoleWriter g_console_writer = nullptr;
ConsoleWriter g_typed_writer = nullptr;

// What an interruption removes: the folder and the names of the files in it.
// Written only while the handlers are held off, and prepared in full before it
// is armed, so a handler reads it as it stands. Room for the twelve work files,
// four copies of them for every command that can run at once (the probe
// slots' files).
constexpr int kMaxWatchedFiles = 12 + 4 * MAX_STARTED_COMMANDS;
constexpr size_t kWatchedPathSize = 1024;  // the run's paths fit, with their NUL
constexpr size_t kWatchedNameSize = 32;
char g_watched_folder[kWatchedPathSize];
size_t g_watched_folder_length = 0;
char g_watched_names[kMaxWatchedFiles][kWatchedNameSize];
int g_watched_file_count = 0;
volatile std::sig_atomic_t g_watch_armed = 0;
bool g_interrupts_caught = false;
// The response file's new file while it is written: an interruption removes
// it too, so nothing is left beside the response file.
constexpr size_t kNewFilePathSize = 4096 + 32;
char g_new_file[kNewFilePathSize];
volatile std::sig_atomic_t g_new_file_watched = 0;
// The reason noted for the next failure to report, and the first lost work
// file's reason.
constexpr size_t kReasonSize = 256;
char g_system_reason[kReasonSize];
char g_lost_work_file[kReasonSize];
// The command whose end lost its report, when that was the first loss.
constexpr size_t kLostCommandSize = 4096 + 64;
char g_lost_command[kLostCommandSize];
// Where a handler puts a watched file's path together: no library call does
// that safely inside a signal handler.
char g_removal_path[kWatchedPathSize + kWatchedNameSize];

// The handlers go in before the first watch: until a folder is armed they
// only end the process as the signal's default would.
void CatchInterruptsOnce() {
    if (g_interrupts_caught) return;
    OsCatchInterrupts();
    g_interrupts_caught = true;
}

bool IsWatched(const char* name) {
    for (int k = 0; k < g_watched_file_count; ++k) {
        if (std::strcmp(g_watched_names[k], name) == 0) return true;
    }
    return false;
}

// Adds the name of a file inside the watched folder, once.
void WatchName(const char* path) {
    if (std::strncmp(path, g_watched_folder, g_watched_folder_length) != 0) return;
    const char* name = path + g_watched_folder_length;
    if (std::strlen(name) >= kWatchedNameSize || IsWatched(name)) return;
    if (g_watched_file_count == kMaxWatchedFiles) return;
    std::strcpy(g_watched_names[g_watched_file_count], name);
    ++g_watched_file_count;
}

// The watched folder followed by a name, with plain byte copies.
const char* RemovalPath(const char* name) {
    size_t length = 0;
    for (const char* c = g_watched_folder; *c != '\0'; ++c) g_removal_path[length++] = *c;
    for (const char* c = name; *c != '\0'; ++c) g_removal_path[length++] = *c;
    g_removal_path[length] = '\0';
    return g_removal_path;
}

// Formats one console text in full and hands it to the console writer.
void WriteFormatted(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) return;
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (text == nullptr) return;
    std::vsnprintf(text, static_cast<size_t>(length) + 1, format, arguments);
    g_console_writer(text, static_cast<size_t>(length));
    std::free(text);
}
}  // namespace

void SetWaitHook(WaitHook hook) { g_wait_hook = hook; }
void SetRunCommandHook(RunCommandHook hook) { g_run_command_hook = hook; }
void SetExitHook(ExitHook hook) { g_exit_hook = hook; }
void SetStartCommandHook(StartCommandHook hook) { g_start_command_hook = hook; }
void SetWaitAnyCommandHook(WaitAnyCommandHook hook) { g_wait_any_command_hook = hook; }
void SetConsoleWriter(ConsoleWriter writer, ConsoleWriter typed_writer) {
    g_console_writer = writer;
    g_typed_writer = typed_writer;
}

bool PlatformGetVersion(PlatformVersion* version) { return OsGetVersion(version); }

uint32_t PlatformGetReportCodePage() { return OsGetReportCodePage(); }

void PlatformGetTempDirectory(char* directory, size_t size) {
    OsGetTempDirectory(directory, size);
}

bool PlatformMakeWorkFolder(const char* temp_directory, char* folder, size_t size) {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    bool made = OsMakeWorkFolder(temp_directory, folder, size);
    if (made) {
        std::strncpy(g_watched_folder, folder, sizeof g_watched_folder - 1);
        g_watched_folder[sizeof g_watched_folder - 1] = '\0';
        g_watched_folder_length = std::strlen(g_watched_folder);
        g_watched_file_count = 0;
        g_watch_armed = 1;
    }
    OsReleaseInterrupts();
    return made;
}

void PlatformRemoveAbandonedWorkFolders(const char* temp_directory) {
    OsRemoveAbandonedWorkFolders(temp_directory);
}

void PlatformWatchWorkFile(const char* path) {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    if (g_watch_armed != 0) WatchName(path);
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
    if (g_new_file_watched != 0) {
        OsRemoveFile(g_new_file);
        g_new_file_watched = 0;
    }
    if (g_watch_armed == 0) return true;
    OsReleaseRunLock();
    for (int k = 0; k < g_watched_file_count; ++k) OsRemoveFile(RemovalPath(g_watched_names[k]));
    return OsRemoveFolder(g_watched_folder);
}

ResponseFileKind PlatformResponseFileKind(const char* path, char* target, size_t size) {
    return OsResponseFileKind(path, target, size);
}

bool PlatformCanWriteFile(const char* path) { return OsCanWriteFile(path); }

std::FILE* PlatformCreateReplacement(const char* target, char* new_path, size_t size) {
    CatchInterruptsOnce();
    OsHoldInterrupts();
    std::FILE* file = OsCreateReplacement(target, new_path, size);
    if (file != nullptr) {
        std::snprintf(g_new_file, sizeof g_new_file, "%s", new_path);
        g_new_file_watched = 1;
        OsRecordReplacement(new_path);
    }
    OsReleaseInterrupts();
    return file;
}

bool PlatformCloseToDisk(std::FILE* file) { return OsCloseToDisk(file); }

namespace {

// Puts the new file in the target's place, or removes it when told to or
// when that fails; either way the interrupt handler stops watching it.
bool EndReplacement(const char* new_path, const char* target, char* stranded, size_t size) {
    OsHoldInterrupts();
    bool replaced = target != nullptr && OsReplaceFile(new_path, target, stranded, size);
    if (!replaced) OsRemoveFile(new_path);
    g_new_file_watched = 0;
    OsRecordReplacement("");
    OsReleaseInterrupts();
    return replaced;
}

}  // namespace

bool PlatformReplaceFile(const char* new_path, const char* target, char* stranded, size_t size) {
    stranded[0] = '\0';
    return EndReplacement(new_path, target, stranded, size);
}

void PlatformDiscardReplacement(const char* new_path) {
    EndReplacement(new_path, nullptr, nullptr, 0);
}

void NoteSystemError(int error_number) { NoteSystemReason(std::strerror(error_number)); }

void NoteSystemReason(const char* reason) {
    std::snprintf(g_system_reason, sizeof g_system_reason, "%s", reason);
}

// After the program's own message on standard output, which is flushed
// first, so that the two keep their order on one terminal.
void PlatformSayReason(const char* subject) {
    if (g_system_reason[0] == '\0') return;
    std::fflush(stdout);
    std::fprintf(stderr, "qarvik: %s: %s\n", subject, g_system_reason);
    std::fflush(stderr);
    g_system_reason[0] = '\0';
}

void NoteLostWorkFile(int error_number) { NoteLostWorkFileReason(std::strerror(error_number)); }

void NoteLostWorkFileReason(const char* reason) {
    if (g_lost_work_file[0] != '\0') return;  // the first failure says why
    std::snprintf(g_lost_work_file, sizeof g_lost_work_file, "%s",
                  reason[0] != '\0' ? reason : std::strerror(EIO));
}

void ForgetLostWorkFile() {
    g_lost_work_file[0] = '\0';
    g_lost_command[0] = '\0';
}

void NoteLostCommand(const char* command_line, const char* reason) {
    if (g_lost_work_file[0] != '\0') return;
    std::snprintf(g_lost_command, sizeof g_lost_command, "%s", command_line);
    NoteLostWorkFileReason(reason);
}

const char* PlatformLostCommand() { return g_lost_command[0] != '\0' ? g_lost_command : nullptr; }

const char* PlatformLostWorkFileReason() {
    return g_lost_work_file[0] != '\0' ? g_lost_work_file : nullptr;
}

void PlatformWait(int milliseconds) {
    if (g_wait_hook != nullptr) {
        g_wait_hook(milliseconds);
        return;
    }
    OsWait(milliseconds);
}

bool PlatformFindCommandInterpreter(char* tried, size_t size) {
    if (g_run_command_hook != nullptr) return true;
    return OsFindCommandInterpreter(tried, size);
}
bool PlatformReportMayStillBeWritten(const char* path) { return OsFileMayStillBeWritten(path); }

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

void ConsoleEcho(const char* format, const char* typed) {
    const char* slot = std::strstr(format, "%s");
    if (g_console_writer == nullptr || slot == nullptr) {
        ConsolePrint(format, typed);
        return;
    }
    g_console_writer(format, static_cast<size_t>(slot - format));
    g_typed_writer(typed, std::strlen(typed));
    g_console_writer(slot + 2, std::strlen(slot + 2));
    std::fflush(stdout);
}

void ConsolePrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (g_console_writer == nullptr) {
        std::vprintf(format, arguments);
    } else {
        WriteFormatted(format, arguments);
    }
    va_end(arguments);
    std::fflush(stdout);
}
