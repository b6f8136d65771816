// The system calls, constants and structures of the Linux kernel that the
// wincmd launcher uses, for a program built without the C library.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace launcher {

#if defined(__x86_64__)
enum SystemCall : long {
    kRead = 0, kWrite = 1, kClose = 3, kSigaction = 13, kSigprocmask = 14, kGetpid = 39,
    kSocket = 41, kConnect = 42, kSendto = 44, kSendmsg = 46, kExecve = 59, kKill = 62, kUmask = 95,
    kExitGroup = 231, kOpenat = 257, kReadlinkat = 267, kPpoll = 271, kSignalfd = 289,
    kGetsockopt = 55, kGeteuid = 107, kStatx = 332
};

inline long Call(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0,
                 long f = 0) {
    register long r10 asm("r10") = d;
    register long r8 asm("r8") = e;
    register long r9 asm("r9") = f;
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                 : "rcx", "r11", "memory");
    return result;
}
#elif defined(__aarch64__)
enum SystemCall : long {
    kRead = 63, kWrite = 64, kClose = 57, kSigaction = 134, kSigprocmask = 135, kGetpid = 172,
    kSocket = 198, kConnect = 203, kSendto = 206, kSendmsg = 211, kExecve = 221, kKill = 129, kUmask = 166,
    kExitGroup = 94, kOpenat = 56, kReadlinkat = 78, kPpoll = 73, kSignalfd = 74,
    kGetsockopt = 209, kGeteuid = 175, kStatx = 291
};

inline long Call(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0,
                 long f = 0) {
    register long x8 asm("x8") = number;
    register long x0 asm("x0") = a;
    register long x1 asm("x1") = b;
    register long x2 asm("x2") = c;
    register long x3 asm("x3") = d;
    register long x4 asm("x4") = e;
    register long x5 asm("x5") = f;
    asm volatile("svc 0"
                 : "+r"(x0)
                 : "r"(x8), "r"(x1), "r"(x2), "r"(x3), "r"(x4), "r"(x5)
                 : "memory");
    return x0;
}
#else
#error "the launcher knows the system calls of x86-64 and AArch64 Linux only"
#endif

// The kernel's constants this file needs (the same on both processors).
constexpr long kAtCurrentDirectory = -100;
constexpr long kOpenPath = 010000000, kCloseOnExec = 02000000;
constexpr long kUnixFamily = 1, kSeqPacket = 5, kSolSocket = 1, kScmRights = 1;
constexpr long kNoSignal = 0x4000;
constexpr long kReadOnly = 0, kNonBlocking = 04000;
constexpr long kPeerCredentials = 17;
constexpr unsigned kStatxType = 1, kStatxMode = 2, kStatxOwner = 8;
constexpr uint16_t kTypeBits = 0170000, kDirectory = 0040000, kGroupOrOthersWrite = 022;
constexpr long kSigBlock = 0, kSigUnblock = 1, kSigSetMask = 2, kSigDefault = 0;
constexpr long kPollIn = 1;
// What ends a run when the terminal or a user sends it to the run's process
// group: the interrupt, quit, hang-up and terminate signals.
constexpr uint64_t kInterruptSignals = (uint64_t{1} << (2 - 1)) | (uint64_t{1} << (3 - 1)) |
                                       (uint64_t{1} << (1 - 1)) | (uint64_t{1} << (15 - 1));
constexpr long kNotFound = 2, kInterrupted = 4, kRefused = 111;

struct IoVector {
    const void* Base;
    size_t Length;
};

struct MessageHeader {
    void* Name;
    uint32_t NameLength;
    IoVector* Vectors;
    size_t VectorCount;
    void* Control;
    size_t ControlLength;
    int Flags;
};

struct UnixAddress {
    uint16_t Family;
    char Path[108];
};

struct PollEntry {
    int Descriptor;
    short Events;
    short Returned;
};

struct PeerCredentials {
    int32_t Process;
    uint32_t User;
    uint32_t Group;
};

// The start of the kernel's struct statx, padded to its whole size.
struct FileStatus {
    uint32_t Mask;
    uint32_t BlockSize;
    uint64_t Attributes;
    uint32_t Links;
    uint32_t User;
    uint32_t Group;
    uint16_t Mode;
    char Rest[256 - 30];
};

struct KernelSigaction {
    long Handler;
    unsigned long Flags;
    long Restorer;
    uint64_t Mask;
};

[[noreturn]] inline void Exit(int status) {
    for (;;) Call(kExitGroup, status);
}

inline size_t Length(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

inline bool Same(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

}  // namespace launcher
