// ping: one echo request per count to an address (or a name), answered from
// the simulated network; nothing is sent. With the network's time model on, it
// waits as the real tool does: a reply after the host's round trip, no reply
// after the time-out; requests a second apart.
#include "tools.h"

#include <cstdlib>

#include "platform/platform.h"

namespace {

struct PingOptions {
    bool ResolveName = false;  // -a
    unsigned long Count = 4;   // -n
    unsigned long TimeoutMs = 4000;  // -w
    std::string Target;
};

void PutUsage(FILE* out) {
    PutLine(out, "");
    PutLine(out, "Usage: ping [-a] [-n count] [-w timeout] target_name");
    PutLine(out, "");
    PutLine(out, "Options:");
    PutLine(out, "    -a             Resolve addresses to hostnames.");
    PutLine(out, "    -n count       Number of echo requests to send.");
    PutLine(out, "    -w timeout     Timeout in milliseconds to wait for each reply.");
    PutLine(out, "");
}

bool ReadCount(const std::string& text, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    if (text.size() > 10) return false;
    unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
    if (number > 0xFFFFFFFFULL) return false;
    *value = static_cast<unsigned long>(number);
    return true;
}

// False after printing what is wrong.
bool ReadOptions(const Arguments& args, PingOptions* options, FILE* out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-a" || arg == "/a") {
            options->ResolveName = true;
        } else if (arg == "-n" || arg == "/n" || arg == "-w" || arg == "/w") {
            unsigned long value = 0;
            if (i + 1 >= args.size() || !ReadCount(args[i + 1], &value) ||
                (arg[1] == 'n' && value == 0)) {
                PutLine(out, "Bad value for option " + arg + ", valid range is from 1 to 4294967295.");
                return false;
            }
            if (arg[1] == 'n') {
                options->Count = value;
            } else {
                options->TimeoutMs = value;
            }
            ++i;
        } else if (!arg.empty() && (arg[0] == '-' || arg[0] == '/')) {
            PutLine(out, "Bad option " + arg + ".");
            PutUsage(out);
            return false;
        } else {
            options->Target = arg;
        }
    }
    if (options->Target.empty()) {
        PutUsage(out);
        return false;
    }
    return true;
}

}  // namespace

std::string PingHeaderLine(const ToolContext& context, const std::string& name,
                           const std::string& address) {
    (void)context;
    return "Pinging " + (name.empty() ? address : name + " [" + address + "]") +
           " with 32 bytes of data:";
}

std::string PingReplyLine(const ToolContext& context, const std::string& address,
                          const EchoOutcome& outcome) {
    // Times under the tool's resolution print as "<1ms" (XP on) or "<10ms".
    const int resolution_ms = PrintsLikeXp(context.Format) ? 1 : 10;
    const long time_ms = static_cast<long>(outcome.TimeMs);
    const std::string time = time_ms < resolution_ms ? "<" + std::to_string(resolution_ms) + "ms"
                                                     : "=" + std::to_string(time_ms) + "ms";
    return "Reply from " + address + ": bytes=32 time" + time + " TTL=" +
           std::to_string(outcome.Ttl);
}

std::string PingTimeoutLine(const ToolContext& context) {
    (void)context;
    return "Request timed out.";
}

void PutPingStatistics(FILE* out, const ToolContext& context, const std::string& address,
                       const PingTally& tally) {
    const unsigned long long lost = tally.Sent - tally.Received;
    const unsigned long long loss_percent = tally.Sent == 0 ? 0 : lost * 100 / tally.Sent;
    PutLine(out, "");
    PutLine(out, "Ping statistics for " + address + ":");
    PutLine(out, "    Packets: Sent = " + std::to_string(tally.Sent) + ", Received = " +
                     std::to_string(tally.Received) + ", Lost = " + std::to_string(lost) + " (" +
                     std::to_string(loss_percent) + "% loss),");
    if (tally.Received == 0) return;
    const std::string minimum = std::to_string(static_cast<long>(tally.MinimumMs));
    const std::string maximum = std::to_string(static_cast<long>(tally.MaximumMs));
    const std::string average = std::to_string(static_cast<long>(tally.TotalMs / tally.Received));
    PutLine(out, "Approximate round trip times in milli-seconds:");
    // Before XP the last two figures are right-aligned in two places.
    const bool padded = !PrintsLikeXp(context.Format);
    auto figure = [padded](const std::string& text) {
        return padded && text.size() < 2 ? " " + text : text;
    };
    PutLine(out, "    Minimum = " + minimum + "ms, Maximum = " + figure(maximum) +
                     "ms, Average = " + figure(average) + "ms");
}

void CountEcho(PingTally* tally, const EchoOutcome& outcome) {
    ++tally->Sent;
    if (!outcome.Replied) return;
    if (tally->Received == 0 || outcome.TimeMs < tally->MinimumMs) tally->MinimumMs = outcome.TimeMs;
    if (tally->Received == 0 || outcome.TimeMs > tally->MaximumMs) tally->MaximumMs = outcome.TimeMs;
    tally->TotalMs += outcome.TimeMs;
    ++tally->Received;
}

namespace {

constexpr double kRequestIntervalMs = 1000;
constexpr int kSimulatedTtl = 128;
constexpr int kLongestWaitMs = 0x7FFFFFFF;

// Waits the simulated milliseconds, times the network's scale (off when 0).
void WaitScaled(const Network& network, double milliseconds) {
    if (network.TimeScale <= 0 || milliseconds <= 0) return;
    const double scaled = milliseconds * network.TimeScale + 0.5;
    PlatformWait(scaled < kLongestWaitMs ? static_cast<int>(scaled) : kLongestWaitMs);
}

}  // namespace

int RunPing(const ToolContext& context, const Arguments& args, FILE* out) {
    PingOptions options;
    if (!ReadOptions(args, &options, out)) return 1;
    if (context.Live != nullptr) {
        return context.Live->Ping(
            context, {options.ResolveName, options.Count, options.TimeoutMs, options.Target}, out);
    }
    const Network& network = *context.Net;

    uint32_t address = 0;
    std::string name;
    if (ParseAddress(options.Target, &address)) {
        if (options.ResolveName) name = NameOfAddress(network, address);
    } else if (AddressOfName(network, options.Target, &address)) {
        name = options.Target;
    } else {
        PutLine(out, PrintsLikeXp(context.Format)
                         ? "Ping request could not find host " + options.Target +
                               ". Please check the name and try again."
                         : "Unknown host " + options.Target + ".");
        return 1;
    }

    const std::string address_text = FormatAddress(address);
    PutLine(out, "");
    PutLine(out, PingHeaderLine(context, name, address_text));
    PutLine(out, "");
    const bool answered = AnswersPing(network, address);
    // The simulated replies print as instant ones from a Windows host.
    const EchoOutcome outcome{answered, 0, kSimulatedTtl};
    const double wait_ms = answered ? RoundTripMs(network, address)
                                    : static_cast<double>(options.TimeoutMs);
    PingTally tally;
    for (unsigned long i = 0; i < options.Count; ++i) {
        if (i > 0 && wait_ms < kRequestIntervalMs) WaitScaled(network, kRequestIntervalMs - wait_ms);
        WaitScaled(network, wait_ms);
        PutLine(out, answered ? PingReplyLine(context, address_text, outcome)
                              : PingTimeoutLine(context));
        CountEcho(&tally, outcome);
    }
    PutPingStatistics(out, context, address_text, tally);
    return answered ? 0 : 1;
}
