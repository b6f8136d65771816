#include "live/kernel/netlink_answers.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "live/kernel/bytes.h"
#include "live/kernel/socket.h"

NeighbourListing ListingOfNeighbourState(unsigned state) {
    if ((state & (NUD_PERMANENT | NUD_NOARP)) != 0) return NEIGHBOUR_STATIC;
    // Every state after a resolution holds a hardware address that answered;
    // the kernel merely rechecks the older ones.
    if ((state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE)) != 0) {
        return NEIGHBOUR_DYNAMIC;
    }
    return NEIGHBOUR_NOT_LISTED;  // NUD_INCOMPLETE, NUD_FAILED, NUD_NONE
}

// The kernel's neighbour table, as netlink messages. Every record is copied
// out of the bytes before it is read, so no read depends on their alignment.

namespace {

// A record of type T at offset, when the bytes up to end hold one.
template <typename T>
bool CopyRecord(const unsigned char* data, size_t offset, size_t end, T* record) {
    if (offset > end || end - offset < sizeof(T)) return false;
    std::memcpy(record, data + offset, sizeof(T));
    return true;
}

// The attributes of an RTM_NEWNEIGH message between offset and end; false
// when one is cut short or the entry has no IPv4 destination.
bool ReadNeighbourAttributes(const unsigned char* data, size_t offset, size_t end,
                             NeighbourEntry* entry) {
    bool have_address = false;
    rtattr attribute;
    while (CopyRecord(data, offset, end, &attribute)) {
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > end - offset) return false;
        const unsigned char* value = data + offset + RTA_LENGTH(0);
        const size_t size = attribute.rta_len - RTA_LENGTH(0);
        if (attribute.rta_type == NDA_DST && size == sizeof(in_addr)) {
            entry->Address = ReadIpv4Address(value);
            have_address = true;
        } else if (attribute.rta_type == NDA_LLADDR) {
            entry->HardwareAddress.assign(reinterpret_cast<const char*>(value), size);
        } else if (attribute.rta_type == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo)) {
            nda_cacheinfo times;
            std::memcpy(&times, value, sizeof times);
            entry->ConfirmedTicksAgo = times.ndm_confirmed;
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return have_address && offset >= end;
}

// One RTM_NEWNEIGH message from offset to end; false for anything but a
// whole IPv4 entry.
bool ReadNeighbourMessage(const unsigned char* data, size_t offset, size_t end,
                          NeighbourEntry* entry) {
    ndmsg neighbour;
    if (!CopyRecord(data, offset + NLMSG_HDRLEN, end, &neighbour) || neighbour.ndm_family != AF_INET) {
        return false;
    }
    entry->InterfaceIndex = static_cast<unsigned>(neighbour.ndm_ifindex);
    entry->State = neighbour.ndm_state;
    return ReadNeighbourAttributes(data, offset + NLMSG_LENGTH(sizeof neighbour), end, entry);
}

// Error records carry a negative errno, which stays below this.
constexpr int kLargestErrno = 4096;
// Table limits and counts beyond this read as this, so that no sum of them overflows an int.
constexpr uint32_t kLargestTableCount = 1u << 24;

// What a message of the request asked for gives, between offset and end.
using MessageReader = void (*)(const unsigned char* data, uint16_t type, size_t offset, size_t end,
                               void* into);

// Walks one datagram of the kernel's answer to request: each message of that
// request goes to read_message; the end of a dump, a refusal and a cut
// record end the walk.
NeighbourDumpPart WalkKernelAnswer(const unsigned char* data, size_t length, uint32_t sender,
                                   const NetlinkRequest& request, MessageReader read_message,
                                   void* into, std::string* error, int* refusal) {
    if (sender != 0) return DUMP_GOES_ON;  // only the kernel answers
    size_t offset = 0;
    nlmsghdr header;
    while (CopyRecord(data, offset, length, &header)) {
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > length - offset) {
            *error = "the kernel's neighbour table came cut short";
            return DUMP_FAILED;
        }
        const size_t end = offset + header.nlmsg_len;
        if (header.nlmsg_seq == request.Sequence && header.nlmsg_pid == request.PortId) {
            if (header.nlmsg_type == NLMSG_DONE) return DUMP_DONE;
            if (header.nlmsg_type == NLMSG_ERROR) {
                nlmsgerr failure;
                if (!CopyRecord(data, offset + NLMSG_HDRLEN, end, &failure)) {
                    *error = "the kernel's error record came cut short";
                    return DUMP_FAILED;
                }
                // Error 0 acknowledges a request that asked for it, and ends
                // the answer as NLMSG_DONE ends a dump.
                if (failure.error != 0) {
                    const bool is_errno = failure.error < 0 && failure.error > -kLargestErrno;
                    const int number = is_errno ? -failure.error : EPROTO;
                    *error = SystemFailure("the kernel refused its neighbour table", number);
                    if (refusal != nullptr) *refusal = number;
                    return DUMP_FAILED;
                }
                if (refusal != nullptr) *refusal = 0;
                return DUMP_DONE;
            }
            read_message(data, header.nlmsg_type, offset, end, into);
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return DUMP_GOES_ON;
}

void ReadEntryMessage(const unsigned char* data, uint16_t type, size_t offset, size_t end, void* into) {
    NeighbourEntry entry{};
    if (type == RTM_NEWNEIGH && ReadNeighbourMessage(data, offset, end, &entry)) {
        static_cast<std::vector<NeighbourEntry>*>(into)->push_back(entry);
    }
}

// The attributes of the IPv4 table's RTM_NEWNEIGHTBL message: its name, its
// hard limit and its configuration, which counts the entries. Messages of
// the table's per-namespace parameters carry neither and give nothing.
void ReadTableSizeMessage(const unsigned char* data, uint16_t type, size_t offset, size_t end,
                          void* into) {
    ndtmsg table;
    if (type != RTM_NEWNEIGHTBL || !CopyRecord(data, offset + NLMSG_HDRLEN, end, &table) ||
        table.ndtm_family != AF_INET) {
        return;
    }
    NeighbourTableSize read;
    bool is_arp_table = false;
    offset += NLMSG_LENGTH(sizeof table);
    rtattr attribute;
    while (CopyRecord(data, offset, end, &attribute)) {
        if (attribute.rta_len < sizeof attribute || attribute.rta_len > end - offset) return;
        const size_t value = offset + RTA_LENGTH(0);
        const size_t value_end = offset + attribute.rta_len;
        uint32_t threshold = 0;
        ndt_config config;
        if (attribute.rta_type == NDTA_NAME) {
            is_arp_table = std::string(reinterpret_cast<const char*>(data + value),
                                       value_end - value) == std::string("arp_cache", 10);
        } else if (attribute.rta_type == NDTA_THRESH3 && CopyRecord(data, value, value_end, &threshold)) {
            read.Limit = static_cast<int>(std::min<uint32_t>(threshold, kLargestTableCount));
        } else if (attribute.rta_type == NDTA_CONFIG && CopyRecord(data, value, value_end, &config)) {
            read.Entries = static_cast<int>(std::min<uint32_t>(config.ndtc_entries, kLargestTableCount));
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    if (is_arp_table && read.Limit > 0) *static_cast<NeighbourTableSize*>(into) = read;
}

}  // namespace

NeighbourDumpPart ReadNeighbourDumpPart(const unsigned char* data, size_t length, uint32_t sender,
                                        const NetlinkRequest& request,
                                        std::vector<NeighbourEntry>* entries, std::string* error,
                                        int* refusal) {
    return WalkKernelAnswer(data, length, sender, request, ReadEntryMessage, entries, error, refusal);
}

NeighbourDumpPart ReadNeighbourTableSizePart(const unsigned char* data, size_t length,
                                             uint32_t sender, const NetlinkRequest& request,
                                             NeighbourTableSize* size, std::string* error) {
    return WalkKernelAnswer(data, length, sender, request, ReadTableSizeMessage, size, error, nullptr);
}
