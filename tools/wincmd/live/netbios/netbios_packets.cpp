#include "live/netbios/netbios_packets.h"

#include "live/kernel/bytes.h"
#include "contract/code_page_932.h"

namespace {

constexpr size_t kHeaderLength = 12;
constexpr size_t kNameBytes = kNetBiosNameLength + 1;  // with the suffix
constexpr size_t kEncodedNameLength = 2 * kNameBytes;  // one letter per half byte
constexpr size_t kNameEntryLength = kNameBytes + 2;    // the name, its suffix, its flags
constexpr size_t kAddressEntryLength = 6;              // flags and an IPv4 address

constexpr uint16_t kTypeNb = 0x0020;
constexpr uint16_t kTypeNbstat = 0x0021;
constexpr uint16_t kClassIn = 0x0001;

constexpr uint16_t kResponseBit = 0x8000;
constexpr uint16_t kOpcodeBits = 0x7800;
constexpr uint16_t kRecursionDesired = 0x0100;
constexpr uint16_t kBroadcast = 0x0010;
constexpr uint16_t kResultCodeBits = 0x000F;

constexpr uint16_t kGroupName = 0x8000;
constexpr uint16_t kDeregistering = 0x1000;
constexpr uint16_t kConflict = 0x0800;
constexpr uint16_t kActive = 0x0400;

// The first-level encoding of RFC 1002: each half byte as a letter 'A' to 'P'.
std::string EncodedName(const std::string& name_bytes) {
    std::string encoded;
    for (unsigned char c : name_bytes) {
        encoded += static_cast<char>('A' + (c >> 4));
        encoded += static_cast<char>('A' + (c & 0x0F));
    }
    return encoded;
}

std::string Request(uint16_t transaction_id, uint16_t flags, const std::string& name_bytes,
                    uint16_t type) {
    std::string packet;
    AppendBigEndian16(transaction_id, &packet);
    AppendBigEndian16(flags, &packet);
    AppendBigEndian16(1, &packet);  // one question, no records
    AppendBigEndian16(0, &packet);
    AppendBigEndian16(0, &packet);
    AppendBigEndian16(0, &packet);
    packet += static_cast<char>(kEncodedNameLength);
    packet += EncodedName(name_bytes);
    packet += '\0';  // no scope
    AppendBigEndian16(type, &packet);
    AppendBigEndian16(kClassIn, &packet);
    return packet;
}

// The 16 bytes of a name: upper case, blank-padded or cut to 15, the suffix.
std::string NameBytes(const std::string& name, unsigned char suffix) {
    std::string bytes(kNameBytes, ' ');
    bool second_byte = false;
    for (size_t i = 0; i < name.size() && i < kNetBiosNameLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool lower = !second_byte && c >= 'a' && c <= 'z';
        bytes[i] = static_cast<char>(lower ? c - 'a' + 'A' : c);
        second_byte = !second_byte && IsCp932LeadByte(c);
    }
    bytes[kNetBiosNameLength] = static_cast<char>(suffix);
    return bytes;
}

// Reads a packet front to back; every read checks what is left first.
struct PacketCursor {
    const unsigned char* Data;
    size_t Length;
    size_t At;

    bool Has(size_t count) const { return count <= Length - At; }
    uint16_t Read16() {
        const uint16_t value = ReadBigEndian16(Data + At);
        At += 2;
        return value;
    }
};

// Skips a name of labels; *first_label is its first label. A compressed name
// (a pointer) never appears in the answers read here, so it is malformed.
bool SkipName(PacketCursor* cursor, std::string* first_label) {
    first_label->clear();
    for (bool first = true;; first = false) {
        if (!cursor->Has(1)) return false;
        const unsigned char label_length = cursor->Data[cursor->At++];
        if (label_length == 0) return true;
        if ((label_length & 0xC0) != 0 || !cursor->Has(label_length)) return false;
        if (first) {
            first_label->assign(reinterpret_cast<const char*>(cursor->Data + cursor->At),
                                label_length);
        }
        cursor->At += label_length;
    }
}

struct ResourceRecord {
    std::string EncodedName;  // the first label of its name
    uint16_t Type;
    uint16_t Class;
    const unsigned char* Data;
    size_t DataLength;
};

// The header checks and the first answer record of a response to the
// request with this transaction id.
PacketReading ReadFirstAnswer(const unsigned char* data, size_t length, uint16_t transaction_id,
                              ResourceRecord* record) {
    PacketCursor cursor{data, length, 0};
    if (!cursor.Has(kHeaderLength)) return PACKET_MALFORMED;
    const uint16_t id = cursor.Read16();
    const uint16_t flags = cursor.Read16();
    if (id != transaction_id || (flags & kResponseBit) == 0 || (flags & kOpcodeBits) != 0) {
        return PACKET_OTHER_REQUEST;
    }
    if ((flags & kResultCodeBits) != 0) return PACKET_NEGATIVE;
    const uint16_t questions = cursor.Read16();
    const uint16_t answers = cursor.Read16();
    cursor.At = kHeaderLength;
    if (answers == 0) return PACKET_MALFORMED;
    std::string ignored;
    for (uint16_t i = 0; i < questions; ++i) {
        if (!SkipName(&cursor, &ignored) || !cursor.Has(4)) return PACKET_MALFORMED;
        cursor.At += 4;  // its type and class
    }
    if (!SkipName(&cursor, &record->EncodedName) || !cursor.Has(10)) return PACKET_MALFORMED;
    record->Type = cursor.Read16();
    record->Class = cursor.Read16();
    cursor.At += 4;  // the time to live
    record->DataLength = cursor.Read16();
    if (!cursor.Has(record->DataLength)) return PACKET_MALFORMED;
    record->Data = data + cursor.At;
    return PACKET_ANSWER;
}

NetBiosNameState StateOfFlags(uint16_t flags) {
    if ((flags & kDeregistering) != 0) return NAME_DEREGISTERED;
    if ((flags & kConflict) != 0) return NAME_CONFLICT;
    if ((flags & kActive) != 0) return NAME_REGISTERED;
    return NAME_INACTIVE;
}

NetBiosName ReadNameEntry(const unsigned char* entry) {
    std::string name(reinterpret_cast<const char*>(entry), kNetBiosNameLength);
    const size_t end = name.find_last_not_of(std::string(" \0", 2));
    name.resize(end == std::string::npos ? 0 : end + 1);
    const uint16_t flags = static_cast<uint16_t>((entry[kNameBytes] << 8) | entry[kNameBytes + 1]);
    return {name, entry[kNetBiosNameLength], (flags & kGroupName) != 0, StateOfFlags(flags)};
}

}  // namespace

std::string NodeStatusRequest(uint16_t transaction_id) {
    std::string name_bytes(kNameBytes, '\0');
    name_bytes[0] = '*';
    return Request(transaction_id, 0, name_bytes, kTypeNbstat);
}

std::string NameQueryRequest(uint16_t transaction_id, const std::string& name,
                             unsigned char suffix) {
    return Request(transaction_id, kRecursionDesired | kBroadcast, NameBytes(name, suffix),
                   kTypeNb);
}

PacketReading ReadNodeStatusResponse(const unsigned char* data, size_t length,
                                     uint16_t transaction_id, NodeStatus* status) {
    ResourceRecord record;
    const PacketReading reading = ReadFirstAnswer(data, length, transaction_id, &record);
    if (reading != PACKET_ANSWER) return reading;
    if (record.Type != kTypeNbstat || record.Class != kClassIn) return PACKET_OTHER_REQUEST;
    if (record.DataLength < 1) return PACKET_MALFORMED;
    const size_t count = record.Data[0];
    if (1 + count * kNameEntryLength + kUnitIdLength > record.DataLength) return PACKET_MALFORMED;
    status->Names.clear();
    for (size_t i = 0; i < count; ++i) {
        status->Names.push_back(ReadNameEntry(record.Data + 1 + i * kNameEntryLength));
    }
    const unsigned char* unit_id = record.Data + 1 + count * kNameEntryLength;
    for (size_t i = 0; i < kUnitIdLength; ++i) status->UnitId[i] = unit_id[i];
    return PACKET_ANSWER;
}

PacketReading ReadNameQueryResponse(const unsigned char* data, size_t length,
                                    uint16_t transaction_id, const std::string& name,
                                    unsigned char suffix, std::vector<uint32_t>* addresses) {
    ResourceRecord record;
    const PacketReading reading = ReadFirstAnswer(data, length, transaction_id, &record);
    if (reading != PACKET_ANSWER) return reading;
    if (record.Type != kTypeNb || record.Class != kClassIn ||
        record.EncodedName != EncodedName(NameBytes(name, suffix))) {
        return PACKET_OTHER_REQUEST;
    }
    if (record.DataLength == 0 || record.DataLength % kAddressEntryLength != 0) {
        return PACKET_MALFORMED;
    }
    addresses->clear();
    for (size_t at = 0; at < record.DataLength; at += kAddressEntryLength) {
        addresses->push_back(ReadIpv4Address(record.Data + at + 2));  // after the entry's flags
    }
    return PACKET_ANSWER;
}

bool ComputerNameOf(const NodeStatus& status, std::string* name) {
    for (const NetBiosName& entry : status.Names) {
        if (!entry.Group && entry.Suffix == 0x00 && !entry.Name.empty()) {
            *name = entry.Name;
            return true;
        }
    }
    return false;
}

std::string PrintableName(const std::string& name) {
    std::string shown = name;
    for (char& c : shown) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return shown;
}
