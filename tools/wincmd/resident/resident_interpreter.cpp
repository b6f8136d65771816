// The run's resident interpreter. One process per run serves the socket in
// the work folder, held by a lock beside it so that a run has one. For each
// launcher's request it forks a process that takes the launcher's standard
// streams, directory, file mask, signal mask, arguments and environment and
// runs the command as wincmd would; the launcher waits for its status. A
// launcher that goes away (a Ctrl-C) takes its command with it. The
// interpreter ends once the run has ended and its last command is done.
#include "resident/resident_interpreter.h"

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
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "resident/resident_protocol.h"

extern char** environ;

namespace {

// A command in flight: the launcher's connection and the command's process.
struct Command {
    int Connection;
    pid_t Process;
    int ProcessHandle;  // a pidfd: readable once the process has ended
};

// An interpreter with no command for this long ends: the process it watches
// may not be the run's (a run killed while its first command started leaves
// that command to another parent), and a later command starts a new one.
constexpr int kIdleMilliseconds = 1000;

enum EventKind : uint32_t { kListener, kRunEnded, kLauncherSays, kCommandEnded };

struct Interpreter {
    CommandEntry RunCommand;
    std::string SocketPath;
    ino_t SocketNode = 0;
    int Listener = -1;
    int Events = -1;
    int Run = -1;  // the run's process handle, readable once the run has ended
    bool Accepting = true;
    bool ListenerPaused = false;
    rlimit FileLimit{};  // the run's, given back to each command
    // By serial, which names a command in its events: they may outlive it, and
    // its descriptors' numbers come back for later commands.
    uint32_t LastSerial = 0;
    std::unordered_map<uint32_t, Command> Commands;
    std::vector<char> Request;  // made as the interpreter starts to serve
};

int OpenProcessHandle(pid_t process) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, process, 0));
#else
    (void)process;
    errno = ENOSYS;
    return -1;
#endif
}

// Closes the descriptors first to last.
void CloseRange(unsigned first, unsigned last) {
    if (first > last) return;
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, last, 0) == 0) return;
#endif
    for (unsigned descriptor = first; descriptor <= last && descriptor < 65536; ++descriptor) {
        close(static_cast<int>(descriptor));
    }
}

// Closes every descriptor from 3 on but a and b.
void CloseAllBut(int a, int b) {
    auto low = static_cast<unsigned>(a < b ? a : b);
    auto high = static_cast<unsigned>(a < b ? b : a);
    CloseRange(3, low - 1);
    CloseRange(low + 1, high - 1);
    CloseRange(high + 1, ~0U);
}

bool Watch(int events, int descriptor, uint32_t what, EventKind kind, uint32_t serial) {
    epoll_event event{};
    event.events = what;
    event.data.u64 = (static_cast<uint64_t>(kind) << 32) | serial;
    return epoll_ctl(events, EPOLL_CTL_ADD, descriptor, &event) == 0;
}

// The command's process: the launcher's streams, directory and masks, then
// the command as wincmd runs it. Never returns.
[[noreturn]] void RunInChild(const Interpreter& interpreter, const resident::RequestHeader& header,
                             std::vector<char*>* arguments, std::vector<char*>* environment,
                             const int* descriptors) {
    for (int k = 0; k < 3; ++k) dup2(descriptors[k], k);
    bool in_directory = fchdir(descriptors[3]) == 0;
    CloseRange(3, ~0U);
    if (!in_directory) _exit(127);
    setrlimit(RLIMIT_NOFILE, &interpreter.FileLimit);
    umask(static_cast<mode_t>(header.FileMask));
    uint64_t mask = header.SignalMask;
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask, nullptr, sizeof mask);
    environ = environment->data();
    int status = interpreter.RunCommand(static_cast<int>(header.ArgumentCount), arguments->data());
    // The command keeps nothing for exit handlers; the C library's own, the
    // loader's destructors of every shared object, cost a tenth of the
    // command. The sanitizers' leak check is one of them.
#if defined(__SANITIZE_ADDRESS__)
    std::exit(status);
#else
    std::fflush(nullptr);
    _exit(status);
#endif
}

// The next count NUL-ended strings of a request, then a null pointer; false
// when they are not all there before its end.
bool TakeStrings(char** cursor, const char* end, uint32_t count, std::vector<char*>* strings) {
    for (uint32_t k = 0; k < count; ++k) {
        char* nul = static_cast<char*>(std::memchr(*cursor, '\0', end - *cursor));
        if (nul == nullptr) return false;
        strings->push_back(*cursor);
        *cursor = nul + 1;
    }
    strings->push_back(nullptr);
    return true;
}

bool IsFromThisUser(int connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == getuid();
}

void Close(int* descriptors, int count) {
    for (int k = 0; k < count; ++k) close(descriptors[k]);
}

// Reads the request with its descriptors; its length, or -1 when it is not
// whole (the descriptors that came with it closed again).
long ReadRequest(Interpreter* interpreter, int connection, int* descriptors) {
    iovec vector{interpreter->Request.data(), interpreter->Request.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * resident::kDescriptorCount)];
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t length = recvmsg(connection, &message, MSG_CMSG_CLOEXEC);
    if (length < 0) return -1;  // nothing came, not even descriptors
    int received = 0;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
         part = CMSG_NXTHDR(&message, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) continue;
        size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t k = 0; k < count; ++k) {
            int descriptor;
            std::memcpy(&descriptor, CMSG_DATA(part) + k * sizeof(int), sizeof descriptor);
            if (received < resident::kDescriptorCount) {
                descriptors[received++] = descriptor;
            } else {
                close(descriptor);
            }
        }
    }
    bool whole = length >= static_cast<ssize_t>(sizeof(resident::RequestHeader)) &&
                 (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0 &&
                 received == resident::kDescriptorCount;
    if (!whole) {
        Close(descriptors, received);
        return -1;
    }
    return length;
}

// Forks the command's process for a launcher's request and tells the launcher
// that it runs. A request that is not whole, or that cannot be given a
// process, is closed unanswered: the launcher then runs the command itself.
void TakeRequest(Interpreter* interpreter, int connection) {
    timeval patience{1, 0};  // the launcher sends at once; none may hold the others up
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    int descriptors[resident::kDescriptorCount];
    long length = IsFromThisUser(connection) ? ReadRequest(interpreter, connection, descriptors) : -1;
    if (length < 0) {
        close(connection);
        return;
    }
    resident::RequestHeader header;
    std::memcpy(&header, interpreter->Request.data(), sizeof header);
    char* cursor = interpreter->Request.data() + sizeof header;
    const char* end = interpreter->Request.data() + length;
    std::vector<char*> arguments;
    std::vector<char*> environment;
    bool valid = header.Magic == resident::kMagic && header.ArgumentCount >= 1 &&
                 TakeStrings(&cursor, end, header.ArgumentCount, &arguments) &&
                 TakeStrings(&cursor, end, header.EnvironmentCount, &environment) && cursor == end;
    pid_t process = valid ? fork() : -1;
    if (process == 0) RunInChild(*interpreter, header, &arguments, &environment, descriptors);
    Close(descriptors, resident::kDescriptorCount);
    int handle = process > 0 ? OpenProcessHandle(process) : -1;
    if (process > 0 && handle < 0) {  // cannot be watched: undone, the launcher runs it
        kill(process, SIGKILL);
        waitpid(process, nullptr, 0);
    }
    if (handle < 0) {
        close(connection);
        return;
    }
    uint32_t serial = ++interpreter->LastSerial;
    interpreter->Commands[serial] = Command{connection, process, handle};
    Watch(interpreter->Events, handle, EPOLLIN, kCommandEnded, serial);
    Watch(interpreter->Events, connection, EPOLLIN | EPOLLRDHUP, kLauncherSays, serial);
    if (send(connection, &resident::kAccepted, 1, MSG_NOSIGNAL) != 1) kill(process, SIGKILL);
}

void PauseListener(Interpreter* interpreter, bool paused) {
    if (!interpreter->Accepting || interpreter->ListenerPaused == paused) return;
    interpreter->ListenerPaused = paused;
    if (paused) {
        epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, interpreter->Listener, nullptr);
    } else {
        Watch(interpreter->Events, interpreter->Listener, EPOLLIN, kListener, 0);
    }
}

void AcceptLaunchers(Interpreter* interpreter) {
    for (;;) {
        int connection = accept4(interpreter->Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            TakeRequest(interpreter, connection);
        } else if (errno != EINTR) {
            // Out of descriptors: the waiting launchers are taken once a
            // command has ended.
            if (errno != EAGAIN && errno != EWOULDBLOCK) PauseListener(interpreter, true);
            return;
        }
    }
}

// The run has ended: no new command is taken; the socket goes, unless another
// interpreter's is in its place.
void StopAccepting(Interpreter* interpreter) {
    if (!interpreter->Accepting) return;
    interpreter->Accepting = false;
    // Readable for good now: watched on, it would wake the loop at once, again
    // and again, while the last commands run.
    epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, interpreter->Run, nullptr);
    close(interpreter->Listener);
    struct stat info {};
    if (stat(interpreter->SocketPath.c_str(), &info) == 0 && info.st_ino == interpreter->SocketNode) {
        unlink(interpreter->SocketPath.c_str());
    }
}

void EndCommand(Interpreter* interpreter, uint32_t serial) {
    auto found = interpreter->Commands.find(serial);
    if (found == interpreter->Commands.end()) return;
    Command command = found->second;
    interpreter->Commands.erase(found);
    int wait_status = 0;
    while (waitpid(command.Process, &wait_status, 0) < 0 && errno == EINTR) {
    }
    send(command.Connection, &wait_status, sizeof wait_status, MSG_NOSIGNAL);
    close(command.Connection);
    close(command.ProcessHandle);
    PauseListener(interpreter, false);
}

// What the launcher says while its command runs: an interrupt it was sent,
// which the command takes as it would have from the terminal; or nothing more,
// as it has gone (a Ctrl-C, a kill), and the command goes with it.
void PassOn(Interpreter* interpreter, const Command& command, uint32_t events) {
    int signal_number = 0;
    ssize_t got = (events & EPOLLIN) != 0
                      ? recv(command.Connection, &signal_number, sizeof signal_number, MSG_DONTWAIT)
                      : 0;
    if (got == sizeof signal_number && signal_number > 0 && signal_number < 65) {
        kill(command.Process, signal_number);
    } else if (got <= 0 && !(got < 0 && errno == EAGAIN)) {
        epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, command.Connection, nullptr);
        kill(command.Process, SIGKILL);
    }
}

void HandleEvent(Interpreter* interpreter, const epoll_event& event) {
    auto kind = static_cast<EventKind>(event.data.u64 >> 32);
    auto serial = static_cast<uint32_t>(event.data.u64 & 0xffffffffU);
    switch (kind) {
    case kListener:
        AcceptLaunchers(interpreter);
        break;
    case kRunEnded:
        StopAccepting(interpreter);
        break;
    case kLauncherSays: {
        auto found = interpreter->Commands.find(serial);
        if (found != interpreter->Commands.end()) PassOn(interpreter, found->second, event.events);
        break;
    }
    case kCommandEnded:
        EndCommand(interpreter, serial);
        break;
    }
}

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

// The interpreter's process: no terminal, no stream or lock of the run's,
// its directory the root. Never returns.
[[noreturn]] void Serve(Interpreter* interpreter, int lock, int run) {
    int null = open("/dev/null", O_RDWR);
    for (int k = 0; k < 3 && null >= 0; ++k) dup2(null, k);
    // Only the lock (held for the interpreter's life) and the run's handle stay.
    CloseAllBut(lock, run);
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
    if (!Listen(interpreter) ||
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
