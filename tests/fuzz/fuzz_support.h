// Shared parts of the fuzz targets that drive the program's stages: one work
// folder per process, the platform seam replaced (commands recorded, waits
// skipped, process exits thrown), and the invariants every stage must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Stops the target at the first broken invariant; libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                       \
    do {                                                                            \
        if (!(condition)) FuzzInvariantBroken(#condition, __FILE__, __LINE__);      \
    } while (0)

[[noreturn]] void FuzzInvariantBroken(const char* condition, const char* file, int line);

// What PlatformExit throws inside a target.
struct FuzzExit {
    int Status;
};

// Once per process, as every stage target's LLVMFuzzerInitialize (defined in
// fuzz_support.cpp): the work folder (with a blank in its path, so the quoted
// paths are exercised), TMPDIR, the hooks, the console to /dev/null.
void FuzzInit();

// Before every input: fresh run state, work paths, no work files, no commands.
void FuzzBeginInput();

// Every command line handed to the command runner since FuzzBeginInput.
const std::vector<std::string>& RecordedCommands();
// Called with every command line after it is recorded (a stage's tool report
// is written here); cleared by FuzzBeginInput.
void SetCommandObserver(std::function<void(const std::string&)> observer);

void WriteWorkFile(int index, const std::string& bytes);
std::string ReadWorkFile(int index);
void RemoveWorkFile(int index);
// Whether command is a redirection into work file index (" > " or " >> ").
bool RedirectsInto(const std::string& command, int index, bool appends);

// Bytes as text mode reads them: each CR LF pair as LF, every other byte as it is.
std::string TextModeRead(const std::string& bytes);

// The input cut at every separator byte, at most max_parts pieces (the last
// keeps the rest).
std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator,
                                    size_t max_parts);

// Every field of every row and of the settings ends with a NUL inside it;
// HostCount and OwnHostCount within the table.
void CheckStateFields();
// Rows first .. last-1 hold addresses of digits and dots only.
void CheckAddressesFromReport(int first, int last);
// No recorded command holds an interpreter special or a control character
// outside its own redirection or work-file path.
void CheckCommandsSafe();
bool IsDigitsAndDots(const char* text);
