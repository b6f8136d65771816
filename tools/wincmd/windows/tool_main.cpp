// The stand-in network tools as Windows programs: one program copied under each
// tool's name (ipconfig.exe, winipcfg.exe, ping.exe, arp.exe, net.exe,
// nbtstat.exe). It runs the tool its own file is named after, with its
// arguments, and prints the report on standard output; cmd.exe does the
// redirections. The report formats follow the Windows version that the system
// reports, the same version Qarvik.exe reads, so the two always agree.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "contract/windows_version.h"
#include "shell/shell.h"

namespace {

// The program's own file name without its folder ("ping.exe"); the command
// table ignores the case of letters and the ".exe".
std::string OwnFileName(const char* fallback) {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name = length > 0 && length < sizeof path ? std::string(path, length)
                                                          : std::string(fallback);
    size_t separator = name.find_last_of("\\/:");
    return separator == std::string::npos ? name : name.substr(separator + 1);
}

}  // namespace

int main(int argc, char** argv) {
    PlatformVersion version{};
    if (!ReadWindowsVersion(&version)) {
        std::fputs("The Windows version cannot be read.\n", stderr);
        return 1;
    }
    // The mode of standard output is inherited from whoever started the tool
    // (Qarvik.exe's is binary); the reports write their own CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    Arguments words{OwnFileName(argc > 0 ? argv[0] : "")};
    for (int i = 1; i < argc; ++i) words.push_back(argv[i]);
    int status = RunCommandWords(words, stdout, &version);
    if (std::fflush(stdout) != 0) status = 1;
    return status;
}
