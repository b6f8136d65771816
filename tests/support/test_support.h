// Shared helpers of the tests: temporary folders, file bytes, CP932 texts, a
// fixture that runs stages in-process with the platform replaced, and a runner
// that starts the built program with a recording interpreter.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

extern const char* const QARVIK_PATH;
extern const char* const WINCMD_PATH;
extern const char* const RECORD_CMD_PATH;
extern const char* const FIXTURES_PATH;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // The path of name inside the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);  // empty when missing
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::vector<std::string> SplitLines(const std::string& text);  // at "\n", ends dropped
// The names in a folder, sorted; none when it is missing.
std::vector<std::string> FolderEntries(const std::string& path);

// UTF-8 text as code page 932 bytes, converted by iconv.
std::string Cp932(const std::string& utf8);
// The program's usage text, as a UTF-8 terminal shows it.
std::string UsageTextUtf8();

// Runs stages in-process: fresh run state, work files in a temporary folder,
// waits counted instead of slept, commands recorded (and handed to OnCommand
// when a test sets it), process exits turned into ExitCalled. Commands started
// without waiting are recorded and handed on the same way when they start
// (unless cannot_start_ refuses them) and end latest first.
class StageTest : public ::testing::Test {
protected:
    struct ExitCalled {
        int status;
    };

    void SetUp() override;
    void TearDown() override;

    std::string WorkFile(int index) const;
    void WriteWorkFile(int index, const std::string& bytes) const;
    std::string ReadWorkFile(int index) const;

    // Console output of the calls made inside body.
    std::string CaptureConsole(const std::function<void()>& body);

    TempDir temp_;
    std::vector<std::string> commands_;
    std::vector<int> waits_;
    std::function<void(const std::string&)> on_command_;
    std::function<bool(const std::string&)> cannot_start_;

private:
    std::vector<int> started_;  // ids of the started commands not yet ended
    int next_id_ = 0;
    static int StartCommand(const char* text);
    static int WaitAnyCommand();
    bool had_tmpdir_ = false;
    std::string saved_tmpdir_;
    static StageTest* current_;
    static int RecordCommand(const char* text);
    static void CountWait(int milliseconds);
    [[noreturn]] static void ThrowExit(int status);
};

// One run of the built program.
struct QarvikRun {
    std::vector<std::string> Args;
    std::string WinVer = "xp";     // QARVIK_WINVER
    std::string CodePage;          // QARVIK_CODEPAGE; empty: the default, 932
    std::string Network;           // QARVIK_NETWORK; empty: the built-in demo network
    bool ForwardToWincmd = true;   // false: commands are only recorded
    std::string TmpDir;            // TMPDIR; empty: dir/tmp/
    std::string Program;           // empty: the built qarvik
    std::string Comspec;           // COMSPEC; empty: the recording interpreter
    size_t InterruptAfterCommands = 0;  // not 0: Signal once that many commands ran
    int Signal = SIGINT;

    // Results.
    int ExitStatus = -1;
    std::string Console;                // standard output bytes
    std::string Errors;                 // standard error bytes
    std::vector<std::string> Commands;  // command lines, in the order run
    int Process = -1;                   // while it runs
};

// Runs build/qarvik in dir: the working folder is dir/work, TMPDIR is dir/tmp/,
// COMSPEC the recording interpreter. Both folders are made when missing.
void RunQarvik(const TempDir& dir, QarvikRun* run);
// The same in two steps, so that runs can overlap: StartQarvik returns at once,
// FinishQarvik (interrupting the run first when asked) waits for it.
void StartQarvik(const TempDir& dir, QarvikRun* run);
void FinishQarvik(const TempDir& dir, QarvikRun* run);

// Starts argv with extra environment entries ("K=" unsets K), standard output
// and error into files, in the working folder cwd (empty: this one), with the
// signals that interrupt a run at their default actions; returns its process id.
pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                   const std::string& cwd, const std::string& out_path, const std::string& err_path);
// Waits for the process; its exit status, or 128 and the signal that ended it.
int WaitProcess(pid_t child);
// StartProcess and WaitProcess.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
          const std::string& cwd, const std::string& out_path, const std::string& err_path);

// Runs wincmd /c command_line with the given environment additions; returns its
// exit status and fills its standard output and error.
int RunWincmd(const std::string& command_line, const std::vector<std::string>& environment,
              std::string* out, std::string* err);
