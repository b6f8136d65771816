// What the wincmd launcher and the resident interpreter of a run say to each
// other over the socket in the run's work folder. The launcher is built
// without the C library, so this header uses nothing but fixed-size types.
//
// The launcher sends one request: a RequestHeader, then argc arguments and
// envc environment entries, each ending with a NUL, in one datagram of at
// most kRequestLimit bytes; with it go four descriptors: its standard input,
// output and error and its current directory. The interpreter answers with
// one byte (kAccepted) once the command has a process of its own, and with
// the process's wait status (four bytes) when it has ended. A connection
// closed before kAccepted means that nothing ran: the launcher runs the
// command itself.
#pragma once

#include <stdint.h>

namespace resident {

constexpr uint32_t kMagic = 0x51524331;  // "QRC1"
constexpr uint32_t kRequestLimit = 65536;
constexpr int kDescriptorCount = 4;      // stdin, stdout, stderr, directory
constexpr char kAccepted = 'A';

// The socket and the lock of the run's interpreter, in the work folder.
constexpr char kSocketName[] = "wincmd.sock";
constexpr char kLockName[] = "wincmd.lock";

// The first argument with which the launcher starts the whole program when
// the run has no interpreter yet: start one for the run, then run the command.
constexpr char kStartArgument[] = "--start-resident";

struct RequestHeader {
    uint32_t Magic;
    uint32_t ArgumentCount;
    uint32_t EnvironmentCount;
    uint32_t FileMask;     // the launcher's umask
    uint64_t SignalMask;   // the launcher's blocked signals, as the kernel keeps them
};

}  // namespace resident
