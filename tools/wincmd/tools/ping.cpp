// ping: one echo request per count to an address (or a name), as the machine
// answers them, and the statistics after them.
#include <cstdlib>

#include "reports/report_text.h"
#include "reports/text_values.h"

namespace {

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
bool ReadOptions(const Arguments& args, PingRequest* request, FILE* out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-a" || arg == "/a") {
            request->ResolveName = true;
        } else if (arg == "-n" || arg == "/n" || arg == "-w" || arg == "/w") {
            unsigned long value = 0;
            if (i + 1 >= args.size() || !ReadCount(args[i + 1], &value) ||
                (arg[1] == 'n' && value == 0)) {
                PutLine(out, "Bad value for option " + arg + ", valid range is from 1 to 4294967295.");
                return false;
            }
            if (arg[1] == 'n') {
                request->Count = value;
            } else {
                request->TimeoutMs = value;
                request->TimeoutGiven = true;
            }
            ++i;
        } else if (!arg.empty() && (arg[0] == '-' || arg[0] == '/')) {
            PutLine(out, "Bad option " + arg + ".");
            PutUsage(out);
            return false;
        } else {
            request->Target = arg;
        }
    }
    if (request->Target.empty()) {
        PutUsage(out);
        return false;
    }
    return true;
}

// The texts of a ping report, in pieces around the figures and addresses.
struct PingTexts {
    const char* HeaderStart;
    const char* HeaderAfterBrackets;  // after "NAME [ADDRESS]"
    const char* HeaderAfterAddress;   // after the address alone
    const char* ReplyStart;
    const char* ReplyAfterAddress;  // before "<1ms" or "=5ms"
    const char* TimedOut;
    const char* StatisticsStart;
    const char* StatisticsEnd;
    const char* Sent;
    const char* Received;
    const char* Lost;
    const char* LossStart;
    const char* LossEnd;
    const char* RoundTrips;
    const char* Minimum;
    const char* Maximum;  // after the minimum's figure
    const char* Average;
    const char* UnknownHostStart;
    const char* UnknownHostEnd;
    const char* TransmitFailed;  // from version 6 on; no captured report shows it
};

// A request with no route, before version 6, where the tools print English
// (no captured report shows it either).
const char kNoRouteBefore6[] = "Destination host unreachable.";

const PingTexts kEnglish = {
    "Pinging ",
    " with 32 bytes of data:",
    " with 32 bytes of data:",
    "Reply from ",
    ": bytes=32 time",
    "Request timed out.",
    "Ping statistics for ",
    ":",
    "    Packets: Sent = ",
    ", Received = ",
    ", Lost = ",
    " (",
    "% loss),",
    "Approximate round trip times in milli-seconds:",
    "    Minimum = ",
    "ms, Maximum = ",
    "ms, Average = ",
    "Ping request could not find host ",
    ". Please check the name and try again.",
    "PING: transmit failed. General failure.",
};

// The name or address starts the header, with no blank between "]" and
// "に". The unknown-host and transmit-failure messages rest on no real capture.
const PingTexts kJapanese = {
    "",
    "\202\311 ping \202\360\221\227\220M\202\265\202\304\202\242\202\334\202\267 32 "
    "\203o\203C\203g\202\314\203f\201[\203^:",  // に ping を送信しています 32 バイトのデータ:
    " \202\311 ping \202\360\221\227\220M\202\265\202\304\202\242\202\334\202\267 32 "
    "\203o\203C\203g\202\314\203f\201[\203^:",  //  に ping を送信しています 32 バイトのデータ:
    "",
    " \202\251\202\347\202\314\211\236\223\232: \203o\203C\203g\220\224 =32 \216\236\212\324 ",  //  からの応答: バイト数 =32 時間
    "\227v\213\201\202\252\203^\203C\203\200\203A\203E\203g\202\265\202\334\202\265\202\275\201B",  // 要求がタイムアウトしました。
    "",
    " \202\314 ping \223\235\214v:",                        //  の ping 統計:
    "    \203p\203P\203b\203g\220\224: \221\227\220M = ",  //     パケット数: 送信 =
    "\201A\216\363\220M = ",                                 // 、受信 =
    "\201A\221\271\216\270 = ",                             // 、損失 =
    " (",
    "% \202\314\221\271\216\270)\201A",  // % の損失)、
    "\203\211\203E\203\223\203h \203g\203\212\203b\203v\202\314\212T\216Z\216\236\212\324 "
    "(\203~\203\212\225b):",             // ラウンド トリップの概算時間 (ミリ秒):
    "    \215\305\217\254 = ",         //     最小 =
    "ms\201A\215\305\221\345 = ",     // ms、最大 =
    "ms\201A\225\275\213\317 = ",     // ms、平均 =
    "Ping \227v\213\201\202\305\202\315\203z\203X\203g ",  // Ping 要求ではホスト
    " \202\252\214\251\202\302\202\251\202\350\202\334\202\271\202\361\202\305\202\265\202\275\201B"
    "\203z\203X\203g\226\274\202\360\212m\224F\202\265\202\304\202\340\202\244\210\352\223x"
    "\216\300\215s\202\265\202\304\202\255\202\276\202\263\202\242\201B",
    //  が見つかりませんでした。ホスト名を確認してもう一度実行してください。
    "PING: \223\135\221\227\202\311\216\270\224\163\202\265\202\334\202\265\202\275\201\102"
    "\210\352\224\312\203\107\203\211\201\133\202\305\202\267\201\102",
    // PING: 転送に失敗しました。一般エラーです。
};

const PingTexts* const kTexts[LANGUAGE_COUNT] = {&kEnglish, &kJapanese};

const PingTexts& TextsOf(const ToolContext& context) { return *kTexts[context.Language]; }

// The counts and round trips that ping's statistics show.
struct PingTally {
    unsigned long long Sent = 0;
    unsigned long long Received = 0;
    double MinimumMs = 0;
    double MaximumMs = 0;
    double TotalMs = 0;
};

std::string PingHeaderLine(const ToolContext& context, const std::string& name,
                           const std::string& address) {
    const PingTexts& text = TextsOf(context);
    if (name.empty()) return text.HeaderStart + address + text.HeaderAfterAddress;
    return text.HeaderStart + name + " [" + address + "]" + text.HeaderAfterBrackets;
}

void PutPingHeader(FILE* out, const ToolContext& context, const std::string& name,
                   const std::string& address) {
    PutLine(out, "");
    PutLine(out, PingHeaderLine(context, name, address));
    if (context.Style->Ping.Header == BLANK_LINE_AFTER_HEADER) PutLine(out, "");
}

std::string PingReplyLine(const ToolContext& context, const std::string& address,
                          const EchoOutcome& outcome) {
    const int resolution_ms = context.Style->Ping.ResolutionMs;
    const long time_ms = static_cast<long>(outcome.TimeMs);
    const std::string time = time_ms < resolution_ms ? "<" + std::to_string(resolution_ms) + "ms"
                                                     : "=" + std::to_string(time_ms) + "ms";
    const PingTexts& text = TextsOf(context);
    const std::string reply = text.ReplyStart + address + text.ReplyAfterAddress + time;
    return outcome.Ttl < 0 ? reply : reply + " TTL=" + std::to_string(outcome.Ttl);
}

std::string PingTimeoutLine(const ToolContext& context) { return TextsOf(context).TimedOut; }

// What stands for a request that could not go out for want of a route.
std::string PingTransmitFailedLine(const ToolContext& context) {
    return context.Style->Ping.NoRoute == TRANSMIT_FAILED ? TextsOf(context).TransmitFailed
                                                          : kNoRouteBefore6;
}

// The line of one request.
std::string EchoLine(const ToolContext& context, const std::string& address,
                     const EchoOutcome& outcome) {
    if (outcome.NoRoute) return PingTransmitFailedLine(context);
    return outcome.Replied ? PingReplyLine(context, address, outcome) : PingTimeoutLine(context);
}

void PutPingStatistics(FILE* out, const ToolContext& context, const std::string& address,
                       const PingTally& tally) {
    const PingTexts& text = TextsOf(context);
    const unsigned long long lost = tally.Sent - tally.Received;
    const unsigned long long loss_percent = tally.Sent == 0 ? 0 : lost * 100 / tally.Sent;
    PutLine(out, "");
    PutLine(out, text.StatisticsStart + address + text.StatisticsEnd);
    PutLine(out, text.Sent + std::to_string(tally.Sent) + text.Received +
                     std::to_string(tally.Received) + text.Lost + std::to_string(lost) +
                     text.LossStart + std::to_string(loss_percent) + text.LossEnd);
    if (tally.Received == 0) return;
    const std::string minimum = std::to_string(static_cast<long>(tally.MinimumMs));
    const std::string maximum = std::to_string(static_cast<long>(tally.MaximumMs));
    const std::string average = std::to_string(static_cast<long>(tally.TotalMs / tally.Received));
    PutLine(out, text.RoundTrips);
    const bool padded = context.Style->Ping.Figures == FIGURES_IN_TWO_PLACES;
    auto figure = [padded](const std::string& number) {
        return padded && number.size() < 2 ? " " + number : number;
    };
    PutLine(out, text.Minimum + minimum + text.Maximum + figure(maximum) + text.Average +
                     figure(average) + "ms");
}

void CountEcho(PingTally* tally, const EchoOutcome& outcome) {
    ++tally->Sent;
    if (!outcome.Replied) return;
    if (tally->Received == 0 || outcome.TimeMs < tally->MinimumMs) tally->MinimumMs = outcome.TimeMs;
    if (tally->Received == 0 || outcome.TimeMs > tally->MaximumMs) tally->MaximumMs = outcome.TimeMs;
    tally->TotalMs += outcome.TimeMs;
    ++tally->Received;
}

void PutUnknownHost(FILE* out, const ToolContext& context, const std::string& target) {
    const PingTexts& text = TextsOf(context);
    PutLine(out, context.Style->Ping.UnknownHost == UNKNOWN_HOST
                     ? "Unknown host " + target + "."
                     : text.UnknownHostStart + target + text.UnknownHostEnd);
}

// A line for each request, after the header: at once when the name is known,
// else after the first reply, which the name's look-up runs beside. False
// after a failure of the machine is reported.
bool PutEchoes(FILE* out, const ToolContext& context, const PingRequest& request,
               const PingTarget& target, EchoSession* echoes, PingTally* tally) {
    const std::string address = FormatAddress(target.Address);
    const bool name_pending = static_cast<bool>(target.AwaitName);
    if (!name_pending) PutPingHeader(out, context, target.Name, address);
    for (unsigned long i = 0; i < request.Count; ++i) {
        EchoOutcome outcome{};
        std::string error;
        const bool answered = echoes->Next(&outcome, &error);
        if (i == 0 && name_pending) PutPingHeader(out, context, target.AwaitName(), address);
        if (!answered) {
            PutMachineFailure(context, "ping", error);
            return false;
        }
        PutLine(out, EchoLine(context, address, outcome));
        CountEcho(tally, outcome);
    }
    return true;
}

}  // namespace

int RunPing(const ToolContext& context, const Arguments& args, FILE* out) {
    PingRequest request;
    if (!ReadOptions(args, &request, out)) return 1;
    PingTarget target;
    std::string error;
    switch (context.Host->FindTarget(request, &target, &error)) {
    case TARGET_FOUND: break;
    case TARGET_UNKNOWN: PutUnknownHost(out, context, request.Target); return 1;
    case TARGET_FAILED: PutMachineFailure(context, "ping", error); return 1;
    }
    const std::unique_ptr<EchoSession> echoes = context.Host->StartEchoes(request, &target, &error);
    if (echoes == nullptr) {
        PutMachineFailure(context, "ping", error);
        return 1;
    }
    PingTally tally;
    if (!PutEchoes(out, context, request, target, echoes.get(), &tally)) return 1;
    PutPingStatistics(out, context, FormatAddress(target.Address), tally);
    return tally.Received > 0 ? 0 : 1;
}
