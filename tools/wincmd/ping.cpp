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

void PutStatistics(FILE* out, WinFormat format, const std::string& address, unsigned long count,
                   bool answered) {
    unsigned long received = answered ? count : 0;
    PutLine(out, "");
    PutLine(out, "Ping statistics for " + address + ":");
    PutLine(out, "    Packets: Sent = " + std::to_string(count) + ", Received = " +
                     std::to_string(received) + ", Lost = " + std::to_string(count - received) +
                     " (" + (answered ? "0" : "100") + "% loss),");
    if (!answered) return;
    PutLine(out, "Approximate round trip times in milli-seconds:");
    PutLine(out, PrintsLikeXp(format) ? "    Minimum = 0ms, Maximum = 0ms, Average = 0ms"
                                     : "    Minimum = 0ms, Maximum =  0ms, Average =  0ms");
}

constexpr double kRequestIntervalMs = 1000;
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
    PutLine(out, "Pinging " + (name.empty() ? address_text : name + " [" + address_text + "]") +
                     " with 32 bytes of data:");
    PutLine(out, "");
    const bool answered = AnswersPing(network, address);
    const std::string reply = "Reply from " + address_text + ": bytes=32 time" +
                              (PrintsLikeXp(context.Format) ? "<1ms" : "<10ms") + " TTL=128";
    const double wait_ms = answered ? RoundTripMs(network, address)
                                    : static_cast<double>(options.TimeoutMs);
    for (unsigned long i = 0; i < options.Count; ++i) {
        if (i > 0 && wait_ms < kRequestIntervalMs) WaitScaled(network, kRequestIntervalMs - wait_ms);
        WaitScaled(network, wait_ms);
        PutLine(out, answered ? reply : "Request timed out.");
    }
    PutStatistics(out, context.Format, address_text, options.Count, answered);
    return answered ? 0 : 1;
}
