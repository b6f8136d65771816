// The live NetBIOS look-ups for the segment tests, one per run:
//   netbios_probe status ADDRESS MS   the computer name of ADDRESS's node-status answer
//   netbios_probe table ADDRESS MS    its whole name table and unit ID
//   netbios_probe query NAME MS       the address that answers a name query for NAME
// each with a deadline MS milliseconds away. Prints the answer, or "none";
// exit status 0 with an answer, 1 without, 2 on an error or a wrong argument.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "live/kernel/interfaces.h"
#include "live/netbios/netbios.h"
#include "live/room/neighbour_room.h"

namespace {

int Finish(NetBiosOutcome outcome, const std::string& answer, const std::string& error) {
    if (outcome == NETBIOS_ERROR) {
        std::fprintf(stderr, "netbios_probe: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s\n", outcome == NETBIOS_ANSWER ? answer.c_str() : "none");
    return outcome == NETBIOS_ANSWER ? 0 : 1;
}

std::string TableText(const NodeStatus& status) {
    std::string text;
    for (const NetBiosName& entry : status.Names) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "<%02X>", entry.Suffix);
        text += entry.Name + suffix + (entry.Group ? " GROUP" : " UNIQUE") +
                (entry.State == NAME_REGISTERED ? " Registered\n" : " other\n");
    }
    return text + "MAC " + MacText(status.UnitId.data(), status.UnitId.size());
}

}  // namespace

int main(int argc, char** argv) {
    in_addr address{};
    if (argc != 4 || (std::strcmp(argv[1], "query") != 0 && inet_pton(AF_INET, argv[2], &address) != 1)) {
        std::fprintf(stderr, "usage: netbios_probe status|table ADDRESS MS | query NAME MS\n");
        return 2;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::atoi(argv[3]));
    std::string answer;
    std::string error;
    const auto interfaces = std::make_shared<InterfaceList>();
    const std::shared_ptr<NeighbourRoom> room = NeighbourRoom::OfThisProcess(interfaces);
    if (std::strcmp(argv[1], "query") == 0) {
        uint32_t found = 0;
        const std::vector<LiveInterface>* listed = interfaces->Get(&error);
        const NetBiosOutcome outcome =
            listed == nullptr ? NETBIOS_ERROR : NameQuery(*listed, argv[2], deadline, &found, &error);
        const in_addr found_address{htonl(found)};
        return Finish(outcome, inet_ntoa(found_address), error);
    }
    if (std::strcmp(argv[1], "table") == 0) {
        NodeStatus status;
        const NetBiosOutcome outcome = AskNodeStatus(room.get(), ntohl(address.s_addr), deadline, &status, &error);
        return Finish(outcome, outcome == NETBIOS_ANSWER ? TableText(status) : "", error);
    }
    return Finish(NodeStatusName(room.get(), ntohl(address.s_addr), deadline, &answer, &error), answer, error);
}
