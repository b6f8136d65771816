// The interpreter's side of the resident interpreter: launchers accepted,
// their requests given to workers, what workers and launchers say, and
// workers that ended.
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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace resident
