// The command line: ParseCommandLine on an argument vector cut from the input
// at NUL bytes. A wrong argument ends the run (thrown here); a parse that
// returns must leave settings the later stages can use.
#include <cstring>

#include "fuzz_support.h"
#include "state/command_line.h"
#include "state/run_state.h"

namespace {
constexpr size_t kMaxArguments = 12;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBeginInput();
    std::vector<std::string> arguments = SplitInput(data, size, '\0', kMaxArguments);
    std::vector<char*> argv;
    char program[] = "qarvik";
    argv.push_back(program);
    if (size > 0) {
        for (std::string& argument : arguments) argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    bool returned = true;
    try {
        ParseCommandLine(static_cast<int>(argv.size() - 1), argv.data());
    } catch (const FuzzExit& exit) {
        FUZZ_CHECK(exit.Status == 0);
        returned = false;
    }
    CheckStateFields();
    FUZZ_CHECK(RecordedCommands().empty());
    if (returned) {
        const RunSettings& settings = State.Settings;
        FUZZ_CHECK(settings.Class >= CLASS_NETBEUI && settings.Class <= CLASS_A);
        FUZZ_CHECK(settings.PingWait >= 0 && settings.PingWait <= 10000);
        FUZZ_CHECK(settings.ResFile[0] != '\0');
        FUZZ_CHECK(settings.Class == CLASS_NETBEUI || settings.MaskAdd[0] != '\0');
    }
    return 0;
}
