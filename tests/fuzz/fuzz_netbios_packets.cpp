// The live machine's NetBIOS answer readers on arbitrary datagrams: a
// node-status answer and a name query answer, read against the request whose
// transaction id the first two bytes of the input hold (so that the fuzzer
// reaches past the header), and the name live net view lists it by.
// Sanitizers catch every read past the datagram.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "live/netbios/browse_answers.h"
#include "live/netbios/netbios_packets.h"

#define CHECK(condition)                     \
    do {                                     \
        if (!(condition)) __builtin_trap();  \
    } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint16_t transaction_id = static_cast<uint16_t>((data[0] << 8) | data[1]);
    // A copy of exactly the datagram's size, so a read past it is caught.
    const std::vector<unsigned char> datagram(data, data + size);

    NodeStatus status{};
    if (ReadNodeStatusResponse(datagram.data(), size, transaction_id, &status) == PACKET_ANSWER) {
        CHECK(status.Names.size() <= 255 && status.Names.size() * 18 + 7 <= size);
        for (const NetBiosName& entry : status.Names) {
            CHECK(entry.Name.size() <= kNetBiosNameLength);
        }
        std::string name;
        if (ComputerNameOf(status, &name)) CHECK(!name.empty() && name.size() <= 15);
        if (ServerNameOf(status, &name)) {
            CHECK(!name.empty() && name.size() <= 15);
            for (const char c : name) CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        }
        CHECK(BrowseNames({status, status}).size() <= 1);
    }

    std::vector<uint32_t> addresses;
    const PacketReading reading =
        ReadNameQueryResponse(datagram.data(), size, transaction_id, "PC-SALES1", 0, &addresses);
    CHECK((reading == PACKET_ANSWER) == !addresses.empty());
    CHECK(addresses.size() * 6 <= size);
    return 0;
}
