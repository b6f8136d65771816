#include "live/netbios/browse_answers.h"

#include <algorithm>
#include <set>

#include "contract/code_page_932.h"

namespace {

constexpr unsigned char kServerSuffix = 0x20;

// The network mask of a prefix length from 0 to 32.
uint32_t MaskOfPrefix(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

// The addresses of an address's subnet as the sweep takes it: its own
// subnet, or the widest swept block around the address when its own is wider.
// False when the subnet has no address to ask (a /32).
bool SweptRange(uint32_t address, uint32_t mask, uint32_t* first, uint32_t* last) {
    const uint32_t widest = MaskOfPrefix(kWidestSweptPrefix);
    if ((mask & widest) != widest) mask = widest;
    const uint32_t network = address & mask;
    const uint32_t broadcast = network | ~mask;
    if (network == broadcast) return false;
    const bool point_to_point = broadcast - network == 1;  // a /31: two hosts, no broadcast
    *first = point_to_point ? network : network + 1;
    *last = point_to_point ? broadcast : broadcast - 1;
    return true;
}

// Upper case of the ASCII letters only: the second byte of a code page 932
// character, which may look like a letter, is never touched.
std::string AsciiUpper(const std::string& name) {
    std::string upper = name;
    for (size_t i = 0; i < upper.size(); ++i) {
        if (IsCp932LeadByte(static_cast<unsigned char>(upper[i]))) {
            ++i;
        } else if (upper[i] >= 'a' && upper[i] <= 'z') {
            upper[i] = static_cast<char>(upper[i] - 'a' + 'A');
        }
    }
    return upper;
}

}  // namespace

std::vector<uint32_t> SweptAddresses(const std::vector<LiveInterface>& interfaces) {
    std::set<uint32_t> addresses;
    for (const Subnet& subnet : ConnectedSubnets(interfaces)) {
        uint32_t first = 0;
        uint32_t last = 0;
        if (!SweptRange(subnet.Address, subnet.Mask, &first, &last)) continue;
        for (uint64_t address = first; address <= last; ++address) {
            addresses.insert(static_cast<uint32_t>(address));
        }
    }
    return {addresses.begin(), addresses.end()};
}

bool ServerNameOf(const NodeStatus& status, std::string* name) {
    for (const NetBiosName& entry : status.Names) {
        if (entry.Group || entry.Suffix != kServerSuffix || entry.Name.empty() ||
            entry.State == NAME_CONFLICT || entry.State == NAME_DEREGISTERED) {
            continue;
        }
        *name = PrintableName(entry.Name);
        return true;
    }
    return false;
}

std::vector<std::string> BrowseNames(const std::vector<NodeStatus>& answers) {
    std::vector<std::string> names;
    for (const NodeStatus& answer : answers) {
        std::string name;
        if (ServerNameOf(answer, &name)) names.push_back(name);
    }
    const auto by_name = [](const std::string& a, const std::string& b) {
        const std::string upper_a = AsciiUpper(a);
        const std::string upper_b = AsciiUpper(b);
        return upper_a != upper_b ? upper_a < upper_b : a < b;
    };
    std::sort(names.begin(), names.end(), by_name);
    const auto same_name = [](const std::string& a, const std::string& b) {
        return AsciiUpper(a) == AsciiUpper(b);
    };
    names.erase(std::unique(names.begin(), names.end(), same_name), names.end());
    return names;
}
