// What the resident interpreter's parts share: the interpreter's state, its
// commands and workers, and the steps one part takes for another.
#pragma once

#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

#include "resident/resident_interpreter.h"
#include "resident/resident_protocol.h"

namespace resident {

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

// Descriptors, events and requests (resident_requests.cpp).
int OpenProcessHandle(pid_t process);  // a pidfd, -1 without one
// Closes every descriptor from 3 on but those kept (at most three).
void CloseAllBut(std::initializer_list<int> kept);
// Watches descriptor for what, its events tagged with kind and serial.
bool Watch(int events, int descriptor, uint32_t what, EventKind kind, uint32_t serial);
bool IsFromThisUser(int connection);
void Close(int* descriptors, int count);
// Reads the request with its descriptors; its length, or -1 when it is not
// one.
long ReadRequest(Interpreter* interpreter, int connection, int* descriptors);
// The request of length bytes in the interpreter's buffer as its command's
// process takes it; false when it is malformed.
bool ParseRequest(Interpreter* interpreter, long length, CommandRequest* request);

// A worker's life: the command it was forked for, then each one it is given
// on channel (resident_worker.cpp). Never returns.
[[noreturn]] void ServeCommands(Interpreter* interpreter, int channel, CommandRequest* request,
                                int* descriptors);

// The interpreter's events (resident_dispatch.cpp): the run has ended, no new
// command is taken; one event of the interpreter's, handled.
void StopAccepting(Interpreter* interpreter);
void HandleEvent(Interpreter* interpreter, const epoll_event& event);

}  // namespace resident
