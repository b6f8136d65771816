// A stand-in command interpreter for tests: invoked as "record_cmd /c TEXT", it
// appends TEXT and a line end to the file named by RECORD_LOG, then, when
// RECORD_FORWARD names an interpreter, runs the command there; else it does
// nothing, so no command a test provokes can reach a real tool.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* text = argc > 2 ? argv[2] : "";
    if (const char* log_path = std::getenv("RECORD_LOG")) {
        if (FILE* log = std::fopen(log_path, "ab")) {
            std::fprintf(log, "%s\n", text);
            std::fclose(log);
        }
    }
    const char* forward = std::getenv("RECORD_FORWARD");
    if (forward == nullptr || forward[0] == '\0') return 0;
    char* forward_argv[] = {const_cast<char*>(forward), const_cast<char*>("/c"),
                            const_cast<char*>(text), nullptr};
    execv(forward, forward_argv);
    std::perror("record_cmd: cannot run RECORD_FORWARD");
    return 127;
}
