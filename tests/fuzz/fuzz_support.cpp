#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"
#include "state/run_state.h"

namespace {

std::vector<std::string> g_commands;
std::function<void(const std::string&)> g_observer;

int RecordCommand(const char* command_line) {
    g_commands.emplace_back(command_line);
    if (g_observer) g_observer(g_commands.back());
    return 0;
}

void SkipWait(int) {}

[[noreturn]] void ThrowExit(int status) { throw FuzzExit{status}; }

template <size_t N>
bool EndsInside(const char (&field)[N]) {
    return std::memchr(field, '\0', N) != nullptr;
}

// The path as the program puts it into a command line.
std::string PathInCommand(const char* path) {
    if (std::strchr(path, ' ') == nullptr) return path;
    return std::string("\"") + path + "\"";
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The command without the program's own redirection into a work file, or
// without the path after "del ".
std::string WithoutOwnParts(const std::string& command) {
    for (int k = 0; k < WORK_FILE_COUNT; ++k) {
        std::string path = PathInCommand(State.Files.Path[k]);
        if (command == "del " + path) return "del ";
        for (const char* redirect : {" > ", " >> "}) {
            if (EndsWith(command, redirect + path)) {
                return command.substr(0, command.size() - path.size() - std::strlen(redirect));
            }
        }
    }
    return command;
}

}  // namespace

void FuzzInvariantBroken(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, condition);
    __builtin_trap();
}

namespace {
bool g_initialized = false;  // set once FuzzInit has replaced the platform
char g_fuzz_folder[] = "/tmp/qarvik fuzz XXXXXX";

// A target that ends normally takes its folder with it; one that stops at a
// finding leaves it for a look.
void RemoveFuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_fuzz_folder, ignored);
}
}  // namespace

void FuzzInit() {
    if (mkdtemp(g_fuzz_folder) == nullptr) std::abort();
    std::atexit(RemoveFuzzFolder);
    std::string tmpdir = std::string(g_fuzz_folder) + "/";
    setenv("TMPDIR", tmpdir.c_str(), 1);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    SetRunCommandHook(RecordCommand);
    SetWaitHook(SkipWait);
    SetExitHook(ThrowExit);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzInit();
    g_initialized = true;
    return 0;
}

void FuzzBeginInput() {
    // Without the hooks a stage would run real commands and sleep.
    if (!g_initialized) std::abort();
    RemoveWorkFolder();  // the previous input's
    ResetRunState();
    PrepareWorkFiles();
    for (int k = 0; k < WORK_FILE_COUNT; ++k) std::remove(State.Files.Path[k]);
    g_commands.clear();
    g_observer = nullptr;
}

const std::vector<std::string>& RecordedCommands() { return g_commands; }

void SetCommandObserver(std::function<void(const std::string&)> observer) {
    g_observer = std::move(observer);
}

void WriteWorkFile(int index, const std::string& bytes) {
    FILE* file = std::fopen(State.Files.Path[index], "wb");
    if (file == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string ReadWorkFile(int index) {
    std::string bytes;
    FILE* file = std::fopen(State.Files.Path[index], "rb");
    if (file == nullptr) return bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
}

void RemoveWorkFile(int index) { std::remove(State.Files.Path[index]); }

bool RedirectsInto(const std::string& command, int index, bool appends) {
    return EndsWith(command, (appends ? " >> " : " > ") + PathInCommand(State.Files.Path[index]));
}

std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator,
                                    size_t max_parts) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == separator && parts.size() < max_parts) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

bool IsDigitsAndDots(const char* text) {
    for (; *text != '\0'; ++text) {
        if ((*text < '0' || *text > '9') && *text != '.') return false;
    }
    return true;
}

void CheckStateFields() {
    const RunSettings& settings = State.Settings;
    FUZZ_CHECK(EndsInside(settings.NetAdd));
    FUZZ_CHECK(EndsInside(settings.MaskAdd));
    FUZZ_CHECK(EndsInside(settings.ResFile));
    for (int k = 0; k < WORK_FILE_COUNT; ++k) FUZZ_CHECK(EndsInside(State.Files.Path[k]));
    for (const HostRecord& row : State.HostTable) {
        FUZZ_CHECK(EndsInside(row.Name));
        FUZZ_CHECK(EndsInside(row.Ip));
        FUZZ_CHECK(EndsInside(row.Mac));
    }
    FUZZ_CHECK(State.HostCount >= 0 && State.HostCount <= HOST_TABLE_ROWS);
    FUZZ_CHECK(State.OwnHostCount >= 0 && State.OwnHostCount <= MAX_OWN_ADDRESSES);
}

void CheckAddressesFromReport(int first, int last) {
    for (int row = first; row < last; ++row) {
        FUZZ_CHECK(IsDigitsAndDots(State.HostTable[row].Ip));
    }
}

void CheckCommandsSafe() {
    for (const std::string& command : g_commands) {
        for (unsigned char c : WithoutOwnParts(command)) {
            FUZZ_CHECK(c >= 0x20 && c != 0x7F);
            FUZZ_CHECK(std::strchr("&|<>^\"%", c) == nullptr);
        }
    }
}

std::string TextModeRead(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}
