#include "shell/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "contract/lost_report.h"
#include "contract/windows_version.h"
#include "contract/work_folder.h"
#include "reports/lost_work_file.h"
#include "reports/report_text.h"
#include "reports/text_values.h"

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
    bool IsNetworkTool;  // needs the simulated version and a machine
    bool IsAdapterTool;  // ipconfig or winipcfg: a version has the one its style names
    MachineNeeds Needs;
};

const CommandEntry kCommands[] = {
    {"ipconfig", RunIpconfig, true, true, NEEDS_OWN_ADAPTERS},
    {"winipcfg", RunWinipcfg, true, true, NEEDS_OWN_ADAPTERS},
    {"ping", RunPing, true, false, NEEDS_NOTHING_UP_FRONT},
    {"arp", RunArp, true, false, NEEDS_NOTHING_UP_FRONT},
    {"net", RunNet, true, false, NEEDS_OWN_ADAPTERS},
    {"nbtstat", RunNbtstat, true, false, NEEDS_OWN_ADAPTERS},
    {"del", RunDel, false, false, NEEDS_NOTHING_UP_FRONT},
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

// Opens the target of ">" emptied, or of ">>" for appending. A file that is
// already empty is not emptied again: on ext4, a file emptied and written
// goes to the disk as it is closed, and Qarvik empties each slot file before
// its next probe redirects into it, so every report of a sweep would cost a
// disk write of its own (on a disk that allows a few hundred writes a second,
// most of a large sweep's time). Appending to an empty file writes the same.
FILE* OpenRedirectionTarget(const std::string& path, bool appends) {
    FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr || appends) return file;
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) > 0) {
        std::fclose(file);
        file = std::fopen(path.c_str(), "wb");
    }
    return file;
}

// A redirection that cannot be opened or written whole: one line with the
// path and the system's reason, and the status that tells Qarvik a report was
// lost and why.
int LostReport(const std::string& path, int error_number) {
    // Within a run, Qarvik says the reason the status carries, once for the
    // run; a full disk would otherwise give a line per command in flight.
    const char* folder = std::getenv(kWorkFolderVariable);
    if (folder == nullptr || folder[0] == '\0') {
        PutErrorLine("wincmd: " + path + ": " + std::strerror(error_number));
    }
    return LostReportStatus(error_number);
}

// Opens every redirection in order, as the interpreter does, and keeps the
// last one as the command's output (its path in output_path). A failure is
// said on standard error and gives its exit status in *status; 0 otherwise.
bool ApplyRedirections(const std::vector<Token>& tokens, Arguments* words, FILE** output,
                       std::string* output_path, int* status) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (!tokens[i].IsRedirection) {
            words->push_back(tokens[i].Text);
            continue;
        }
        if (i + 1 >= tokens.size() || tokens[i + 1].IsRedirection) {
            PutErrorLine("The syntax of the command is incorrect.");
            *status = 1;
            return false;
        }
        const std::string& path = tokens[++i].Text;
        FILE* file = OpenRedirectionTarget(path, tokens[i - 1].Appends);
        if (file == nullptr) {
            *status = LostReport(path, errno);
            return false;
        }
        if (*output != stdout) std::fclose(*output);
        TakeWriteError(file);  // a closed stream's, whose place this one may take
        *output = file;
        *output_path = path;
    }
    return true;
}

// Ends the redirected output: every byte of the report must reach the file,
// or the report is lost, for the reason of the first call that failed.
int CloseRedirection(FILE* output, const std::string& path, int status) {
    int error = TakeWriteError(output);
    bool failed = error != 0 || std::ferror(output) != 0;
    if (std::fflush(output) != 0) {
        if (error == 0) error = errno;
        failed = true;
    }
    if (std::fclose(output) != 0) {
        if (error == 0) error = errno;
        failed = true;
    }
    if (!failed) return status;
    return LostReport(path, error != 0 ? error : EIO);
}

// The report style and language of the version; false after an error
// message. Without a given version the simulated one comes from
// QARVIK_WINVER. The language follows the platform's report code page, as
// Qarvik's does.
bool LoadStyle(const PlatformVersion* given_version, ToolContext* context) {
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
    context->Language = LanguageOfReports(*context->Style, ReadReportCodePage());
    return true;
}

// The machine that QARVIK_NETWORK names (OpenMachine, machine.h); null after
// an error message.
std::unique_ptr<Machine> OpenNamedMachine(MachineNeeds needs) {
    std::string error;
    std::unique_ptr<Machine> machine = OpenMachine(std::getenv("QARVIK_NETWORK"), needs, stderr, &error);
    if (machine == nullptr) PutErrorLine("wincmd: " + error);
    return machine;
}

}  // namespace

int RunCommandWords(const Arguments& words, FILE* output, const PlatformVersion* version) {
    if (words.empty()) return 0;
    const CommandEntry* command = FindCommand(words[0]);
    if (command == nullptr) return NotRecognized(words[0]);
    ToolContext context{nullptr, nullptr, stderr};
    std::unique_ptr<Machine> machine;
    if (command->IsNetworkTool) {
        if (!LoadStyle(version, &context)) return 1;
        machine = OpenNamedMachine(command->Needs);
        if (machine == nullptr) return 1;
        if (!VersionHas(context, *command)) return NotRecognized(words[0]);
        context.Host = machine.get();
        if (command->IsAdapterTool && AnswersFromDemoNetwork()) PutErrorLine(kDemoNetworkNotice);
    }
    Arguments args(words.begin() + 1, words.end());
    TakeLostWorkFolderFile();  // a note of an earlier command of this process is not this one's
    const int status = command->Function(context, args, output);
    const int lost = TakeLostWorkFolderFile();
    return lost != 0 ? LostReportStatus(lost) : status;
}

int RunCommandLine(const std::string& text) {
    Arguments words;
    FILE* output = stdout;
    std::string output_path;
    int status = 0;
    if (!ApplyRedirections(Tokenize(text), &words, &output, &output_path, &status)) {
        if (output != stdout) std::fclose(output);
        return status;
    }
    status = RunCommandWords(words, output, nullptr);
    if (output != stdout) return CloseRedirection(output, output_path, status);
    std::fflush(stdout);
    return status;
}
