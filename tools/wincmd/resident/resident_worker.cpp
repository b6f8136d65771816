// The worker's side of the resident interpreter: a process forked from it
// that runs the run's commands one at a time.
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

}  // namespace

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

}  // namespace resident
