// The Windows build's own file steps, run under Wine by run_wine_tests.sh:
// the response file's replacement (one step where the system has it, else
// moved aside, moved in and the old one deleted, each step checked) and the
// removal of the work folders that killed runs left. One "ok"/"FAIL" line a
// check; the exit status is the number of failures.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

int g_failures = 0;

void Check(bool passed, const std::string& what) {
    std::printf("%s %s\n", passed ? "ok  " : "FAIL", what.c_str());
    if (!passed) ++g_failures;
}

void Write(const std::string& path, const std::string& text) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string Read(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return "<missing>";
    std::string text;
    char buffer[256];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
    std::fclose(file);
    return text;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string AsideName(const std::string& target, int k) {
    char name[64];
    std::snprintf(name, sizeof name, ".%lx.%d.old",
                  static_cast<unsigned long>(GetCurrentProcessId()), k);
    return target + name;
}

void ReplacesInOneStepKeepingAttributes(const std::string& folder) {
    const std::string target = folder + "\\hidden.txt";
    const std::string fresh = folder + "\\hidden.txt.new";
    Write(target, "OLD");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_HIDDEN);
    Write(fresh, "NEW");
    char stranded[MAX_PATH] = "";
    Check(OsReplaceFile(fresh.c_str(), target.c_str(), stranded, sizeof stranded) &&
              Read(target) == "NEW" && !Exists(fresh),
          "one step: the new file takes the old one's place");
    Check((GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0,
          "one step: the old file's attributes stay");
}

// A read-only old file takes the steps of Windows 95: moved aside, moved in.
void LeftoverOldFileBlocksNothing(const std::string& folder) {
    const std::string target = folder + "\\readonly.txt";
    const std::string fresh = folder + "\\readonly.txt.new";
    Write(AsideName(target, 0), "LEFT BY A CRASH");
    Write(target, "OLD");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    Write(fresh, "NEW");
    char stranded[MAX_PATH] = "";
    Check(OsReplaceFile(fresh.c_str(), target.c_str(), stranded, sizeof stranded) &&
              Read(target) == "NEW",
          "moved aside: a leftover .old does not block the replacement");
    Check(Read(AsideName(target, 0)) == "LEFT BY A CRASH" && !Exists(AsideName(target, 1)),
          "moved aside: the leftover stays as it was, this run's old file goes");
    Check((GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY) != 0,
          "moved aside: the read-only attribute stays");
}

void FailedMoveInPutsTheOldFileBack(const std::string& folder) {
    const std::string target = folder + "\\kept.txt";
    Write(target, "OLD");
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    char stranded[MAX_PATH] = "unset";
    const std::string missing = folder + "\\never-made.new";
    bool replaced = OsReplaceFile(missing.c_str(), target.c_str(), stranded, sizeof stranded);
    Check(!replaced && Read(target) == "OLD", "failed move in: the old file is back under its name");
    Check(!Exists(AsideName(target, 0)), "failed move in: nothing left aside");
}

void MakeFolder(const std::string& path, const std::string& lock_record) {
    CreateDirectoryA(path.c_str(), nullptr);
    Write(path + "\\tmp00.txt", "report");
    if (lock_record != "-") Write(path + "\\" + RUN_LOCK_NAME, lock_record);
}

void KilledRunsFoldersGoRunningOnesStay(const std::string& folder) {
    const std::string temp = folder + "\\temp";
    CreateDirectoryA(temp.c_str(), nullptr);
    const std::string orphan = folder + "\\rsp.txt.1.new";
    Write(orphan, "HALF");
    MakeFolder(temp + "\\qarvik-1-0", orphan + "\n");
    // A relative record names a file of whatever folder the later run is in.
    SetCurrentDirectoryA(folder.c_str());
    Write(folder + "\\other.txt.new", "NOT THE KILLED RUN'S");
    MakeFolder(temp + "\\qarvik-5-0", "other.txt.new\n");
    MakeFolder(temp + "\\qarvik-2-0", "-");  // no lock: being made, or not ours
    MakeFolder(temp + "\\qarvik-3-0", "");
    Check(TakeRunLock((temp + "\\qarvik-4-0").c_str()) == false, "no lock in a missing folder");
    DeleteFileA((temp + "\\qarvik-3-0\\" + RUN_LOCK_NAME).c_str());
    Check(TakeRunLock((temp + "\\qarvik-3-0").c_str()), "the running run takes its lock");
    OsRemoveAbandonedWorkFolders((temp + "\\").c_str());
    Check(!Exists(temp + "\\qarvik-1-0") && !Exists(orphan),
          "a killed run's folder and its new response file are removed");
    Check(Exists(folder + "\\other.txt.new"), "a relative record removes no file of this folder");
    Check(Exists(temp + "\\qarvik-2-0\\tmp00.txt"), "a folder without a lock stays");
    Check(Exists(temp + "\\qarvik-3-0\\tmp00.txt"), "a running run's folder stays");
    OsRecordReplacement("rsp.txt.3.new");
    OsReleaseRunLock();
    Check(Read(temp + "\\qarvik-3-0\\" + RUN_LOCK_NAME) == folder + "\\rsp.txt.3.new\n",
          "the lock records the new response file by its full path");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: replace_steps FOLDER\n");
        return 100;
    }
    const std::string folder = argv[1];
    ReplacesInOneStepKeepingAttributes(folder);
    LeftoverOldFileBlocksNothing(folder);
    FailedMoveInPutsTheOldFileBack(folder);
    KilledRunsFoldersGoRunningOnesStay(folder);
    return g_failures;
}
