// ping of the live machine: real ICMP echo requests, a second apart, each
// waiting up to its time-out; the name of -a from the system resolver, which
// stays silent when it has none or cannot answer, as on Windows.
#include <thread>

#include "live/kernel.h"
#include "live/live_tools.h"

namespace {

constexpr auto kRequestInterval = std::chrono::milliseconds(1000);

void ReportFailure(const ToolContext& context, const std::string& error) {
    std::fprintf(context.Errors, "wincmd: ping: %s\n", error.c_str());
}

// Sends the requests and prints a line for each; false after a failure is
// reported.
bool SendRequests(const ToolContext& context, const PingRequest& request, uint32_t address,
                  EchoSocket* socket, PingTally* tally, FILE* out) {
    const std::string address_text = FormatAddress(address);
    Clock::time_point next_send = Clock::now();
    std::string error;
    for (unsigned long i = 0; i < request.Count; ++i) {
        std::this_thread::sleep_until(next_send);
        const uint16_t sequence = static_cast<uint16_t>(i + 1);
        Clock::time_point sent;
        EchoOutcome outcome{};
        if (!socket->Send(address, sequence, &sent, &error) ||
            !socket->AwaitReply(address, sequence, sent,
                                sent + std::chrono::milliseconds(request.TimeoutMs), &outcome, &error)) {
            ReportFailure(context, error);
            return false;
        }
        PutLine(out, outcome.Replied ? PingReplyLine(context, address_text, outcome)
                                     : PingTimeoutLine(context));
        CountEcho(tally, outcome);
        next_send = sent + kRequestInterval;
    }
    return true;
}

}  // namespace

int RunLivePing(const ToolContext& context, const PingRequest& request, FILE* out) {
    uint32_t address = 0;
    std::string name;
    std::string error;
    if (ParseAddress(request.Target, &address)) {
        if (request.ResolveName) name = LookUpName(address);  // none: the address alone
    } else if (LookUpAddress(request.Target, &address, &error)) {
        name = request.Target;
    } else {
        ReportFailure(context, error);
        return 1;
    }
    EchoSocket socket;
    if (!socket.Open(&error)) {
        ReportFailure(context, error);
        return 1;
    }
    const std::string address_text = FormatAddress(address);
    PutPingHeader(out, context, name, address_text);
    PingTally tally;
    if (!SendRequests(context, request, address, &socket, &tally, out)) return 1;
    PutPingStatistics(out, context, address_text, tally);
    return tally.Received > 0 ? 0 : 1;
}
