#include "simulated/simulated_machine.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>

#include <cerrno>
#endif

#include "reports/text_values.h"

namespace {

constexpr double kRequestIntervalMs = 1000;
constexpr int kSimulatedTtl = 128;  // the replies print as instant ones from a Windows host
constexpr int kLongestWaitMs = 0x7FFFFFFF;
const char kWorkgroup[] = "WORKGROUP";

void WaitMilliseconds(int milliseconds) {
#ifdef _WIN32
    Sleep(static_cast<DWORD>(milliseconds));
#else
    timespec delay{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
#endif
}

// Waits the simulated milliseconds, times the network's scale (off when 0).
void WaitScaled(const Network& network, double milliseconds) {
    if (network.TimeScale <= 0 || milliseconds <= 0) return;
    const double scaled = milliseconds * network.TimeScale + 0.5;
    WaitMilliseconds(scaled < kLongestWaitMs ? static_cast<int>(scaled) : kLongestWaitMs);
}

// Every request to one address has the same outcome: a reply after the
// host's round trip, or none after the time-out; requests a second apart.
class SimulatedEchoes : public EchoSession {
public:
    SimulatedEchoes(const Network& network, uint32_t address, unsigned long timeout_ms)
        : network_(network),
          answered_(AnswersPing(network, address)),
          wait_ms_(answered_ ? RoundTripMs(network, address) : static_cast<double>(timeout_ms)) {}

    bool Next(EchoOutcome* outcome, std::string*) override {
        if (sent_ > 0 && wait_ms_ < kRequestIntervalMs) {
            WaitScaled(network_, kRequestIntervalMs - wait_ms_);
        }
        WaitScaled(network_, wait_ms_);
        ++sent_;
        *outcome = {answered_, 0, kSimulatedTtl};
        return true;
    }

private:
    const Network& network_;
    const bool answered_;
    const double wait_ms_;
    unsigned long sent_ = 0;
};

// The names a browse-list computer registers: its own as workstation and
// server, its workgroup's as member and browser.
NameTable TableOfBrowseEntry(const BrowseEntry& entry) {
    return {{{entry.Name, 0x00, false, NAME_STATUS_REGISTERED},
             {kWorkgroup, 0x00, true, NAME_STATUS_REGISTERED},
             {entry.Name, 0x20, false, NAME_STATUS_REGISTERED},
             {kWorkgroup, 0x1E, true, NAME_STATUS_REGISTERED}},
            entry.Mac};
}

class Simulated : public Machine {
public:
    explicit Simulated(Network network) : network_(std::move(network)) {}

    const OwnMachine& Own() const override { return network_.Own; }

    bool CanPing(std::string*) override { return true; }

    TargetFound FindTarget(const PingRequest& request, PingTarget* target, std::string*) override {
        if (ParseAddress(request.Target, &target->Address)) {
            if (request.ResolveName) target->Name = NameOfAddress(network_, target->Address);
            return TARGET_FOUND;
        }
        if (!AddressOfName(network_, request.Target, &target->Address)) return TARGET_UNKNOWN;
        target->Name = request.Target;
        return TARGET_FOUND;
    }

    std::unique_ptr<EchoSession> StartEchoes(const PingRequest& request, PingTarget* target,
                                             std::string*) override {
        return std::make_unique<SimulatedEchoes>(network_, target->Address, request.TimeoutMs);
    }

    // A host is in the ARP cache when it answers ping or answers ARP alone; the
    // machine's own addresses never are. One table, on the first own address.
    bool ReadArpTables(const uint32_t* address, std::vector<ArpTable>* tables,
                       std::string*) override {
        std::vector<ArpRow> rows;
        if (address != nullptr) {
            if (const OtherHost* host = FindArpEntry(network_, *address)) {
                rows.push_back({host->Address, host->Mac, false});
            }
        } else {
            for (const OtherHost& host : network_.Hosts) {
                if (FindArpEntry(network_, host.Address) == &host) {
                    rows.push_back({host.Address, host.Mac, false});
                }
            }
        }
        tables->push_back({FirstOwnAddress(network_.Own), rows});
        return true;
    }

    NameTableFound FindNameTable(const std::string& name, NameTable* table,
                                 std::string*) override {
        const BrowseEntry* entry = FindBrowseEntry(network_, name);
        if (entry == nullptr) return NAME_TABLE_NOT_FOUND;
        *table = TableOfBrowseEntry(*entry);
        return NAME_TABLE_FOUND;
    }

    bool ReadBrowseList(std::vector<BrowseEntry>* computers, std::string*) override {
        *computers = network_.Browse;
        return true;
    }

private:
    Network network_;
};

}  // namespace

std::unique_ptr<Machine> SimulatedMachine(Network network) {
    return std::make_unique<Simulated>(std::move(network));
}

std::unique_ptr<Machine> OpenSimulatedMachine(const char* path, std::string* error) {
    Network network;
    if (!LoadNetwork(path, &network, error)) return nullptr;
    return SimulatedMachine(std::move(network));
}
