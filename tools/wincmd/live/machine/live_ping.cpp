// ping's answers on the live machine: real ICMP echo requests, a second
// apart, each waiting up to its time-out; the name of -a as Windows finds it:
// the system resolver's, else the computer name of a NetBIOS node-status
// answer, both silent when they have none or cannot answer. Both look-ups run
// while the first request waits for its reply, and the header, which comes
// before the reply lines, waits for them no longer than the look-up's
// time-out: then it shows the address alone. One of the machine's own
// addresses is named by the host name before either is asked, as Windows does.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "contract/work_folder.h"
#include "live/kernel/echo_socket.h"
#include "live/kernel/resolver.h"
#include "live/machine/live_machine.h"
#include "live/netbios/netbios.h"
#include "live/netbios/own_name.h"
#include "live/room/probe_record.h"
#include "reports/lost_work_file.h"
#include "reports/text_values.h"

namespace {

constexpr auto kRequestInterval = std::chrono::milliseconds(1000);
// How long a probe waits for the sweep's count to give it room in the
// neighbour table before it trusts the kernel alone: longer than an
// unanswered address keeps its entry unresolved, so a right count has room
// by then.
constexpr auto kRoomPatience = std::chrono::seconds(5);

// The resolver's name when it has one by the deadline, else the NetBIOS one.
std::string AwaitName(const PendingName& look_up, const PendingName& netbios,
                      Clock::time_point deadline) {
    const std::string resolved = look_up.AwaitUntil(deadline);
    if (!resolved.empty()) return PrintableName(NameInConsoleCodePage(resolved));
    return PrintableName(netbios.AwaitUntil(deadline));
}

// Both look-ups at once, each by the same deadline; the node-status request
// gives up by then, so its thread never outlives the probe by much.
std::function<std::string()> StartLookUps(const std::shared_ptr<NeighbourRoom>& room,
                                          uint32_t address, Clock::time_point deadline) {
    const PendingName look_up = PendingName::Start([address]() { return LookUpName(address); });
    const PendingName netbios = PendingName::Start([room, address, deadline]() {
        std::string computer;
        std::string error;  // a request that cannot go out names nothing, as the resolver
        NodeStatusName(room.get(), address, deadline, &computer, &error);
        return computer;
    });
    return [look_up, netbios, deadline]() { return AwaitName(look_up, netbios, deadline); };
}

// The requests of one ping. The probes of a sweep share the room of the
// neighbour table: the session joins the run's count as it starts and, as it
// ends, removes the entries its requests left unresolved and leaves, saying
// what the room has to say.
class LiveEchoes : public EchoSession {
public:
    LiveEchoes(uint32_t address, unsigned long timeout_ms, std::shared_ptr<NeighbourRoom> room,
               FILE* errors)
        : address_(address), timeout_(timeout_ms), room_(std::move(room)), errors_(errors) {}

    ~LiveEchoes() override {
        room_->RemoveUnansweredEntry(address_);
        std::string line;
        std::string error;
        // A ledger that could not be written is said by the command's status.
        if (!room_->Leave(&line, &error)) line = WorkFolderFileLost() ? "" : error;
        if (!line.empty()) std::fprintf(errors_, "wincmd: ping: %s\n", line.c_str());
    }

    // Opens the socket, records when the probe began, then joins the run's
    // room and waits for the room of the address's entry, which asks the
    // kernel afresh for the address.
    bool Open(std::string* error) {
        if (!socket_.Open(error)) return false;
        const char* folder = std::getenv(kWorkFolderVariable);
        int lost = 0;
        if (!record_.Start(folder != nullptr ? folder : "", address_, MonotonicNowNs(), &lost, error)) {
            NoteLostWorkFolderFile(lost);
            return false;
        }
        const Clock::time_point room_deadline = Clock::now() + kRoomPatience;
        if (!room_->Join(room_deadline, error) ||
            !room_->Await(address_, room_deadline, error, /*afresh=*/true)) {
            return false;
        }
        next_send_ = Clock::now();
        return true;
    }

    bool Next(EchoOutcome* outcome, std::string* error) override {
        std::this_thread::sleep_until(next_send_);
        const uint16_t sequence = ++sequence_;
        Clock::time_point sent;
        const bool went = socket_.Send(address_, sequence, &sent, error);
        if (sequence_ == 1 && !room_->EntryMade(address_, error)) return false;
        if (!went && socket_.FoundNoRoute()) {
            // Not a failure of the machine: the report says it, request by request.
            *outcome = {false, 0, 0};
            outcome->NoRoute = true;
        } else if (!went ||
                   !socket_.AwaitReply(address_, sequence, sent, sent + timeout_, outcome, error)) {
            return false;
        }
        int lost = 0;
        if (outcome->Replied && !record_.Answered(&lost, error)) {
            NoteLostWorkFolderFile(lost);
            return false;
        }
        next_send_ = sent + kRequestInterval;
        return true;
    }

private:
    EchoSocket socket_;
    ProbeRecordFile record_;
    const uint32_t address_;
    const std::chrono::milliseconds timeout_;
    const std::shared_ptr<NeighbourRoom> room_;
    FILE* const errors_;
    Clock::time_point next_send_;
    uint16_t sequence_ = 0;
};

}  // namespace

TargetFound LiveMachine::FindTarget(const PingRequest& request, PingTarget* target,
                                    std::string* error) {
    if (ParseAddress(request.Target, &target->Address)) return TARGET_FOUND;
    if (!LookUpAddress(request.Target, &target->Address, error)) return TARGET_FAILED;
    target->Name = request.Target;
    return TARGET_FOUND;
}

std::unique_ptr<EchoSession> LiveMachine::StartEchoes(const PingRequest& request,
                                                      PingTarget* target, std::string* error) {
    auto echoes = std::make_unique<LiveEchoes>(target->Address, request.TimeoutMs, room_, errors_);
    if (!echoes->Open(error)) return nullptr;
    std::string own_name;
    std::string unread;  // unread interfaces name nothing: the look-ups still may
    const std::vector<LiveInterface>* interfaces =
        target->Name.empty() && request.ResolveName ? interfaces_->Get(&unread) : nullptr;
    if (interfaces && OwnHostName(*interfaces, target->Address, &own_name)) {
        target->Name = PrintableName(NameInConsoleCodePage(own_name));
    } else if (target->Name.empty() && request.ResolveName) {
        const unsigned long wait_ms = NameTimeoutMs(request.TimeoutGiven, request.TimeoutMs);
        target->AwaitName =
            StartLookUps(room_, target->Address, Clock::now() + std::chrono::milliseconds(wait_ms));
    }
    return echoes;
}
