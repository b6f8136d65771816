#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"
#include "state/run_state.h"

extern char** environ;

const char* const QARVIK_PATH = QARVIK_BIN;
const char* const WINCMD_PATH = WINCMD_BIN;
const char* const RECORD_CMD_PATH = RECORD_CMD_BIN;
const char* const FIXTURES_PATH = FIXTURES_DIR;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                          "/qarvik-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::perror("TempDir cleanup");
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = opendir(path.c_str())) {
        while (dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Cp932(const std::string& utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 iconv");
    std::string input = utf8;
    std::string output(input.size() * 2 + 16, '\0');
    char* in = input.data();
    size_t in_left = input.size();
    char* out = output.data();
    size_t out_left = output.size();
    size_t result = iconv(converter, &in, &in_left, &out, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) throw std::runtime_error("not CP932: " + utf8);
    output.resize(output.size() - out_left);
    return output;
}

std::string UsageTextUtf8() {
    return "使用方法\n"
           "  Qarvik [/cClass] [/oResFile] [/nNetAdd] [/mMaskAdd] [/wPingWait] [/pProbes]<ret>\n\n"
           "パラメータ\n"
           "  [/cClass]    : IPアドレスクラス\n"
           "  　　　　　　 :   Class= A   クラスA 255.  0.  0.0\n"
           "  　　　　　　 :   Class= B   クラスB 255.255.  0.0\n"
           "  　　　　　　 :   Class= C   クラスC 255.255.255.0 ※既定値\n"
           "  　　　　　　 :   Class= N   NetBEUI\n"
           "  [/oResFile]  : 出力ファイル名\n"
           "  　　　　　　 :   既定値= rsp.txt\n"
           "  [/nNetAdd]   : ネットワークアドレス\n"
           "  　　　　　　 :   既定値= Qarvik起動マシンのアドレス\n"
           "  [/mMaskAdd]  : マスクアドレス\n"
           "  　　　　　　 :   既定値= IPアドレスクラスに応じた値\n"
           "  [/wPingWait] : Pingタイムアウトミリ秒数(1000～10000)\n"
           "  [/pProbes]   : 同時に調べるホスト数(1～255)\n"
           "  　　　　　　 :   既定値= 1\n";
}

StageTest* StageTest::current_ = nullptr;

void StageTest::SetUp() {
    current_ = this;
    ResetRunState();
    const char* tmpdir = std::getenv("TMPDIR");
    had_tmpdir_ = tmpdir != nullptr;
    saved_tmpdir_ = had_tmpdir_ ? tmpdir : "";
    setenv("TMPDIR", temp_.Path().c_str(), 1);
    PrepareWorkFiles();
    SetWaitHook(CountWait);
    SetRunCommandHook(RecordCommand);
    SetStartCommandHook(StartCommand);
    SetWaitAnyCommandHook(WaitAnyCommand);
    SetExitHook(ThrowExit);
}

void StageTest::TearDown() {
    RemoveWorkFolder();
    SetWaitHook(nullptr);
    SetRunCommandHook(nullptr);
    SetStartCommandHook(nullptr);
    SetWaitAnyCommandHook(nullptr);
    SetExitHook(nullptr);
    if (had_tmpdir_) {
        setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    current_ = nullptr;
}

std::string StageTest::WorkFile(int index) const { return State.Files.Path[index]; }

void StageTest::WriteWorkFile(int index, const std::string& bytes) const {
    WriteFileBytes(WorkFile(index), bytes);
}

std::string StageTest::ReadWorkFile(int index) const { return ReadFileBytes(WorkFile(index)); }

std::string StageTest::CaptureConsole(const std::function<void()>& body) {
    ::testing::internal::CaptureStdout();
    try {
        body();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    return ::testing::internal::GetCapturedStdout();
}

int StageTest::RecordCommand(const char* text) {
    current_->commands_.push_back(text);
    if (current_->on_command_) current_->on_command_(text);
    return 0;
}

int StageTest::StartCommand(const char* text) {
    if (current_->cannot_start_ && current_->cannot_start_(text)) {
        current_->commands_.push_back(text);
        return -1;
    }
    RecordCommand(text);
    current_->started_.push_back(current_->next_id_);
    return current_->next_id_++;
}

int StageTest::WaitAnyCommand() {
    if (current_->started_.empty()) return -1;
    int id = current_->started_.back();
    current_->started_.pop_back();
    return id;
}

void StageTest::CountWait(int milliseconds) { current_->waits_.push_back(milliseconds); }

void StageTest::ThrowExit(int status) { throw ExitCalled{status}; }

// Starts argv with extra environment entries, standard output and error into
// files, in the working folder cwd, with the signals that interrupt a run at
// their default actions whatever this process ignores; returns its process id.
pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                   const std::string& cwd, const std::string& out_path,
                   const std::string& err_path) {
    std::vector<std::string> env_strings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item = *entry;
        std::string key = item.substr(0, item.find('='));
        bool overridden = false;
        for (const std::string& extra : extra_env) {
            if (extra.compare(0, key.size() + 1, key + "=") == 0) overridden = true;
        }
        if (!overridden) env_strings.push_back(item);
    }
    for (const std::string& extra : extra_env) {
        if (extra.find('=') != extra.size() - 1) env_strings.push_back(extra);  // "K=" unsets
    }
    std::vector<char*> envp;
    for (std::string& item : env_strings) envp.push_back(item.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args) argp.push_back(arg.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string old_cwd(4096, '\0');
    if (getcwd(old_cwd.data(), old_cwd.size()) == nullptr) throw std::runtime_error("getcwd");
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) throw std::runtime_error("chdir " + cwd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) sigaddset(&defaults, number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    int spawn_error = posix_spawn(&child, argp[0], &actions, &attributes, argp.data(), envp.data());
    if (chdir(old_cwd.c_str()) != 0) throw std::runtime_error("chdir back");
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0) throw std::runtime_error("cannot start " + argv[0]);
    return child;
}

// Waits for the process; its exit status, or 128 and the signal that ended it.
int WaitProcess(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
          const std::string& cwd, const std::string& out_path, const std::string& err_path) {
    return WaitProcess(StartProcess(argv, extra_env, cwd, out_path, err_path));
}

namespace {

// Waits until the command log holds count lines, or the run has ended (it is
// then left for WaitProcess to collect).
void WaitForCommands(const std::string& log, size_t count, pid_t child) {
    while (SplitLines(ReadFileBytes(log)).size() < count) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == child) {
            return;
        }
        usleep(10000);
    }
}

}  // namespace

void StartQarvik(const TempDir& dir, QarvikRun* run) {
    std::string work = dir.File("work");
    std::string tmp = dir.File("tmp");
    mkdir(work.c_str(), 0755);
    mkdir(tmp.c_str(), 0755);
    std::string log = dir.File("commands.log");
    unlink(log.c_str());
    std::vector<std::string> argv = {run->Program.empty() ? QARVIK_PATH : run->Program};
    argv.insert(argv.end(), run->Args.begin(), run->Args.end());
    std::vector<std::string> env = {
        "TMPDIR=" + (run->TmpDir.empty() ? tmp + "/" : run->TmpDir),
        "COMSPEC=" + (run->Comspec.empty() ? RECORD_CMD_PATH : run->Comspec),
        "RECORD_LOG=" + log,
        std::string("RECORD_FORWARD=") + (run->ForwardToWincmd ? WINCMD_PATH : ""),
        "QARVIK_WINVER=" + run->WinVer,
        "QARVIK_CODEPAGE=" + run->CodePage,
        "QARVIK_NETWORK=" + run->Network,
    };
    run->Process = StartProcess(argv, env, work, dir.File("stdout"), dir.File("stderr"));
}

void FinishQarvik(const TempDir& dir, QarvikRun* run) {
    std::string log = dir.File("commands.log");
    if (run->InterruptAfterCommands > 0) {
        WaitForCommands(log, run->InterruptAfterCommands, run->Process);
        kill(run->Process, run->Signal);
    }
    run->ExitStatus = WaitProcess(run->Process);
    run->Console = ReadFileBytes(dir.File("stdout"));
    run->Errors = ReadFileBytes(dir.File("stderr"));
    run->Commands = SplitLines(ReadFileBytes(log));
}

void RunQarvik(const TempDir& dir, QarvikRun* run) {
    StartQarvik(dir, run);
    FinishQarvik(dir, run);
}

int RunWincmd(const std::string& command_line, const std::vector<std::string>& environment,
              std::string* out, std::string* err) {
    TempDir capture;
    int status = Spawn({WINCMD_PATH, "/c", command_line}, environment, "",
                       capture.File("out"), capture.File("err"));
    if (out != nullptr) *out = ReadFileBytes(capture.File("out"));
    if (err != nullptr) *err = ReadFileBytes(capture.File("err"));
    return status;
}
