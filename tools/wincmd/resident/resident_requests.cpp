// The resident interpreter's descriptors and requests: process handles,
// closing what a process must not keep, events to watch, and a launcher's
// request read and taken apart.
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

int OpenProcessHandle(pid_t process) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, process, 0));
#else
    (void)process;
    errno = ENOSYS;
    return -1;
#endif
}

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace resident
