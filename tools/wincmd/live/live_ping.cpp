// ping of the live machine: real ICMP echo requests, a second apart, each
// waiting up to its time-out; the name of -a as Windows finds it: the system
// resolver's, else the computer name of a NetBIOS node-status answer, both
// silent when they have none or cannot answer. Both look-ups run while the
// first request waits for its reply, and the header, which comes before the
// reply lines, waits for them no longer than the look-up's time-out: then it
// shows the address alone.
#include <optional>
#include <thread>

#include "live/kernel.h"
#include "live/live_tools.h"
#include "live/name_lookup.h"
#include "live/netbios.h"
#include "live/table_room.h"

namespace {

constexpr auto kRequestInterval = std::chrono::milliseconds(1000);
// How long a probe waits for the sweep's count to give it room in the
// neighbour table before it trusts the kernel alone: longer than an
// unanswered address keeps its entry unresolved, so a right count has room
// by then.
constexpr auto kRoomPatience = std::chrono::seconds(5);

void ReportFailure(const ToolContext& context, const std::string& error) {
    std::fprintf(context.Errors, "wincmd: ping: %s\n", error.c_str());
}

// The name the header shows: a named target's own, or the look-ups' answer
// once they have ended or their deadline has passed.
struct HeaderName {
    std::string Known;
    std::optional<PendingName> LookUp;   // the system resolver
    std::optional<PendingName> NetBios;  // the node-status request
    Clock::time_point Deadline;
};

// The resolver's name when it has one by the deadline, else the NetBIOS one.
std::string AwaitName(const HeaderName& name) {
    if (!name.LookUp) return name.Known;
    const std::string resolved = name.LookUp->AwaitUntil(name.Deadline);
    if (!resolved.empty()) return resolved;
    return PrintableName(name.NetBios->AwaitUntil(name.Deadline));
}

// Both look-ups at once, each by the same deadline; the node-status request
// gives up by then, so its thread never outlives the probe by much.
void StartLookUps(uint32_t address, HeaderName* name) {
    const Clock::time_point deadline = name->Deadline;
    name->LookUp = PendingName::Start([address]() { return LookUpName(address); });
    name->NetBios = PendingName::Start([address, deadline]() {
        std::string computer;
        std::string error;  // a request that cannot go out names nothing, as the resolver
        NodeStatusName(address, deadline, &computer, &error);
        return computer;
    });
}

void PutHeader(FILE* out, const ToolContext& context, const HeaderName& name,
               const std::string& address_text) {
    PutPingHeader(out, context, AwaitName(name), address_text);
}

// Sends the requests and prints the header before the first line, then a line
// for each request; false after a failure is reported.
bool SendRequests(const ToolContext& context, const PingRequest& request, uint32_t address,
                  const HeaderName& name, EchoSocket* socket, PingTally* tally, FILE* out) {
    const std::string address_text = FormatAddress(address);
    Clock::time_point next_send = Clock::now();
    std::string error;
    for (unsigned long i = 0; i < request.Count; ++i) {
        std::this_thread::sleep_until(next_send);
        const uint16_t sequence = static_cast<uint16_t>(i + 1);
        Clock::time_point sent;
        EchoOutcome outcome{};
        const bool went = socket->Send(address, sequence, &sent, &error);
        if (i == 0) NeighbourEntryMade(address);
        const bool answered =
            went &&
            socket->AwaitReply(address, sequence, sent,
                               sent + std::chrono::milliseconds(request.TimeoutMs), &outcome, &error);
        if (i == 0) PutHeader(out, context, name, address_text);
        if (!went && socket->FoundNoRoute()) {
            // Not a failure of the machine: the report says it, request by request.
            PutLine(out, PingTransmitFailedLine(context));
        } else if (!answered) {
            ReportFailure(context, error);
            return false;
        } else {
            PutLine(out, outcome.Replied ? PingReplyLine(context, address_text, outcome)
                                         : PingTimeoutLine(context));
        }
        CountEcho(tally, outcome);
        next_send = sent + kRequestInterval;
    }
    return true;
}

// Pings the address: the header, a line per request, the statistics; the
// exit status of ping, which is 0 when any reply came.
int PingAddress(const ToolContext& context, const PingRequest& request, uint32_t address,
                HeaderName* name, FILE* out) {
    std::string error;
    EchoSocket socket;
    if (!socket.Open(&error)) {
        ReportFailure(context, error);
        return 1;
    }
    AwaitNeighbourRoom(address, Clock::now() + kRoomPatience);
    if (name->Known.empty() && request.ResolveName) {
        name->Deadline = Clock::now() + std::chrono::milliseconds(
                                            NameTimeoutMs(request.TimeoutGiven, request.TimeoutMs));
        StartLookUps(address, name);
    }
    PingTally tally;
    if (!SendRequests(context, request, address, *name, &socket, &tally, out)) return 1;
    PutPingStatistics(out, context, FormatAddress(address), tally);
    return tally.Received > 0 ? 0 : 1;
}

}  // namespace

int RunLivePing(const ToolContext& context, const PingRequest& request, FILE* out) {
    uint32_t address = 0;
    HeaderName name;
    std::string error;
    if (!ParseAddress(request.Target, &address)) {
        if (!LookUpAddress(request.Target, &address, &error)) {
            ReportFailure(context, error);
            return 1;
        }
        name.Known = request.Target;
    }
    // The probes of a sweep share the room of the neighbour table.
    JoinNeighbourRoom(out);
    const int status = PingAddress(context, request, address, &name, out);
    RemoveUnansweredEntries();
    LeaveNeighbourRoom(context.Errors, "ping");
    return status;
}
