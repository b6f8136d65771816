#include "live/netbios/node_status_sweep.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <deque>


namespace {

// A request that awaits its answer.
struct Pending {
    uint32_t Address;
    uint16_t TransactionId;
    Clock::time_point Sent;
};

// The sweep's state: the addresses and the next one to ask, the requests
// awaiting answers, oldest first (each is awaited as long as the others, so
// the oldest times out first), and the answers so far. Request i has the
// transaction id FirstId + i, so an answer tells which request it is for.
struct SweepState {
    NeighbourRoom* Room;
    const std::vector<uint32_t>& Addresses;
    const Socket& Udp;
    uint16_t FirstId;
    size_t Next;
    std::deque<Pending> InFlight;
    std::vector<NodeStatus>* Answers;
    Clock::time_point LastRoom;  // when a request last went out (or the sweep began)
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
    // One try, with the full table's error reported (the sweep waits itself).
    if (SendWhileTableFull(descriptor, Clock::now(), [&]() {
            return sendto(descriptor, request.data(), request.size(), 0,
                          reinterpret_cast<const sockaddr*>(&target), sizeof target) >= 0;
        })) {
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
    DatagramBuffer data;
    for (;;) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t length = recvfrom(sweep->Udp.Descriptor(), data.data(), data.size(), MSG_DONTWAIT,
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
        switch (WaitReadable(sweep->Udp, until, "a NetBIOS answer", error)) {
        case WAIT_READABLE: break;
        case WAIT_DEADLINE: return true;
        case WAIT_FAILED: return false;
        }
        bool answered = false;
        if (!ReadWaiting(sweep, &answered, error)) return false;
        if (answered) return true;
    }
}

// Requests awaited their whole time leave the flight unanswered, and their
// neighbour entries, where they never resolved, the table.
void DropTimedOut(SweepState* sweep) {
    const Clock::time_point now = Clock::now();
    while (!sweep->InFlight.empty() && sweep->InFlight.front().Sent + kSweepAnswerTime <= now) {
        sweep->Room->RemoveUnansweredEntry(sweep->InFlight.front().Address);
        sweep->InFlight.pop_front();
    }
}

// Sends the next requests while fewer than kSweepInFlight await answers;
// *table_full when the kernel had no room for the next one's neighbour entry.
bool SendWhileRoom(SweepState* sweep, bool* table_full, std::string* error) {
    *table_full = false;
    while (sweep->Next < sweep->Addresses.size() && sweep->InFlight.size() < kSweepInFlight) {
        const uint32_t address = sweep->Addresses[sweep->Next];
        const uint16_t transaction_id = static_cast<uint16_t>(sweep->FirstId + sweep->Next);
        // The neighbour table's room, as every live probe takes it (neighbour_room.h).
        bool room = false;
        if (!sweep->Room->Try(address, Clock::now() + kSweepAnswerTime, &room, error)) return false;
        if (!room) {
            *table_full = true;
            return true;
        }
        const SendOutcome sent = SendNodeStatus(sweep->Udp.Descriptor(), address, transaction_id, error);
        if (!sweep->Room->EntryMade(address, error)) return false;
        switch (sent) {
        case SEND_FAILED: return false;
        case SEND_NO_ROOM: *table_full = true; return true;
        case SEND_SENT: sweep->InFlight.push_back({address, transaction_id, Clock::now()}); break;
        case SEND_UNREACHABLE: break;
        }
        sweep->LastRoom = Clock::now();
        ++sweep->Next;
    }
    return true;
}

// Until when to wait for answers before sending again: the oldest request's
// time-out, or, when the table is full, soon, since its entries make room as
// they fail.
Clock::time_point NextSendTime(const SweepState& sweep, bool table_full) {
    const Clock::time_point soon = Clock::now() + kFullTablePause;
    if (sweep.InFlight.empty()) return soon;
    const Clock::time_point oldest_end = sweep.InFlight.front().Sent + kSweepAnswerTime;
    return table_full ? std::min(oldest_end, soon) : oldest_end;
}

}  // namespace

bool SweepNodeStatus(NeighbourRoom* room, const std::vector<uint32_t>& addresses,
                     std::vector<NodeStatus>* answers, std::string* error) {
    Socket udp;
    if (!OpenUdpSocket(false, &udp, error)) return false;
    SweepState sweep{room, addresses, udp, RandomTransactionId(), 0, {}, answers, Clock::now()};
    for (;;) {
        bool table_full = false;
        if (!SendWhileRoom(&sweep, &table_full, error)) return false;
        if (sweep.InFlight.empty() && sweep.Next == addresses.size()) return true;
        if (table_full && Clock::now() - sweep.LastRoom >= kFullTableWait) {
            *error = SystemFailure("cannot send a NetBIOS request", ENOBUFS);
            return false;
        }
        if (!AwaitAnswers(&sweep, NextSendTime(sweep, table_full), error)) return false;
        DropTimedOut(&sweep);
    }
}
