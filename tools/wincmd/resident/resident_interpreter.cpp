// The run's resident interpreter. One process per run serves the socket in
// the work folder, held by a lock beside it so that a run has one. Each
// launcher's request goes to a worker: a process forked from the interpreter
// that takes the launcher's standard streams, directory, file mask, signal
// mask, arguments and environment and runs the command as wincmd would; the
// launcher waits for its status. A worker whose command has ended and left no
// thread behind waits for the next request instead of ending, so a sweep's
// commands cost a request each rather than a fork, an exit and the new
// process's page faults. A launcher that goes away (a Ctrl-C) takes its
// command, and so its worker, with it. The interpreter ends once the run has
// ended and its last command is done; its idle workers end with it.

#include "resident/resident_state.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdio_ext.h>
#include <initializer_list>
#include <utility>
#include <string>
#include <unordered_map>
#include <vector>

#include "contract/lost_report.h"
#include "contract/work_folder.h"
#include "resident/resident_protocol.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

extern char** environ;

namespace resident {
namespace {

// Listens on the socket path in place of any socket left by an interpreter
// that is gone (the lock says none serves).
bool Listen(Interpreter* interpreter) {
    interpreter->Listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, interpreter->SocketPath.c_str(), interpreter->SocketPath.size() + 1);
    unlink(address.sun_path);
    struct stat info {};
    return interpreter->Listener >= 0 &&
           bind(interpreter->Listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
           stat(address.sun_path, &info) == 0 && (interpreter->SocketNode = info.st_ino, true) &&
           listen(interpreter->Listener, SOMAXCONN) == 0;
}

// Writes this process's number into the lock, before the socket is there: a
// launcher sends only to the process that the lock names (and that the kernel
// names as the socket's peer).
bool RecordServer(int lock) {
    char text[24];
    int length = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
    return ftruncate(lock, 0) == 0 && pwrite(lock, text, length, 0) == length;
}

// The interpreter's process: no terminal, no stream or lock of the run's,
// its directory the root. Never returns.
[[noreturn]] void Serve(Interpreter* interpreter, int lock, int run) {
    int null = open("/dev/null", O_RDWR);
    for (int k = 0; k < 3 && null >= 0; ++k) dup2(null, k);
    // Only the lock (held for the interpreter's life) and the run's handle stay.
    CloseAllBut({lock, run});
    if (chdir("/") != 0) _exit(1);
    // Each command in flight holds a connection and a process handle.
    interpreter->Request.resize(resident::kRequestLimit);
    getrlimit(RLIMIT_NOFILE, &interpreter->FileLimit);
    rlimit raised = interpreter->FileLimit;
    raised.rlim_cur = raised.rlim_max;
    setrlimit(RLIMIT_NOFILE, &raised);
    interpreter->Events = epoll_create1(EPOLL_CLOEXEC);
    interpreter->Run = run;
    if (interpreter->Events < 0 || !Watch(interpreter->Events, run, EPOLLIN, kRunEnded, 0)) _exit(1);
    if (!RecordServer(lock) || !Listen(interpreter) ||
        !Watch(interpreter->Events, interpreter->Listener, EPOLLIN, kListener, 0)) {
        // No socket here (a file system without them): the lock, held a while
        // longer, keeps the next commands from trying again at once.
        epoll_event event;
        epoll_wait(interpreter->Events, &event, 1, kIdleMilliseconds);
        _exit(1);
    }
    epoll_event events[64];
    while (interpreter->Accepting || !interpreter->Commands.empty()) {
        int idle = interpreter->Commands.empty() ? kIdleMilliseconds : -1;
        int count = epoll_wait(interpreter->Events, events, 64, idle);
        if (count == 0) StopAccepting(interpreter);
        for (int k = 0; k < count; ++k) HandleEvent(interpreter, events[k]);
    }
    _exit(0);
}

}  // namespace
}  // namespace resident

using namespace resident;

void StartResidentInterpreter(CommandEntry run_command) {
    const char* folder = std::getenv(kWorkFolderVariable);
    if (folder == nullptr || folder[0] != '/') return;  // the launcher asks absolute paths only
    std::string base = folder;
    if (base.back() != '/') base += '/';
    Interpreter interpreter;
    interpreter.RunCommand = run_command;
    interpreter.SocketPath = base + resident::kSocketName;
    if (interpreter.SocketPath.size() >= sizeof(sockaddr_un{}.sun_path)) return;
    int lock = open((base + resident::kLockName).c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return;
    int run = flock(lock, LOCK_EX | LOCK_NB) == 0 ? OpenProcessHandle(getppid()) : -1;
    pid_t between = run >= 0 ? fork() : -1;
    if (between == 0) {
        // Its own session, and not a child of this command's process.
        setsid();
        if (fork() == 0) Serve(&interpreter, lock, run);
        _exit(0);
    }
    if (run >= 0) close(run);
    close(lock);
    if (between > 0) waitpid(between, nullptr, 0);
}
