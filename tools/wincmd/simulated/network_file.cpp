// The network file: a description of the simulated network, line by line,
// read with bounds so that a hostile one costs bounded work.
#include "simulated/network.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "reports/text_values.h"
#include "simulated/network_words.h"

using namespace network_words;

namespace {

// Bounds on a description, so that a hostile one costs bounded work.
constexpr size_t kLargestNetworkFile = size_t{16} << 20;
constexpr size_t kLongestLine = size_t{64} << 10;

// Parses one network file and remembers where it failed.
struct Parser {
    const std::string& Source;
    Network* Net;
    std::string* Error;
    int LineNumber = 0;
    bool MachineSeen = false;
    std::vector<std::pair<uint32_t, int>> AddressLines;  // for the duplicate check
    std::vector<Word> Words;

    bool Fail(const std::string& message) {
        *Error = Source + ":" + std::to_string(LineNumber) + ": " + message;
        return false;
    }

    bool FieldCount(const std::vector<Word>& words, size_t count, const char* usage) {
        if (words.size() == count) return true;
        return Fail(Quoted(words[0].Text) + " needs " + std::to_string(count) +
                    " fields: " + usage);
    }

    bool Address(std::string_view text, uint32_t* address) {
        if (ParseAddress(text, address)) return true;
        return Fail("bad address " + Quoted(text));
    }

    bool Mac(std::string_view text, std::string* mac) {
        if (ParseMac(text, mac)) return true;
        return Fail("bad MAC address " + Quoted(text));
    }

    // A name or remark is printed by the tools and may reach a command line:
    // a NUL would cut it short, a control byte act on the terminal.
    bool Text(std::string_view text, const char* what, std::string* value) {
        if (HoldsControl(text)) {
            return Fail("control character in the " + std::string(what) + " " + Quoted(text));
        }
        *value = std::string(text);
        return true;
    }

    bool Name(std::string_view text, std::string* name) {
        if (text == "-") {
            name->clear();
            return true;
        }
        return Text(text, "name", name);
    }

    void NoteAddress(uint32_t address) {
        if (address != 0) AddressLines.push_back({address, LineNumber});
    }

    // "adapter ADDRESS MAC [ppp]"; the address "-" is a disconnected adapter.
    bool ParseAdapter(const std::vector<Word>& words) {
        const char* usage = "adapter ADDRESS|- MAC [ppp]";
        if (words.size() != 3 && words.size() != 4) {
            return Fail("'adapter' needs 3 or 4 fields: " + std::string(usage));
        }
        OwnAdapter adapter{0, std::string(), ADAPTER_LAN};
        if (words[1].Text == "-") {
            adapter.Kind = ADAPTER_DISCONNECTED;
        } else if (!Address(words[1].Text, &adapter.Address)) {
            return false;
        }
        if (!Mac(words[2].Text, &adapter.Mac)) return false;
        if (words.size() == 4) {
            if (words[3].Text != "ppp") {
                return Fail("bad adapter type " + Quoted(words[3].Text) + " (ppp)");
            }
            if (adapter.Kind == ADAPTER_DISCONNECTED) {
                return Fail("a ppp adapter needs an address");
            }
            adapter.Kind = ADAPTER_PPP;
        }
        NoteAddress(adapter.Address);
        Net->Own.Adapters.push_back(adapter);
        return true;
    }

    bool ParseLine(std::string_view line) {
        SplitWords(line, &Words);
        const std::vector<Word>& words = Words;
        if (words.empty() || words[0].Text[0] == '#') return true;
        const std::string_view keyword = words[0].Text;
        if (keyword == "machine") {
            if (!FieldCount(words, 2, "machine NAME")) return false;
            if (MachineSeen) return Fail("second 'machine' line");
            MachineSeen = true;
            return Text(words[1].Text, "name", &Net->Own.Name);
        }
        if (keyword == "adapter") return ParseAdapter(words);
        if (keyword == "host") {
            OtherHost host{};
            if (words.size() != 5 && words.size() != 6) {
                return Fail("'host' needs 5 or 6 fields: "
                            "host ADDRESS MAC DNS-NAME|- up|arp-only|down [RTT]");
            }
            if (!Address(words[1].Text, &host.Address) || !Mac(words[2].Text, &host.Mac) ||
                !Name(words[3].Text, &host.DnsName)) {
                return false;
            }
            if (words.size() == 6 && !ParseDecimal(words[5].Text, &host.RoundTripMs)) {
                return Fail("bad round trip " + Quoted(words[5].Text) +
                            " (milliseconds, such as 1 or 0.5)");
            }
            if (!ParseState(words[4].Text, &host.State)) {
                return Fail("bad host state " + Quoted(words[4].Text) +
                            " (up, arp-only or down)");
            }
            if (host.Address == 0) return Fail("bad address " + Quoted(words[1].Text));
            NoteAddress(host.Address);
            Net->Hosts.push_back(host);
            return true;
        }
        if (keyword == "timing") {
            if (!FieldCount(words, 2, "timing SCALE")) return false;
            if (!ParseDecimal(words[1].Text, &Net->TimeScale)) {
                return Fail("bad time scale " + Quoted(words[1].Text) +
                            " (a number such as 1 or 0.1)");
            }
            return true;
        }
        if (keyword == "dns") {
            DnsRecord record{};
            if (!FieldCount(words, 3, "dns ADDRESS NAME") ||
                !Address(words[1].Text, &record.Address)) {
                return false;
            }
            if (record.Address == 0) {
                return Fail("bad address " + Quoted(words[1].Text));
            }
            if (!Text(words[2].Text, "name", &record.Name)) return false;
            NoteAddress(record.Address);
            Net->DnsRecords.push_back(record);
            return true;
        }
        if (keyword == "browse") {
            BrowseEntry entry{};
            if (words.size() < 3) {
                return Fail("'browse' needs at least 3 fields: browse NAME MAC [REMARK]");
            }
            if (!Mac(words[2].Text, &entry.Mac) || !Text(words[1].Text, "name", &entry.Name) ||
                !Text(RestOfLine(line, words[2].End), "remark", &entry.Remark)) {
                return false;
            }
            Net->Browse.push_back(entry);
            return true;
        }
        return Fail("unknown keyword " + Quoted(keyword));
    }

    // An address may stand for one host only.
    bool CheckDuplicates() {
        std::stable_sort(AddressLines.begin(), AddressLines.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 1; i < AddressLines.size(); ++i) {
            if (AddressLines[i].first != AddressLines[i - 1].first) continue;
            LineNumber = std::max(AddressLines[i].second, AddressLines[i - 1].second);
            int first = std::min(AddressLines[i].second, AddressLines[i - 1].second);
            return Fail("address " + FormatAddress(AddressLines[i].first) +
                        " already listed on line " + std::to_string(first));
        }
        return true;
    }

    bool Run(std::string_view text) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            size_t text_end = end;
            if (text_end > start && text[text_end - 1] == '\r') --text_end;  // edited on Windows
            ++LineNumber;
            if (text_end - start > kLongestLine) return Fail("line longer than 64 KiB");
            if (!ParseLine(text.substr(start, text_end - start))) return false;
            start = end + 1;
        }
        if (!MachineSeen) {
            *Error = Source + ": no 'machine' line";
            return false;
        }
        return CheckDuplicates();
    }
};

// Opens the network file for reading; null when it cannot be read (errno
// says why), or when it is not a regular file (*regular false): a pipe would
// wait for a writer for ever, a device may never end.
#ifdef _WIN32
FILE* OpenNetworkFile(const char* path, bool* regular) {
    FILE* file = std::fopen(path, "rb");
    struct _stat info {};
    *regular = file == nullptr ||
               (_fstat(_fileno(file), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG);
    if (*regular) return file;
    std::fclose(file);
    return nullptr;
}
#else
FILE* OpenNetworkFile(const char* path, bool* regular) {
    // Not blocking: opening a pipe would wait for a writer.
    int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    *regular = descriptor < 0 || (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode));
    FILE* file = descriptor >= 0 && *regular ? fdopen(descriptor, "rb") : nullptr;
    if (descriptor >= 0 && file == nullptr) close(descriptor);
    return file;
}
#endif

// Reads at most limit + 1 bytes of the file, so that a longer one shows as
// longer than limit.
bool ReadFileUpTo(FILE* file, size_t limit, std::string* text) {
    char buffer[65536];
    size_t count = 0;
    while (text->size() <= limit &&
           (count = std::fread(buffer, 1, std::min(sizeof buffer, limit + 1 - text->size()), file)) > 0) {
        text->append(buffer, count);
    }
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace

bool ParseNetworkText(const std::string& text, const std::string& source, Network* network,
                      std::string* error) {
    *network = Network{};
    Parser parser{source, network, error, 0, false, {}, {}};
    return parser.Run(text);
}

bool LoadNetwork(const char* path, Network* network, std::string* error) {
    if (path == nullptr || path[0] == '\0') {
        return ParseNetworkText(kDemoNetwork, "(demo network)", network, error);
    }
    bool regular = true;
    FILE* file = OpenNetworkFile(path, &regular);
    if (!regular) {
        *error = std::string(path) + ": the network file is not a regular file";
        return false;
    }
    std::string text;
    if (file == nullptr || !ReadFileUpTo(file, kLargestNetworkFile, &text)) {
        *error = std::string(path) + ": cannot read the network file (" + std::strerror(errno) + ")";
        return false;
    }
    if (text.size() > kLargestNetworkFile) {
        *error = std::string(path) + ": the network file is larger than 16 MiB";
        return false;
    }
    return ParseNetworkText(text, path, network, error);
}

