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

namespace {

// A command in flight: the launcher's connection and the worker running it.
// Interrupted once the launcher passed on an interrupt or went away: a death
// of its worker after that is the interrupt's, not a lost report.
struct Command {
    int Connection;
    uint32_t Worker;
    bool Interrupted;
};

// A process that runs the run's commands one at a time. Its channel carries
// requests to it and, back, each command's wait status and then kReady once
// it may take another.
struct Worker {
    pid_t Process;
    int Channel;
    int ProcessHandle;  // a pidfd: readable once the process has ended
    uint32_t Command;   // the serial of the command it runs, 0 when none
};

constexpr char kReady = 'R';

// A worker ends after this many commands, so that what a command may leak
// does not add up over a long run.
constexpr int kCommandsPerWorker = 256;

// A worker whose command left threads behind (ping's name look-ups end by
// their own deadline, about when the command does) waits for them in pauses
// that double from a millisecond up to this one, some 60 ms in all, before
// it ends instead of taking another command.
constexpr int kLongestThreadWaitMs = 32;

// An interpreter with no command for this long ends: the process it watches
// may not be the run's (a run killed while its first command started leaves
// that command to another parent), and a later command starts a new one.
constexpr int kIdleMilliseconds = 1000;

enum EventKind : uint32_t {
    kListener, kRunEnded, kRequestCame, kLauncherSays, kWorkerSays, kWorkerEnded
};

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
    // By serial, which names a command or a worker in its events: they may
    // outlive it, and its descriptors' numbers come back for later ones.
    uint32_t LastSerial = 0;
    std::unordered_map<uint32_t, int> Connecting;  // launchers whose request has not come yet
    std::unordered_map<uint32_t, Command> Commands;
    std::unordered_map<uint32_t, Worker> Workers;
    std::vector<uint32_t> IdleWorkers;
    std::vector<char> Request;  // made as the interpreter starts to serve
};

// A request as the command's process takes it: pointers into the request's
// bytes, each list ended by a null pointer.
struct CommandRequest {
    resident::RequestHeader Header;
    std::vector<char*> Arguments;
    std::vector<char*> Environment;
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

// Closes every descriptor from 3 on but those kept (at most three).
void CloseAllBut(std::initializer_list<int> kept) {
    int sorted[3];
    size_t count = 0;
    for (int descriptor : kept) {
        if (count < 3) sorted[count++] = descriptor;
    }
    for (size_t k = 1; k < count; ++k) {  // in order, lowest first
        for (size_t j = k; j > 0 && sorted[j] < sorted[j - 1]; --j) std::swap(sorted[j], sorted[j - 1]);
    }
    unsigned next = 3;
    for (size_t k = 0; k < count; ++k) {
        if (sorted[k] < static_cast<int>(next)) continue;
        CloseRange(next, static_cast<unsigned>(sorted[k]) - 1);
        next = static_cast<unsigned>(sorted[k]) + 1;
    }
    CloseRange(next, ~0U);
}

bool Watch(int events, int descriptor, uint32_t what, EventKind kind, uint32_t serial) {
    epoll_event event{};
    event.events = what;
    event.data.u64 = (static_cast<uint64_t>(kind) << 32) | serial;
    return epoll_ctl(events, EPOLL_CTL_ADD, descriptor, &event) == 0;
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

// The request of length bytes in the interpreter's buffer as its command's
// process takes it; false when it is not a request.
bool ParseRequest(Interpreter* interpreter, long length, CommandRequest* request) {
    std::memcpy(&request->Header, interpreter->Request.data(), sizeof request->Header);
    char* cursor = interpreter->Request.data() + sizeof request->Header;
    const char* end = interpreter->Request.data() + length;
    request->Arguments.clear();
    request->Environment.clear();
    return request->Header.Magic == resident::kMagic && request->Header.ArgumentCount >= 1 &&
           TakeStrings(&cursor, end, request->Header.ArgumentCount, &request->Arguments) &&
           TakeStrings(&cursor, end, request->Header.EnvironmentCount, &request->Environment) &&
           cursor == end;
}

// --- The worker's side -------------------------------------------------

[[noreturn]] void EndWorker() {
    // Nothing is kept for exit handlers; the C library's own, the loader's
    // destructors of every shared object, cost a tenth of a command. The
    // sanitizers' leak check is one of them.
#if defined(__SANITIZE_ADDRESS__)
    std::exit(0);
#else
    std::fflush(nullptr);
    _exit(0);
#endif
}

// What a worker keeps open between commands: its channel to the
// interpreter, /dev/null for the streams of no command, and its own list of
// threads.
struct WorkerFiles {
    int Channel;
    int Null;
    int Threads;
};

// Takes the launcher's streams, directory and masks, then runs the command
// as wincmd runs it; its exit status.
int RunCommand(const Interpreter& interpreter, const WorkerFiles& own, CommandRequest* request,
               const int* descriptors) {
    for (int k = 0; k < 3; ++k) dup2(descriptors[k], k);
    bool in_directory = fchdir(descriptors[3]) == 0;
    // The descriptors as received, and whatever the last command left open.
    CloseAllBut({own.Channel, own.Null, own.Threads});
    if (!in_directory) return 127;
    setrlimit(RLIMIT_NOFILE, &interpreter.FileLimit);
    umask(static_cast<mode_t>(request->Header.FileMask));
    uint64_t mask = request->Header.SignalMask;
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask, nullptr, sizeof mask);
    environ = request->Environment.data();
    for (std::FILE* stream : {stdin, stdout, stderr}) std::clearerr(stream);
    return interpreter.RunCommand(static_cast<int>(request->Header.ArgumentCount),
                                  request->Arguments.data());
}

// Under the sanitizers a command's leaks are its own, as when its process
// ended with it: reported on its standard error, its status the leak
// check's, and the worker ends after it, so that no later command reports
// them again.
constexpr int kLeakStatus = 23;  // the leak check's own exit status

bool CommandLeaked() {
#if defined(__SANITIZE_ADDRESS__)
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
}

// Lets go of the command's streams and folder: what it wrote is out, and the
// launcher's files and pipes are no longer held once its status is sent.
void ReleaseCommand(const WorkerFiles& own) {
    std::fflush(nullptr);
    __fpurge(stdin);
    for (int k = 0; k < 3; ++k) dup2(own.Null, k);
    if (chdir("/") != 0) {
        // the root stays where it is
    }
}

// The threads of this process, read from its list of them (an open
// /proc/self/task); -1 when it cannot be told.
int ThreadCount(int threads) {
    if (lseek(threads, 0, SEEK_SET) != 0) return -1;
    alignas(dirent64) char entries[2048];
    int count = 0;
    for (;;) {
        ssize_t length = getdents64(threads, entries, sizeof entries);
        if (length <= 0) return length == 0 ? count : -1;
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            if (entry->d_name[0] != '.') ++count;  // not . or ..
            at += entry->d_reclen;
        }
    }
}

// Whether the process is down to its one thread again, after waiting a
// little for any its command left running.
bool ThreadsEnded(int threads) {
    for (int wait_ms = 1;; wait_ms *= 2) {
        int count = ThreadCount(threads);
        if (count == 1) return true;
        if (count < 1 || wait_ms > kLongestThreadWaitMs) return false;
        timespec pause{0, wait_ms * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// A worker's life: the command it was forked for, then each one the
// interpreter sends while the process stays fit (no thread left behind, not
// too many commands). Never returns.
[[noreturn]] void ServeCommands(Interpreter* interpreter, int channel, CommandRequest* request,
                                int* descriptors) {
    const WorkerFiles own{channel, open("/dev/null", O_RDWR | O_CLOEXEC),
                          open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    for (int served = 1;; ++served) {
        int status = RunCommand(*interpreter, own, request, descriptors);
        const bool leaked = CommandLeaked();
        if (leaked) status = kLeakStatus;
        int wait_status = (status & 0xff) << 8;  // as waitpid reports an exit with it
        ReleaseCommand(own);
        if (send(channel, &wait_status, sizeof wait_status, MSG_NOSIGNAL) != sizeof wait_status ||
            leaked || own.Null < 0 || own.Threads < 0 || served >= kCommandsPerWorker ||
            !ThreadsEnded(own.Threads) || send(channel, &kReady, 1, MSG_NOSIGNAL) != 1) {
            EndWorker();
        }
        long length = ReadRequest(interpreter, channel, descriptors);
        // Nothing more (the interpreter has ended), or not a request.
        if (length < 0 || !ParseRequest(interpreter, length, request)) EndWorker();
    }
}

// --- The interpreter's side --------------------------------------------

// Hands a request and its descriptors to an idle worker; false when the
// worker cannot take it (it has ended, or is ending).
bool SendToWorker(const Worker& worker, const Interpreter& interpreter, long length,
                  const int* descriptors) {
    iovec vector{const_cast<char*>(interpreter.Request.data()), static_cast<size_t>(length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * resident::kDescriptorCount)] = {};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* part = CMSG_FIRSTHDR(&message);
    part->cmsg_level = SOL_SOCKET;
    part->cmsg_type = SCM_RIGHTS;
    part->cmsg_len = CMSG_LEN(sizeof(int) * resident::kDescriptorCount);
    std::memcpy(CMSG_DATA(part), descriptors, sizeof(int) * resident::kDescriptorCount);
    return sendmsg(worker.Channel, &message, MSG_NOSIGNAL | MSG_DONTWAIT) == length;
}

// Forks a worker for the request; its serial, or 0 when there is none to be
// had.
uint32_t StartWorker(Interpreter* interpreter, CommandRequest* request, int* descriptors) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return 0;
    pid_t process = fork();
    if (process == 0) ServeCommands(interpreter, ends[1], request, descriptors);
    close(ends[1]);
    int handle = process > 0 ? OpenProcessHandle(process) : -1;
    if (process > 0 && handle < 0) {  // cannot be watched: undone
        kill(process, SIGKILL);
        waitpid(process, nullptr, 0);
    }
    if (handle < 0) {
        close(ends[0]);
        return 0;
    }
    uint32_t serial = ++interpreter->LastSerial;
    interpreter->Workers[serial] = Worker{process, ends[0], handle, 0};
    Watch(interpreter->Events, handle, EPOLLIN, kWorkerEnded, serial);
    Watch(interpreter->Events, ends[0], EPOLLIN, kWorkerSays, serial);
    return serial;
}

// The worker that runs the request: an idle one, else a new one; 0 when
// none can.
uint32_t GiveToWorker(Interpreter* interpreter, long length, CommandRequest* request,
                      int* descriptors) {
    while (!interpreter->IdleWorkers.empty()) {
        uint32_t serial = interpreter->IdleWorkers.back();
        interpreter->IdleWorkers.pop_back();
        const Worker& worker = interpreter->Workers.at(serial);
        if (SendToWorker(worker, *interpreter, length, descriptors)) return serial;
        kill(worker.Process, SIGKILL);  // gone with its end, as any worker
    }
    return StartWorker(interpreter, request, descriptors);
}

// Gives a launcher's request, come on its connection, to a worker and tells
// the launcher that it runs. A request that is not whole, or that no worker
// can take, is closed unanswered: the launcher then runs the command itself.
void TakeRequest(Interpreter* interpreter, uint32_t serial) {
    auto found = interpreter->Connecting.find(serial);
    if (found == interpreter->Connecting.end()) return;
    const int connection = found->second;
    interpreter->Connecting.erase(found);
    epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, connection, nullptr);
    int descriptors[resident::kDescriptorCount];
    long length = ReadRequest(interpreter, connection, descriptors);
    if (length < 0) {
        close(connection);
        return;
    }
    CommandRequest request;
    uint32_t worker = ParseRequest(interpreter, length, &request)
                          ? GiveToWorker(interpreter, length, &request, descriptors)
                          : 0;
    Close(descriptors, resident::kDescriptorCount);
    if (worker == 0) {
        close(connection);
        return;
    }
    const uint32_t command = ++interpreter->LastSerial;
    interpreter->Commands[command] = Command{connection, worker, false};
    Worker& running = interpreter->Workers.at(worker);
    running.Command = command;
    Watch(interpreter->Events, connection, EPOLLIN | EPOLLRDHUP, kLauncherSays, command);
    if (send(connection, &resident::kAccepted, 1, MSG_NOSIGNAL) != 1) kill(running.Process, SIGKILL);
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

// A launcher of this user is heard once its request has come, so that one
// that stops before it sends holds up no other; another user's is closed.
void AwaitRequest(Interpreter* interpreter, int connection) {
    uint32_t serial = ++interpreter->LastSerial;
    if (!IsFromThisUser(connection) ||
        !Watch(interpreter->Events, connection, EPOLLIN | EPOLLRDHUP, kRequestCame, serial)) {
        close(connection);
        return;
    }
    interpreter->Connecting[serial] = connection;
}

void AcceptLaunchers(Interpreter* interpreter) {
    for (;;) {
        int connection =
            accept4(interpreter->Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection >= 0) {
            AwaitRequest(interpreter, connection);
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

// The worker's command has ended with wait_status: the launcher is told and
// let go.
void EndCommand(Interpreter* interpreter, Worker* worker, int wait_status) {
    auto found = interpreter->Commands.find(worker->Command);
    worker->Command = 0;
    if (found == interpreter->Commands.end()) return;
    int connection = found->second.Connection;
    interpreter->Commands.erase(found);
    send(connection, &wait_status, sizeof wait_status, MSG_NOSIGNAL);
    close(connection);
    PauseListener(interpreter, false);
}

// What a worker says: its command's wait status, or that it is ready for
// another command.
void HearWorker(Interpreter* interpreter, uint32_t serial) {
    auto found = interpreter->Workers.find(serial);
    if (found == interpreter->Workers.end()) return;
    Worker& worker = found->second;
    char message[sizeof(int)];
    ssize_t got = recv(worker.Channel, message, sizeof message, MSG_DONTWAIT);
    if (got == sizeof(int) && worker.Command != 0) {
        int wait_status;
        std::memcpy(&wait_status, message, sizeof wait_status);
        EndCommand(interpreter, &worker, wait_status);
    } else if (got == 1 && message[0] == kReady && worker.Command == 0) {
        interpreter->IdleWorkers.push_back(serial);
    } else if (got == 0) {
        // Ending: readable for good now; its process handle says when it has.
        epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, worker.Channel, nullptr);
    }
}

// The wait status a command gets when its worker ended by a signal the
// launcher did not send: whatever the command wrote may be cut short, which
// the run must hear as a lost report, not as an interrupt to pass on.
int StatusOfWorkersDeath(const Interpreter& interpreter, const Worker& worker, int wait_status) {
    if (!WIFSIGNALED(wait_status)) return wait_status;
    auto command = interpreter.Commands.find(worker.Command);
    if (command != interpreter.Commands.end() && command->second.Interrupted) return wait_status;
    return LOST_REPORT_COMMAND_DIED << 8;  // as waitpid reports an exit with it
}

// A worker's process has ended. Its command, if it had one, ended with it,
// unless it said the command's status before.
void BuryWorker(Interpreter* interpreter, uint32_t serial) {
    auto found = interpreter->Workers.find(serial);
    if (found == interpreter->Workers.end()) return;
    Worker worker = found->second;
    interpreter->Workers.erase(found);
    int wait_status = 0;
    while (waitpid(worker.Process, &wait_status, 0) < 0 && errno == EINTR) {
    }
    int said = 0;
    if (worker.Command != 0) {
        if (recv(worker.Channel, &said, sizeof said, MSG_DONTWAIT) == sizeof said) {
            wait_status = said;
        } else {
            wait_status = StatusOfWorkersDeath(*interpreter, worker, wait_status);
        }
        EndCommand(interpreter, &worker, wait_status);
    }
    auto& idle = interpreter->IdleWorkers;
    idle.erase(std::remove(idle.begin(), idle.end(), serial), idle.end());
    close(worker.Channel);
    close(worker.ProcessHandle);
}

// What the launcher says while its command runs: an interrupt it was sent,
// which the command takes as it would have from the terminal; or nothing more,
// as it has gone (a Ctrl-C, a kill), and the command goes with it.
void PassOn(Interpreter* interpreter, Command* command, uint32_t events) {
    auto worker = interpreter->Workers.find(command->Worker);
    if (worker == interpreter->Workers.end()) return;
    int signal_number = 0;
    ssize_t got = (events & EPOLLIN) != 0
                      ? recv(command->Connection, &signal_number, sizeof signal_number, MSG_DONTWAIT)
                      : 0;
    if (got == sizeof signal_number && signal_number > 0 && signal_number < 65) {
        command->Interrupted = true;
        kill(worker->second.Process, signal_number);
    } else if (got <= 0 && !(got < 0 && errno == EAGAIN)) {
        command->Interrupted = true;
        epoll_ctl(interpreter->Events, EPOLL_CTL_DEL, command->Connection, nullptr);
        kill(worker->second.Process, SIGKILL);
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
    case kRequestCame:
        TakeRequest(interpreter, serial);
        break;
    case kLauncherSays: {
        auto found = interpreter->Commands.find(serial);
        if (found != interpreter->Commands.end()) PassOn(interpreter, &found->second, event.events);
        break;
    }
    case kWorkerSays:
        HearWorker(interpreter, serial);
        break;
    case kWorkerEnded:
        BuryWorker(interpreter, serial);
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
