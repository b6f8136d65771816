// The stand-in side of the platform seam for non-Windows hosts: the simulated
// Windows version comes from QARVIK_WINVER, the temp directory from TMPDIR, and
// command lines run through $COMSPEC or the wincmd beside the program.
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_map>

#include "contract/lost_report.h"
#include "platform/platform.h"
#include "contract/terminal_charset.h"
#include "contract/windows_version.h"

extern char** environ;

bool OsGetVersion(PlatformVersion* version) { return ReadWindowsVersion(version); }

uint32_t OsGetReportCodePage() { return ReadReportCodePage(); }

void OsGetTempDirectory(char* directory, size_t size) {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir == nullptr || tmpdir[0] == '\0') tmpdir = "/tmp";
    bool needs_separator = tmpdir[std::strlen(tmpdir) - 1] != '/';
    std::snprintf(directory, size, "%s%s", tmpdir, needs_separator ? "/" : "");
}

void OsWait(int milliseconds) {
    timespec delay{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// A file that no process holds open for writing any more is whole: the
// kernel grants a write lease on a file only then, and only to its owner or
// a process that may take leases. A file that is missing, or whose lease
// cannot be had, may still be on its way.
bool OsFileMayStillBeWritten(const char* path) {
    int file = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0) return true;
    bool whole = fcntl(file, F_SETLEASE, F_WRLCK) == 0;
    if (whole) fcntl(file, F_SETLEASE, F_UNLCK);
    close(file);
    return !whole;
}

namespace {

void WriteToTerminal(const char* text, size_t length) { WriteTerminalText(text, length, stdout); }

void WriteTypedToTerminal(const char* text, size_t length) {
    WriteTerminalTyped(text, length, stdout);
}

void CloseTerminal() { CloseTerminalConversion(stdout); }

char g_typed_codeset[64];  // the user's, for what goes to a file or a pipe

void WriteAsItIs(const char* text, size_t length) { std::fwrite(text, 1, length, stdout); }

void WriteTypedInCodePage932(const char* text, size_t length) {
    std::string converted;
    if (!TypedInCodePage932(g_typed_codeset, text, length, &converted)) {
        converted.assign(text, length);
    }
    std::fwrite(converted.data(), 1, converted.size(), stdout);
}

}  // namespace

// Standard output has no text mode here: its bytes are the program's, code page
// 932 for the Japanese texts, and one stream has one character set. A terminal
// whose locale has another set gets every console text converted into that set
// (what the user typed is in it already); a file or a pipe gets code page 932
// throughout, so what the user typed and the system's paths are converted from
// the locale's set into it. A Shift-JIS locale, or a set the C library cannot
// convert, keeps the bytes as they are.
void OsPrepareConsole() {
    char codeset[64];
    UserCodeset(codeset, sizeof codeset);
    if (IsShiftJisCodeset(codeset)) return;
    if (isatty(STDOUT_FILENO) == 0) {
        std::string probe;
        if (!TypedInCodePage932(codeset, "", 0, &probe)) return;
        std::snprintf(g_typed_codeset, sizeof g_typed_codeset, "%s", codeset);
        SetConsoleWriter(WriteAsItIs, WriteTypedInCodePage932);
        return;
    }
    if (!OpenTerminalConversion(codeset)) return;
    SetConsoleWriter(WriteToTerminal, WriteTypedToTerminal);
    std::atexit(CloseTerminal);  // a lead byte still waiting shows as "?"
}

namespace {

// The signals that end an interrupted run: Ctrl-C, Ctrl-\, a terminal
// hang-up, the polite request to end, and a console pipe whose reader has gone
// (there is no Ctrl-Break here).
const int kInterruptSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE};
sigset_t g_mask_before_hold;

sigset_t InterruptSignalSet() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : kInterruptSignals) sigaddset(&signals, signal_number);
    return signals;
}

// Lets every tool still running end first, so that none writes into the work
// folder while it is removed; then removes the folder and ends the process by
// the same signal with its default action, so the parent sees a run ended by
// the interruption. Tools run one by one hold the signal off until they end;
// tools run side by side are waited for here.
void OnInterrupt(int signal_number) {
    while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
    RemoveWatchedWorkFolder();
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);  // delivered as the handler returns
}

}  // namespace

bool OsMakeWorkFolder(const char* temp_directory, char* folder, size_t size) {
    static const char kPattern[] = "qarvik-XXXXXX";
    // The pattern, the separator and the NUL must fit.
    if (std::strlen(temp_directory) + sizeof kPattern + 1 > size) {
        NoteSystemError(ENAMETOOLONG);
        return false;
    }
    std::snprintf(folder, size, "%s%s", temp_directory, kPattern);
    if (mkdtemp(folder) == nullptr) {  // mode 0700: no other user looks in
        NoteSystemError(errno);
        folder[0] = '\0';
        return false;
    }
    if (!TakeRunLock(folder)) {
        NoteSystemError(errno);
        rmdir(folder);
        folder[0] = '\0';
        return false;
    }
    std::strcat(folder, "/");
    // The run's tools learn their run's folder from their environment, so
    // that what they share among themselves stays inside it.
    setenv(kWorkFolderVariable, folder, 1);
    return true;
}

void OsHoldInterrupts() {
    sigset_t signals = InterruptSignalSet();
    sigprocmask(SIG_BLOCK, &signals, &g_mask_before_hold);
}

void OsReleaseInterrupts() { sigprocmask(SIG_SETMASK, &g_mask_before_hold, nullptr); }

// A signal that the run was started to ignore (a background job's SIGINT,
// SIGHUP under nohup) stays ignored.
void OsCatchInterrupts() {
    for (int signal_number : kInterruptSignals) {
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        action.sa_mask = InterruptSignalSet();
        sigaction(signal_number, &action, nullptr);
    }
}

void OsRemoveFile(const char* path) { unlink(path); }

namespace {

// Starts interpreter /c command_line with the given signal mask (nullptr: the
// mask the run has now); -1 when the interpreter cannot be started.
pid_t StartInterpreter(const char* interpreter, const char* command_line,
                       const sigset_t* child_mask) {
    char* argv[] = {const_cast<char*>(interpreter), const_cast<char*>("/c"),
                    const_cast<char*>(command_line), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (child_mask != nullptr) {
        posix_spawnattr_setsigmask(&attributes, child_mask);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    }
    pid_t child = 0;
    bool started = posix_spawn(&child, interpreter, nullptr, &attributes, argv, environ) == 0;
    posix_spawnattr_destroy(&attributes);
    return started ? child : -1;
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
pid_t StartCommandInterpreter(const char* command_line, const sigset_t* child_mask) {
    const char* comspec = std::getenv("COMSPEC");
    if (comspec != nullptr && comspec[0] != '\0') {
        pid_t child = StartInterpreter(comspec, command_line, child_mask);
        if (child > 0) return child;
    }
    char wincmd[4096];
    if (!WincmdBesideProgram(wincmd, sizeof wincmd)) return -1;
    return StartInterpreter(wincmd, command_line, child_mask);
}

// What posix_spawn can run: a regular file the run may execute. 0, or the
// reason it cannot be started.
int StartError(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0 || access(path, X_OK) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    return S_ISREG(info.st_mode) ? 0 : EACCES;
}

// The status as a shell gives it: the exit status, or 128 and the signal.
// A status that says the interpreter lost a report notes the lost work file;
// a command ended by a signal, or one whose process died under its
// interpreter, may have left its report cut short and notes a lost command.
// (An interrupt sent to the whole run ends the run in its handler first.)
int CommandStatus(int wait_status, const char* command_line) {
    if (WIFSIGNALED(wait_status)) {
        char reason[128];
        int signal_number = WTERMSIG(wait_status);
        std::snprintf(reason, sizeof reason, "ended by signal %d (%s)", signal_number,
                      strsignal(signal_number));
        NoteLostCommand(command_line, reason);
        return 128 + signal_number;
    }
    int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    if (status == LOST_REPORT_COMMAND_DIED) {
        NoteLostCommand(command_line, "its process ended under the command interpreter");
    }
    int lost = LostReportError(status);
    if (lost != 0) NoteLostWorkFile(lost);
    return status;
}

// The command lines of the commands started without waiting, by process, so
// that the end of each can be told by its line.
std::unordered_map<pid_t, std::string> g_started_commands;

// Waits for child (any child when child is -1); the ended child, or -1 when
// there is none to wait for.
pid_t WaitForChild(pid_t child, int* status) {
    for (;;) {
        pid_t ended = waitpid(child, status, 0);
        if (ended >= 0 || errno != EINTR) return ended;
    }
}

}  // namespace

// The interpreters that StartCommandInterpreter tries, in its order. When
// none can start, the reasons are noted in the order of the list.
bool OsFindCommandInterpreter(char* tried, size_t size) {
    const char* comspec = std::getenv("COMSPEC");
    bool has_comspec = comspec != nullptr && comspec[0] != '\0';
    int comspec_error = has_comspec ? StartError(comspec) : 0;
    if (has_comspec && comspec_error == 0) return true;
    char wincmd[4096];
    bool has_wincmd = WincmdBesideProgram(wincmd, sizeof wincmd);
    int wincmd_error = has_wincmd ? StartError(wincmd) : ENOENT;
    if (wincmd_error == 0) return true;
    std::snprintf(tried, size, "%s%s%s", has_comspec ? comspec : "", has_comspec ? ", " : "",
                  has_wincmd ? wincmd : "wincmd");
    char reasons[256];
    std::snprintf(reasons, sizeof reasons, "%s%s%s",
                  has_comspec ? std::strerror(comspec_error) : "", has_comspec ? ", " : "",
                  std::strerror(wincmd_error));
    NoteSystemReason(reasons);
    return false;
}

// An interruption is held off while the tool runs, so the work folder is
// removed only once no tool writes into it; the tool itself starts with the
// signal mask the run had, and a Ctrl-C reaches it as usual.
int OsRunCommand(const char* command_line) {
    OsHoldInterrupts();
    int status = -1;
    pid_t child = StartCommandInterpreter(command_line, &g_mask_before_hold);
    if (child > 0 && WaitForChild(child, &status) == child) {
        status = CommandStatus(status, command_line);
    }
    OsReleaseInterrupts();
    return status;
}

int OsStartCommand(const char* command_line) {
    pid_t child = StartCommandInterpreter(command_line, nullptr);
    if (child > 0) g_started_commands[child] = command_line;
    return static_cast<int>(child);
}

int OsWaitAnyCommand() {
    int status = 0;
    pid_t ended = WaitForChild(-1, &status);
    if (ended > 0) {
        auto started = g_started_commands.find(ended);
        std::string command_line;
        if (started != g_started_commands.end()) {
            command_line.swap(started->second);
            g_started_commands.erase(started);
        }
        CommandStatus(status, command_line.c_str());
    }
    return static_cast<int>(ended);
}
