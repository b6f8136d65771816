#include "shell.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/winver.h"
#include "tools.h"
#ifdef WINCMD_LIVE
#include "live/live_tools.h"
#include "live/table_room.h"
#endif

std::vector<Token> Tokenize(const std::string& text) {
    std::vector<Token> tokens;
    std::string word;
    bool have_word = false;
    bool quoted = false;
    auto flush = [&]() {
        if (have_word) tokens.push_back({word, false, false});
        word.clear();
        have_word = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"') quoted = false;
            else word += c;
        } else if (c == '"') {
            quoted = true;
            have_word = true;
        } else if (c == ' ' || c == '\t') {
            flush();
        } else if (c == '>') {
            flush();
            bool appends = i + 1 < text.size() && text[i + 1] == '>';
            if (appends) ++i;
            tokens.push_back({"", true, appends});
        } else {
            word += c;
            have_word = true;
        }
    }
    flush();
    return tokens;
}

namespace {

void PutErrorLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

// /P /F /S /Q or /A with its attributes; any other word is a path, and on this
// system paths start with "/".
bool IsDelSwitch(const std::string& word) {
    if (word.size() < 2 || word[0] != '/') return false;
    if (word.size() == 2) return std::string("pPfFsSqQaA").find(word[1]) != std::string::npos;
    return (word[1] == 'a' || word[1] == 'A') && word[2] == ':';
}

int RunDel(const ToolContext&, const Arguments& args, FILE*) {
    bool any_path = false;
    for (const std::string& path : args) {
        if (IsDelSwitch(path)) continue;  // nothing to ask or force here
        any_path = true;
        FILE* probe = std::fopen(path.c_str(), "rb");
        if (probe == nullptr) {
            PutErrorLine("Could Not Find " + path);
            continue;
        }
        std::fclose(probe);
#ifdef WINCMD_LIVE
        // The run is over once it deletes its work files: its live probes'
        // wait for the neighbour table, if any, is said now, once.
        if (IsLiveNetworkName(std::getenv("QARVIK_NETWORK"))) SayNeighbourRoomWaits(path, stderr);
#endif
        if (std::remove(path.c_str()) != 0) PutErrorLine("Access is denied.");
    }
    if (!any_path) {
        PutErrorLine("The syntax of the command is incorrect.");
        return 1;
    }
    return 0;
}

using CommandFunction = int (*)(const ToolContext&, const Arguments&, FILE*);

struct CommandEntry {
    const char* Name;
    CommandFunction Function;
    bool IsNetworkTool;  // needs the simulated version and network
    bool IsAdapterTool;  // ipconfig or winipcfg: a version has the one its style names
};

const CommandEntry kCommands[] = {
    {"ipconfig", RunIpconfig, true, true},
    {"winipcfg", RunWinipcfg, true, true},
    {"ping", RunPing, true, false},
    {"arp", RunArp, true, false},
    {"net", RunNet, true, false},
    {"nbtstat", RunNbtstat, true, false},
    {"del", RunDel, false, false},
};

const CommandEntry* FindCommand(std::string name) {
    if (name.size() > 4 && SameName(name.substr(name.size() - 4), ".exe")) {
        name.resize(name.size() - 4);
    }
    for (const CommandEntry& entry : kCommands) {
        if (SameName(name, entry.Name)) return &entry;
    }
    return nullptr;
}

// Said by the adapter tool, which Qarvik runs once a run, when no network was
// chosen: the answers are made up, and these are the ways to real ones.
const char kDemoNetworkNotice[] =
    "wincmd: the built-in demo network answers; QARVIK_NETWORK=live answers from this "
    "machine's own segment, QARVIK_NETWORK=FILE from a network file";

bool VersionHas(const ToolContext& context, const CommandEntry& command) {
    return !command.IsAdapterTool || SameName(command.Name, context.Style->AdapterTool);
}

bool AnswersFromDemoNetwork() {
    const char* network_name = std::getenv("QARVIK_NETWORK");
    return network_name == nullptr || network_name[0] == '\0';
}

int NotRecognized(const std::string& word) {
    PutErrorLine("'" + word + "' is not recognized as an internal or external command,");
    PutErrorLine("operable program or batch file.");
    return 1;
}

// Opens every redirection in order, as the interpreter does, and keeps the
// last one as the command's output. False after an error message.
bool ApplyRedirections(const std::vector<Token>& tokens, Arguments* words, FILE** output) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!tokens[i].IsRedirection) {
            words->push_back(tokens[i].Text);
            continue;
        }
        if (i + 1 >= tokens.size() || tokens[i + 1].IsRedirection) {
            PutErrorLine("The syntax of the command is incorrect.");
            return false;
        }
        const std::string& path = tokens[++i].Text;
        FILE* file = std::fopen(path.c_str(), tokens[i - 1].Appends ? "ab" : "wb");
        if (file == nullptr) {
            PutErrorLine("The system cannot find the path specified.");
            return false;
        }
        if (*output != stdout) std::fclose(*output);
        *output = file;
    }
    return true;
}

// The machine's report style, language and network; false after an error
// message. Without a given version the simulated one comes from QARVIK_WINVER.
// The language follows the platform's report code page, as Qarvik's does. A
// live network is the machine's own, and its ping and arp answer with real
// packets; they alone need nothing of the machine loaded, which spares every
// probe of a sweep the read of the interfaces.
bool LoadMachine([[maybe_unused]] const CommandEntry& command,  // used in live mode alone
                 const PlatformVersion* given_version, ToolContext* context, Network* network) {
    PlatformVersion version{};
    if (given_version != nullptr) {
        version = *given_version;
    } else {
        const char* version_text = std::getenv("QARVIK_WINVER");
        if (!ParseSimulatedVersion(version_text, &version)) {
            PutErrorLine(std::string("wincmd: QARVIK_WINVER: unknown Windows version '") +
                         version_text + "'");
            return false;
        }
    }
    context->Style = &StyleOfFormat(
        FormatOfVersion(version.MajorVersion, version.MinorVersion, version.BuildNumber));
    context->Language = LanguageOfReports(*context->Style, PlatformGetReportCodePage());
    std::string error;
    context->Live = nullptr;
    const char* network_name = std::getenv("QARVIK_NETWORK");
#ifdef WINCMD_LIVE
    if (IsLiveNetworkName(network_name)) {
        context->Live = &kLiveTools;
        if (command.Function == RunPing || command.Function == RunArp) return true;
        if (LoadLiveMachine(network, &error)) return true;
        PutErrorLine("wincmd: " + error);
        return false;
    }
#endif
    if (!LoadNetwork(network_name, network, &error)) {
        PutErrorLine("wincmd: " + error);
        return false;
    }
    return true;
}

}  // namespace

int RunCommandWords(const Arguments& words, FILE* output, const PlatformVersion* version) {
    if (words.empty()) return 0;
    const CommandEntry* command = FindCommand(words[0]);
    if (command == nullptr) return NotRecognized(words[0]);
    ToolContext context{nullptr, nullptr, stderr};
    Network network;
    if (command->IsNetworkTool) {
        if (!LoadMachine(*command, version, &context, &network)) return 1;
        if (!VersionHas(context, *command)) return NotRecognized(words[0]);
        context.Net = &network;
        if (command->IsAdapterTool && AnswersFromDemoNetwork()) PutErrorLine(kDemoNetworkNotice);
    }
    Arguments args(words.begin() + 1, words.end());
    return command->Function(context, args, output);
}

int RunCommandLine(const std::string& text) {
    Arguments words;
    FILE* output = stdout;
    if (!ApplyRedirections(Tokenize(text), &words, &output)) {
        if (output != stdout) std::fclose(output);
        return 1;
    }
    int status = RunCommandWords(words, output, nullptr);
    if (output != stdout) {
        if (std::fclose(output) != 0) status = 1;
    } else {
        std::fflush(stdout);
    }
    return status;
}
