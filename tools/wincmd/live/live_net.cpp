// net view of the live machine: rather than ask a master browser for its list
// (which needs SMB1 and, after a cold start, many seconds to fill), it asks
// every address of the connected subnets for its NetBIOS name table and lists
// the computers that have registered the server service's name.
#include "live/browse_answers.h"
#include "live/live_tools.h"
#include "live/node_status_sweep.h"

bool LiveBrowseList(const ToolContext& context, std::vector<BrowseEntry>* browse) {
    std::vector<LiveInterface> interfaces;
    std::vector<NodeStatus> answers;
    std::string error;
    if (!ListInterfaces(&interfaces, &error) ||
        !SweepNodeStatus(SweptAddresses(interfaces), &answers, &error)) {
        std::fprintf(context.Errors, "wincmd: net: %s\n", error.c_str());
        return false;
    }
    for (const std::string& name : BrowseNames(answers)) browse->push_back({name, "", ""});
    return true;
}
