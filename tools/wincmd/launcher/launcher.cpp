// wincmd as the program runs it: a launcher built without the C library.
//
// A sweep starts the interpreter twice per address, and most of what a start
// costs is the C library's own start-up (the processor's features and cache
// sizes, the dynamic loader), not the tool. Within a run, the launcher hands
// its command to the run's resident interpreter (wincmd-tools, serving on a
// socket in the run's work folder), which forks a process for it, and waits
// for its status. Without a work folder, with no interpreter serving yet, or
// when the interpreter does not take the command, it runs wincmd-tools itself
// (the first time asking it to start the run's interpreter as well).
#include <stddef.h>
#include <stdint.h>

#include "contract/lost_report.h"
#include "contract/work_folder.h"
#include "launcher/kernel_calls.h"
#include "resident/resident_protocol.h"
#include "shell/interpreter_messages.h"

using namespace launcher;

namespace {

// The request's descriptors as the kernel passes them (SCM_RIGHTS).
struct DescriptorMessage {
    size_t Length;
    int Level;
    int Type;
    int Descriptors[resident::kDescriptorCount];
};

void Say(const char* text) { Call(kWrite, 2, reinterpret_cast<long>(text), Length(text)); }

// Text put together in a fixed buffer; Fits() is false once anything was cut.
class Text {
public:
    Text(char* buffer, size_t size) : buffer_(buffer), size_(size) {}
    void Add(const char* text, size_t length) {
        if (length > size_ - used_) {
            fits_ = false;
            return;
        }
        for (size_t k = 0; k < length; ++k) buffer_[used_ + k] = text[k];
        used_ += length;
    }
    void Add(const char* text) { Add(text, Length(text)); }
    void AddWithNul(const char* text) { Add(text, Length(text) + 1); }
    void Cut(size_t used) { used_ = used; }
    size_t Used() const { return used_; }
    bool Fits() const { return fits_; }

private:
    char* buffer_;
    size_t size_;
    size_t used_ = 0;
    bool fits_ = true;
};

const char* Variable(char** environment, const char* name) {
    size_t length = Length(name);
    for (; *environment != nullptr; ++environment) {
        const char* entry = *environment;
        size_t k = 0;
        while (k < length && entry[k] == name[k]) ++k;
        if (k == length && entry[k] == '=') return entry + k + 1;
    }
    return nullptr;
}

// The folder's path with name after it, in path; false when it does not fit.
bool InFolder(const char* folder, const char* name, Text* path) {
    path->Add(folder);
    if (path->Used() > 0 && folder[path->Used() - 1] != '/') path->Add("/");
    path->AddWithNul(name);
    return path->Fits();
}

// Whether the work folder is this user's own and no one else may write in
// it: then the socket and the lock in it are this user's too.
bool IsPrivateFolder(const char* folder) {
    FileStatus status{};
    long found = Call(kStatx, kAtCurrentDirectory, reinterpret_cast<long>(folder), 0,
                      kStatxType | kStatxMode | kStatxOwner, reinterpret_cast<long>(&status));
    return found == 0 && (status.Mode & kTypeBits) == kDirectory &&
           (status.Mode & kGroupOrOthersWrite) == 0 &&
           status.User == static_cast<uint32_t>(Call(kGeteuid));
}

// The process the run's interpreter recorded in its lock as it began to
// serve (its number in decimal); 0 when there is none.
long RecordedInterpreter(const char* folder) {
    char path_buffer[4096];
    Text path(path_buffer, sizeof path_buffer);
    if (!InFolder(folder, resident::kLockName, &path)) return 0;
    long lock = Call(kOpenat, kAtCurrentDirectory, reinterpret_cast<long>(path_buffer),
                     kReadOnly | kNonBlocking | kCloseOnExec);
    if (lock < 0) return 0;
    char digits[24];
    long length = Call(kRead, lock, reinterpret_cast<long>(digits), sizeof digits);
    Call(kClose, lock);
    long process = 0;
    for (long k = 0; k < length && digits[k] >= '0' && digits[k] <= '9' && process < (1L << 40); ++k) {
        process = process * 10 + (digits[k] - '0');
    }
    return process;
}

// Whether the socket's peer is the run's interpreter: a process of this user
// (the kernel says who listens), and the one the lock in the private folder
// names, so that no other listener on the path, not even a stale one of this
// user's, is sent the command's streams and environment. The lock is read
// before the connection (recorded) and, when that does not match, after it:
// an interpreter that ends idle as another begins may change it in between.
bool PeerIsTheInterpreter(long socket, const char* folder, long recorded) {
    PeerCredentials peer{};
    uint32_t length = sizeof peer;
    long asked = Call(kGetsockopt, socket, kSolSocket, kPeerCredentials, reinterpret_cast<long>(&peer),
                      reinterpret_cast<long>(&length));
    return asked == 0 && length == sizeof peer && peer.User == static_cast<uint32_t>(Call(kGeteuid)) &&
           peer.Process > 0 &&
           (peer.Process == recorded || peer.Process == RecordedInterpreter(folder));
}

// Runs the program at the folder of path (its first length bytes) and
// relative; returns when it cannot.
void TryProgram(char* path, long length, size_t size, const char* relative, char** arguments,
                char** environment) {
    if (length <= 0) return;
    Text program(path, size);
    program.Cut(static_cast<size_t>(length));
    program.AddWithNul(relative);
    if (!program.Fits()) return;
    arguments[0] = path;
    Call(kExecve, reinterpret_cast<long>(path), reinterpret_cast<long>(arguments),
         reinterpret_cast<long>(environment));
}

// Runs the whole program (never returns): beside this one, as in the build
// tree, or where the package installs it.
[[noreturn]] void RunProgram(int argc, char** argv, char** environment, bool start_resident) {
    char** arguments = static_cast<char**>(__builtin_alloca((argc + 2) * sizeof(char*)));
    int count = 1;
    if (start_resident) arguments[count++] = const_cast<char*>(resident::kStartArgument);
    for (int k = 1; k < argc; ++k) arguments[count++] = argv[k];
    arguments[count] = nullptr;
    char path[4096];
    long length = Call(kReadlinkat, kAtCurrentDirectory, reinterpret_cast<long>("/proc/self/exe"),
                       reinterpret_cast<long>(path), sizeof path - 1);
    while (length > 0 && path[length - 1] != '/') --length;
    TryProgram(path, length, sizeof path, "wincmd-tools", arguments, environment);
    TryProgram(path, length, sizeof path, WINCMD_TOOLS_FROM_LAUNCHER, arguments, environment);
    Say(MSG_WINCMD_NO_PROGRAM);
    Exit(127);
}

// Ends as the command's process ended: with its exit status, or by its signal.
[[noreturn]] void EndAs(int wait_status) {
    int signal_number = wait_status & 0x7f;
    if (signal_number == 0) Exit((wait_status >> 8) & 0xff);
    KernelSigaction action{kSigDefault, 0, 0, 0};
    Call(kSigaction, signal_number, reinterpret_cast<long>(&action), 0, sizeof(uint64_t));
    uint64_t signals = uint64_t{1} << (signal_number - 1);
    Call(kSigprocmask, kSigUnblock, reinterpret_cast<long>(&signals), 0, sizeof signals);
    Call(kKill, Call(kGetpid), signal_number);
    Exit(128 + signal_number);
}

// The request: its header, the arguments and the environment.
bool BuildRequest(int argc, char** argv, char** environment, uint64_t mask, Text* request) {
    resident::RequestHeader header{};
    header.Magic = resident::kMagic;
    header.ArgumentCount = static_cast<uint32_t>(argc);
    for (char** entry = environment; *entry != nullptr; ++entry) ++header.EnvironmentCount;
    long file_mask = Call(kUmask, 0);
    Call(kUmask, file_mask);
    header.FileMask = static_cast<uint32_t>(file_mask);
    header.SignalMask = mask;
    request->Add(reinterpret_cast<const char*>(&header), sizeof header);
    for (int k = 0; k < argc; ++k) request->AddWithNul(argv[k]);
    for (char** entry = environment; *entry != nullptr; ++entry) request->AddWithNul(*entry);
    return request->Fits();
}

bool SendRequest(int socket, const Text& request, char* buffer) {
    long directory = Call(kOpenat, kAtCurrentDirectory, reinterpret_cast<long>("."),
                          kOpenPath | kCloseOnExec);
    if (directory < 0) return false;
    IoVector vector{buffer, request.Used()};
    DescriptorMessage control{sizeof control, kSolSocket, kScmRights,
                              {0, 1, 2, static_cast<int>(directory)}};
    MessageHeader message{nullptr, 0, &vector, 1, &control, sizeof control, 0};
    long sent = Call(kSendmsg, socket, reinterpret_cast<long>(&message), kNoSignal);
    Call(kClose, directory);
    return sent == static_cast<long>(request.Used());
}

long ReadWhole(int socket, void* into, size_t length) {
    long got;
    do {
        got = Call(kRead, socket, reinterpret_cast<long>(into), length);
    } while (got == -kInterrupted);
    return got;
}

char g_request[resident::kRequestLimit];

// Waits for the command's wait status; an interrupt that reaches the launcher
// meanwhile is passed on to the command, as the terminal would have sent it to
// a command of the run's process group. -1 when the interpreter is gone.
int AwaitStatus(int socket, long signals) {
    PollEntry waits[2] = {{socket, kPollIn, 0}, {static_cast<int>(signals), kPollIn, 0}};
    for (;;) {
        long ready = Call(kPpoll, reinterpret_cast<long>(waits), signals >= 0 ? 2 : 1, 0, 0);
        if (ready < 0 && ready != -kInterrupted) return -1;
        if (ready > 0 && waits[1].Returned != 0) {
            char information[128];  // the kernel's signalfd_siginfo; the number first
            if (ReadWhole(static_cast<int>(signals), information, sizeof information) > 0) {
                int signal_number;
                __builtin_memcpy(&signal_number, information, sizeof signal_number);
                Call(kSendto, socket, reinterpret_cast<long>(&signal_number), sizeof signal_number,
                     kNoSignal);
            }
        }
        if (ready > 0 && waits[0].Returned != 0) {
            int wait_status = 0;
            long got = ReadWhole(socket, &wait_status, sizeof wait_status);
            return got == sizeof wait_status ? wait_status : -1;
        }
    }
}

enum class Outcome { kNoInterpreter, kStartInterpreter };

// Hands the command to the run's interpreter and ends as it ends; returns
// when nothing ran, saying whether to start an interpreter for the run.
Outcome AskInterpreter(int argc, char** argv, char** environment, const char* folder) {
    // A folder that is not the user's own is no run's: nothing in it is
    // trusted, and the command runs here.
    if (!IsPrivateFolder(folder)) return Outcome::kNoInterpreter;
    UnixAddress address{static_cast<uint16_t>(kUnixFamily), {}};
    Text path(address.Path, sizeof address.Path);
    if (!InFolder(folder, resident::kSocketName, &path)) return Outcome::kNoInterpreter;
    const long recorded = RecordedInterpreter(folder);
    long socket = Call(kSocket, kUnixFamily, kSeqPacket | kCloseOnExec, 0);
    if (socket < 0) return Outcome::kNoInterpreter;
    long connected = Call(kConnect, socket, reinterpret_cast<long>(&address), sizeof address);
    if (connected == -kNotFound || connected == -kRefused) {
        Call(kClose, socket);
        return Outcome::kStartInterpreter;
    }
    // Something else serves in the run's own folder: the run is not what it
    // seems, and the command's report is not to be had.
    if (connected == 0 && !PeerIsTheInterpreter(socket, folder, recorded)) {
        Say(MSG_WINCMD_NOT_THE_INTERPRETER);
        Exit(LostReportStatus(EPERM));
    }
    // The interrupts the command would take are held from here on, and read
    // from a descriptor while the command runs; given back when nothing runs.
    uint64_t mask = 0;
    Call(kSigprocmask, kSigBlock, 0, reinterpret_cast<long>(&mask), sizeof mask);
    uint64_t passed_on = kInterruptSignals & ~mask;
    Call(kSigprocmask, kSigBlock, reinterpret_cast<long>(&passed_on), 0, sizeof passed_on);
    long signals = Call(kSignalfd, -1, reinterpret_cast<long>(&passed_on), sizeof passed_on,
                        kCloseOnExec);
    if (signals < 0) Call(kSigprocmask, kSigSetMask, reinterpret_cast<long>(&mask), 0, sizeof mask);
    Text request(g_request, sizeof g_request);
    char accepted = 0;
    if (connected < 0 || !BuildRequest(argc, argv, environment, mask, &request) ||
        !SendRequest(static_cast<int>(socket), request, g_request) ||
        ReadWhole(static_cast<int>(socket), &accepted, 1) != 1 || accepted != resident::kAccepted) {
        Call(kClose, socket);
        if (signals >= 0) Call(kClose, signals);
        Call(kSigprocmask, kSigSetMask, reinterpret_cast<long>(&mask), 0, sizeof mask);
        return Outcome::kNoInterpreter;
    }
    int wait_status = AwaitStatus(static_cast<int>(socket), signals);
    if (wait_status < 0) {
        // The command's report may be cut short: said as a lost report.
        Say(MSG_WINCMD_INTERPRETER_LOST);
        Exit(LOST_REPORT_COMMAND_DIED);
    }
    EndAs(wait_status);
}

}  // namespace

extern "C" [[noreturn]] __attribute__((used, visibility("hidden"))) void LauncherStart(long* stack) {
    int argc = static_cast<int>(stack[0]);
    char** argv = reinterpret_cast<char**>(stack + 1);
    char** environment = argv + argc + 1;
    const char* folder = Variable(environment, kWorkFolderVariable);
    bool runs_command = argc >= 2 && (Same(argv[1], "/c") || Same(argv[1], "/C"));
    Outcome outcome = Outcome::kNoInterpreter;
    // A relative folder would name another place in the interpreter, which
    // serves from the root folder.
    if (folder != nullptr && folder[0] == '/' && runs_command) {
        outcome = AskInterpreter(argc, argv, environment, folder);
    }
    RunProgram(argc, argv, environment, outcome == Outcome::kStartInterpreter);
}

// The process's entry: the stack holds argc, the arguments and the
// environment; the stack pointer is aligned for the call.
#if defined(__x86_64__)
asm(".text\n.global _start\n_start:\n xor %rbp, %rbp\n mov %rsp, %rdi\n"
    " and $-16, %rsp\n call LauncherStart\n hlt\n");
#else
asm(".text\n.global _start\n_start:\n mov x29, #0\n mov x30, #0\n mov x0, sp\n"
    " bl LauncherStart\n");
#endif

// What the compiler may call for copies and fills.
// (volatile, so that the loops are not made into calls of themselves).
extern "C" void* memcpy(void* to, const void* from, size_t length) {
    auto* out = static_cast<volatile char*>(to);
    const auto* in = static_cast<const char*>(from);
    while (length-- > 0) *out++ = *in++;
    return to;
}

extern "C" void* memset(void* to, int value, size_t length) {
    auto* out = static_cast<volatile char*>(to);
    while (length-- > 0) *out++ = static_cast<char>(value);
    return to;
}
