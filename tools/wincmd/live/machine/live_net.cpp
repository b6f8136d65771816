// net view's answer on the live machine: rather than ask a master browser for
// its list (which needs SMB1 and, after a cold start, many seconds to fill),
// it asks every address of the connected subnets for its NetBIOS name table
// and lists the computers that have registered the server service's name.
#include "live/netbios/browse_answers.h"
#include "live/machine/live_machine.h"
#include "live/netbios/node_status_sweep.h"

bool LiveMachine::ReadBrowseList(std::vector<BrowseEntry>* computers, std::string* error) {
    const std::vector<LiveInterface>* interfaces = interfaces_->Get(error);
    std::vector<NodeStatus> answers;
    if (interfaces == nullptr ||
        !SweepNodeStatus(room_.get(), SweptAddresses(*interfaces), &answers, error)) {
        return false;
    }
    for (const std::string& name : BrowseNames(answers)) computers->push_back({name, "", ""});
    return true;
}
