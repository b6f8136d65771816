#include "live/node_status_sweep.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <deque>

namespace {

// A request that awaits its answer.
struct Pending {
    uint32_t Address;
    uint16_t TransactionId;
    Clock::time_point Sent;
};

// The sweep's state: the requests awaiting answers, oldest first (each is
// awaited as long as the others, so the oldest times out first), and the
// answers so far.
struct SweepState {
    int Descriptor;
    std::deque<Pending> InFlight;
    std::vector<NodeStatus>* Answers;
};

enum SendOutcome {
    SEND_SENT,
    SEND_UNREACHABLE,  // the kernel knows it cannot reach the address: no answer will come
    SEND_NO_ROOM,      // the neighbour table is full: send it again later
    SEND_FAILED,
};

SendOutcome SendNodeStatus(int descriptor, uint32_t address, uint16_t transaction_id,
                           std::string* error) {
    const std::string request = NodeStatusRequest(transaction_id);
    const sockaddr_in target = NameServiceAt(address);
    if (sendto(descriptor, request.data(), request.size(), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0) {
        return SEND_SENT;
    }
    if (errno == ENOBUFS || errno == EAGAIN) return SEND_NO_ROOM;
    if (IsUnreachableError(errno)) return SEND_UNREACHABLE;
    *error = SystemFailure("cannot send a NetBIOS request", errno);
    return SEND_FAILED;
}

// Keeps a datagram that answers a request in flight, which then leaves the
// flight; anything else is passed over.
void TakeAnswer(const unsigned char* data, size_t length, uint32_t from, SweepState* sweep) {
    for (auto pending = sweep->InFlight.begin(); pending != sweep->InFlight.end(); ++pending) {
        if (pending->Address != from) continue;
        NodeStatus status;
        if (ReadNodeStatusResponse(data, length, pending->TransactionId, &status) == PACKET_ANSWER) {
            sweep->Answers->push_back(status);
            sweep->InFlight.erase(pending);
        }
        return;
    }
}

// Reads every datagram waiting on the socket; *answered tells whether one
// made room.
bool ReadWaiting(SweepState* sweep, bool* answered, std::string* error) {
    std::vector<unsigned char> data(65535);  // the largest UDP datagram
    for (;;) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t length = recvfrom(sweep->Descriptor, data.data(), data.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &from_length);
        if (length < 0) {
            if (errno == EAGAIN || errno == EINTR || IsUnreachableError(errno)) return true;
            *error = SystemFailure("cannot receive a NetBIOS answer", errno);
            return false;
        }
        const size_t before = sweep->InFlight.size();
        TakeAnswer(data.data(), static_cast<size_t>(length), ntohl(from.sin_addr.s_addr), sweep);
        if (sweep->InFlight.size() < before) *answered = true;
    }
}

// Waits up to until for answers, and returns once one has made room.
bool AwaitAnswers(SweepState* sweep, Clock::time_point until, std::string* error) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= until) return true;
        pollfd readable{sweep->Descriptor, POLLIN, 0};
        const int ready = poll(&readable, 1, PollSliceMs(now, until));
        if (ready < 0 && errno != EINTR) {
            *error = SystemFailure("cannot wait for a NetBIOS answer", errno);
            return false;
        }
        if (ready <= 0) continue;
        bool answered = false;
        if (!ReadWaiting(sweep, &answered, error)) return false;
        if (answered) return true;
    }
}

// Requests awaited their whole time leave the flight unanswered.
void DropTimedOut(SweepState* sweep) {
    const Clock::time_point now = Clock::now();
    while (!sweep->InFlight.empty() && sweep->InFlight.front().Sent + kSweepAnswerTime <= now) {
        sweep->InFlight.pop_front();
    }
}

}  // namespace

bool SweepNodeStatus(const std::vector<uint32_t>& addresses, std::vector<NodeStatus>* answers,
                     std::string* error) {
    UdpSocket udp;
    if (!OpenUdpSocket(false, &udp, error)) return false;
    SweepState sweep{udp.Value, {}, answers};
    // Request i has the id first_id + i: an answer tells which request it is for.
    const uint16_t first_id = RandomTransactionId();
    size_t next = 0;
    Clock::time_point last_room = Clock::now();
    while (next < addresses.size() || !sweep.InFlight.empty()) {
        bool table_full = false;
        while (next < addresses.size() && sweep.InFlight.size() < kSweepInFlight && !table_full) {
            const uint16_t transaction_id = static_cast<uint16_t>(first_id + next);
            switch (SendNodeStatus(udp.Value, addresses[next], transaction_id, error)) {
            case SEND_FAILED: return false;
            case SEND_NO_ROOM: table_full = true; continue;
            case SEND_SENT: sweep.InFlight.push_back({addresses[next], transaction_id, Clock::now()});
                break;
            case SEND_UNREACHABLE: break;
            }
            last_room = Clock::now();
            ++next;
        }
        if (table_full && Clock::now() - last_room >= kFullTableWait) {
            *error = SystemFailure("cannot send a NetBIOS request", ENOBUFS);
            return false;
        }
        if (sweep.InFlight.empty() && next == addresses.size()) break;
        // The next request goes once an answer or a time-out makes room; a
        // full table makes room as its entries fail, so then it is tried soon.
        Clock::time_point until = Clock::now() + kFullTablePause;
        if (!sweep.InFlight.empty()) {
            const Clock::time_point oldest_end = sweep.InFlight.front().Sent + kSweepAnswerTime;
            if (!table_full || oldest_end < until) until = oldest_end;
        }
        if (!AwaitAnswers(&sweep, until, error)) return false;
        DropTimedOut(&sweep);
    }
    return true;
}
