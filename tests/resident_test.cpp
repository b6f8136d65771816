// The wincmd launcher and the run's resident interpreter: a command handed
// over runs as wincmd would have run it, a launcher ends as its command
// ended, and the interpreter goes with its run.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "contract/lost_report.h"
#include "resident/resident_protocol.h"
#include "test_support.h"

namespace {

const std::string kSmallOffice = std::string(FIXTURES_PATH) + "/small_office.txt";

sockaddr_un SocketAddress(const std::string& folder) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s", folder.c_str(),
                  resident::kSocketName);
    return address;
}

int Connect(const std::string& folder) {
    int connection = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address = SocketAddress(folder);
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return connection;
    }
    close(connection);
    return -1;
}

// Until the run's interpreter in folder takes connections, at most 3 s.
bool InterpreterServes(const std::string& folder) {
    for (int k = 0; k < 300; ++k) {
        int connection = Connect(folder);
        if (connection >= 0) {
            close(connection);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A launcher's request, sent by the test itself: the arguments and
// environment, with out and err as the command's standard output and error
// and directory as its folder.
int SendRequest(const std::string& folder, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, int out, int err,
                const std::string& directory, uint32_t file_mask = 027) {
    int connection = Connect(folder);
    if (connection < 0) return -1;
    resident::RequestHeader header{};
    header.Magic = resident::kMagic;
    header.ArgumentCount = static_cast<uint32_t>(arguments.size());
    header.EnvironmentCount = static_cast<uint32_t>(environment.size());
    header.FileMask = file_mask;
    std::string request(reinterpret_cast<const char*>(&header), sizeof header);
    for (const auto& text : arguments) request.append(text.c_str(), text.size() + 1);
    for (const auto& text : environment) request.append(text.c_str(), text.size() + 1);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int folder_descriptor = open(directory.c_str(), O_PATH | O_CLOEXEC);
    int descriptors[resident::kDescriptorCount] = {in, out, err, folder_descriptor};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof descriptors)] = {};
    iovec vector{request.data(), request.size()};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* part = CMSG_FIRSTHDR(&message);
    part->cmsg_level = SOL_SOCKET;
    part->cmsg_type = SCM_RIGHTS;
    part->cmsg_len = CMSG_LEN(sizeof descriptors);
    std::memcpy(CMSG_DATA(part), descriptors, sizeof descriptors);
    bool sent = sendmsg(connection, &message, 0) == static_cast<ssize_t>(request.size());
    close(in);
    close(folder_descriptor);
    char accepted = 0;
    if (!sent || read(connection, &accepted, 1) != 1 || accepted != resident::kAccepted) {
        close(connection);
        return -1;
    }
    return connection;
}

// The wait status the interpreter answers on connection, or -1.
int AwaitStatus(int connection) {
    int status = -1;
    if (read(connection, &status, sizeof status) != sizeof status) status = -1;
    close(connection);
    return status;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QARVIK_", 7) != 0) entries.push_back(*entry);
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

// The environment of commands on a network, written into folder, whose one
// host (10.1.2.5) is down: its pings wait out their time-out.
std::vector<std::string> SlowNetworkEnvironment(const TempDir& folder) {
    WriteFileBytes(folder.File("slow.txt"),
                   "machine PC\ntiming 0.5\nadapter 10.1.2.10 00-A0-C9-00-00-02\n"
                   "host 10.1.2.5 00-0C-29-00-00-05 - down\n");
    return {"QARVIK_NETWORK=" + folder.File("slow.txt"), "QARVIK_WINVER=xp"};
}

// A run's folder whose interpreter serves, started by one command with the
// environment given.
struct ServingRun {
    explicit ServingRun(const std::vector<std::string>& environment) {
        std::vector<std::string> started = environment;
        started.push_back("QARVIK_WORK_FOLDER=" + run.Path() + "/");
        status = Spawn({WINCMD_PATH, "/c", "del", run.File("nothing")}, started, "",
                       run.File("out"), run.File("err"));
    }
    TempDir run;
    int status;
};

// The processes that hold a file under folder open.
std::vector<std::string> ProcessesHoldingFilesUnder(const std::string& folder) {
    std::vector<std::string> holders;
    DIR* processes = opendir("/proc");
    for (dirent* process; (process = readdir(processes)) != nullptr;) {
        const std::string descriptors = std::string("/proc/") + process->d_name + "/fd";
        DIR* open_files = opendir(descriptors.c_str());
        if (open_files == nullptr) continue;
        for (dirent* file; (file = readdir(open_files)) != nullptr;) {
            char target[4096] = "";
            std::string link = descriptors + "/" + file->d_name;
            ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
            if (length > 0 && std::string(target, length).rfind(folder, 0) == 0) {
                holders.push_back(process->d_name);
                break;
            }
        }
        closedir(open_files);
    }
    closedir(processes);
    return holders;
}

// The processes the process has forked that are still there.
std::vector<std::string> ChildrenOf(const std::string& process) {
    std::istringstream list(ReadFileBytes("/proc/" + process + "/task/" + process + "/children"));
    return {std::istream_iterator<std::string>(list), std::istream_iterator<std::string>()};
}

// Each difference between the interpreter's process and the launcher's is
// one the command would show. The cases run one after another in the same
// worker process, so nothing of one may reach the next.
TEST(ResidentInterpreter, RunsARequestAsWincmdRunsItItself) {
    ServingRun serving({"QARVIK_NETWORK=" + kSmallOffice, "QARVIK_WINVER=xp"});
    ASSERT_TRUE(InterpreterServes(serving.run.Path()));
    const std::vector<std::string> interpreter = ProcessesHoldingFilesUnder(serving.run.Path());
    ASSERT_EQ(interpreter.size(), 1u);
    std::vector<std::string> first_worker;
    struct Case {
        const char* name;
        std::vector<std::string> command;
        std::vector<std::string> environment;
        mode_t file_mask;
    };
    const Case cases[] = {
        {"the request's environment, not the interpreter's", {"ipconfig"}, {"QARVIK_WINVER=nt4"}, 027},
        {"a report redirected into the request's folder, with its file mask",
         {"ping", "-n", "1", "10.1.2.3", ">", "report.txt"}, {"QARVIK_WINVER=xp"}, 027},
        {"the same with another file mask than the last command's",
         {"ping", "-n", "1", "10.1.2.3", ">", "report.txt"}, {"QARVIK_WINVER=xp"}, 077},
        {"an unknown command's message and status", {"nosuch"}, {"QARVIK_WINVER=xp"}, 027},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> environment = EnvironmentWith(c.environment);
        environment.push_back("QARVIK_NETWORK=" + kSmallOffice);
        TempDir direct;
        std::vector<std::string> argv = {WINCMD_PATH, "/c"};
        argv.insert(argv.end(), c.command.begin(), c.command.end());
        std::vector<std::string> direct_environment = c.environment;
        direct_environment.push_back("QARVIK_NETWORK=" + kSmallOffice);
        direct_environment.push_back("QARVIK_WORK_FOLDER=");
        mode_t mask = umask(c.file_mask);
        int direct_status = Spawn(argv, direct_environment, direct.Path(), direct.File("out"),
                                  direct.File("err"));
        umask(mask);

        TempDir handed;
        int out = open(handed.File("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        int err = open(handed.File("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        // Time for the last command's worker to say it is ready for another.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int connection =
            SendRequest(serving.run.Path(), argv, environment, out, err, handed.Path(), c.file_mask);
        close(out);
        close(err);
        ASSERT_GE(connection, 0);
        int status = AwaitStatus(connection);
        const std::vector<std::string> workers = ChildrenOf(interpreter[0]);
        EXPECT_EQ(workers.size(), 1u);
        if (first_worker.empty()) first_worker = workers;
        EXPECT_EQ(workers, first_worker);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), direct_status);
        for (const char* name : {"out", "err", "report.txt"}) {
            EXPECT_EQ(ReadFileBytes(handed.File(name)), ReadFileBytes(direct.File(name))) << name;
        }
        struct stat info {};
        if (stat(handed.File("report.txt").c_str(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 0777, 0666u & ~c.file_mask);
        }
    }
}

// The interpreter's workers, sorted, once count pings of an unanswered host,
// sent at the same time, have ended and their workers have said they are
// ready for more.
std::vector<std::string> WorkersAfterPingsAtOnce(const std::string& run, const std::string& interpreter,
                                                 const std::vector<std::string>& environment,
                                                 int count) {
    TempDir folder;
    std::vector<int> connections;
    for (int k = 0; k < count; ++k) {
        int out = open(folder.File("out" + std::to_string(k)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        connections.push_back(SendRequest(run, {WINCMD_PATH, "/c", "ping", "-n", "1", "-w", "300", "10.1.2.5"},
                                          EnvironmentWith(environment), out, out, folder.Path()));
        close(out);
    }
    for (int connection : connections) {
        EXPECT_GE(connection, 0);
        EXPECT_TRUE(WIFEXITED(AwaitStatus(connection)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::string> workers = ChildrenOf(interpreter);
    std::sort(workers.begin(), workers.end());
    return workers;
}

// Commands at the same time have a worker each; the workers serve the next
// commands, and one that has gone while it waited is replaced.
TEST(ResidentInterpreter, WorkersServeTheNextCommandsAndAGoneOneIsReplaced) {
    TempDir network;
    const std::vector<std::string> environment = SlowNetworkEnvironment(network);
    ServingRun serving(environment);
    ASSERT_TRUE(InterpreterServes(serving.run.Path()));
    const std::vector<std::string> interpreter = ProcessesHoldingFilesUnder(serving.run.Path());
    ASSERT_EQ(interpreter.size(), 1u);
    const std::string& run = serving.run.Path();
    const std::vector<std::string> first = WorkersAfterPingsAtOnce(run, interpreter[0], environment, 3);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(WorkersAfterPingsAtOnce(run, interpreter[0], environment, 3), first);
    kill(std::stoi(first[0]), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<std::string> third = WorkersAfterPingsAtOnce(run, interpreter[0], environment, 3);
    ASSERT_EQ(third.size(), 3u);
    EXPECT_EQ(std::count(third.begin(), third.end(), first[0]), 0);
    EXPECT_EQ(std::count(third.begin(), third.end(), first[1]), 1);
    EXPECT_EQ(std::count(third.begin(), third.end(), first[2]), 1);
}

// An interrupt the launcher passes on ends the command by that signal; a
// launcher that goes away takes its command with it; later commands still
// run.
TEST(ResidentInterpreter, ALaunchersInterruptOrEndReachesItsCommand) {
    TempDir network;
    const std::vector<std::string> environment = SlowNetworkEnvironment(network);
    ServingRun serving(environment);
    ASSERT_TRUE(InterpreterServes(serving.run.Path()));
    TempDir interrupted;
    TempDir left;
    // Two echo requests of a second each, unanswered: the statistics after 2 s.
    int connections[2];
    for (int k = 0; k < 2; ++k) {
        const std::string folder = (k == 0 ? interrupted : left).Path();
        int out = open((folder + "/out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        connections[k] = SendRequest(serving.run.Path(),
                                     {WINCMD_PATH, "/c", "ping", "-n", "2", "-w", "2000", "10.1.2.5",
                                      ">", "report.txt"},
                                     EnvironmentWith(environment), out, out, folder);
        close(out);
        ASSERT_GE(connections[k], 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int interrupt = SIGINT;
    ASSERT_EQ(send(connections[0], &interrupt, sizeof interrupt, 0), 4);
    close(connections[1]);
    const int status = AwaitStatus(connections[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    // Its process went with it; the next command has one of its own.
    int out = open(interrupted.File("next").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int next = SendRequest(serving.run.Path(), {WINCMD_PATH, "/c", "ipconfig"},
                           EnvironmentWith(environment), out, out, interrupted.Path());
    close(out);
    ASSERT_GE(next, 0);
    EXPECT_EQ(AwaitStatus(next), 0);
    EXPECT_NE(ReadFileBytes(interrupted.File("next")).find("10.1.2.10"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (const TempDir* folder : {&interrupted, &left}) {
        EXPECT_TRUE(FileExists(folder->File("report.txt")));  // the command had started
        EXPECT_EQ(ReadFileBytes(folder->File("report.txt")).find("Ping statistics"),
                  std::string::npos);
    }
}

// A worker that dies under its command by a signal nobody passed on: its
// report may be cut short, which the launcher hears as a lost report.
TEST(ResidentInterpreter, AWorkerKilledUnderItsCommandIsALostReport) {
    TempDir network;
    const std::vector<std::string> environment = SlowNetworkEnvironment(network);
    ServingRun serving(environment);
    ASSERT_TRUE(InterpreterServes(serving.run.Path()));
    const std::vector<std::string> interpreter = ProcessesHoldingFilesUnder(serving.run.Path());
    ASSERT_EQ(interpreter.size(), 1u);
    int out = open(network.File("ping").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int connection = SendRequest(serving.run.Path(),
                                 {WINCMD_PATH, "/c", "ping", "-n", "2", "-w", "2000", "10.1.2.5"},
                                 EnvironmentWith(environment), out, out, network.Path());
    close(out);
    ASSERT_GE(connection, 0);
    const std::vector<std::string> workers = ChildrenOf(interpreter[0]);
    ASSERT_EQ(workers.size(), 1u);
    kill(std::stoi(workers[0]), SIGKILL);
    const int status = AwaitStatus(connection);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == LOST_REPORT_COMMAND_DIED) << status;
}

// User and system clock ticks of a process so far.
long CpuTicks(const std::string& process) {
    const std::string stat = ReadFileBytes("/proc/" + process + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k) {
        if (k >= 14) ticks += std::stol(field);  // utime, stime
    }
    return ticks;
}

// Its run ended while a command still ran: no new command, and no CPU spent
// while the last one ends.
TEST(ResidentInterpreter, WaitsQuietlyForItsLastCommandOnceItsRunHasEnded) {
    TempDir network;
    TempDir run;
    std::vector<std::string> environment = SlowNetworkEnvironment(network);
    environment.push_back("QARVIK_WORK_FOLDER=" + run.Path() + "/");
    // The run: a shell whose first command starts the interpreter.
    pid_t shell = StartProcess({"/bin/sh", "-c", std::string(WINCMD_PATH) + " /c del x; exec sleep 30"},
                               environment, "", network.File("out"), network.File("err"));
    ASSERT_TRUE(InterpreterServes(run.Path()));
    int out = open(network.File("ping").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int connection = SendRequest(run.Path(), {WINCMD_PATH, "/c", "ping", "-n", "2", "-w", "2000",
                                              "10.1.2.5"},
                                 EnvironmentWith(environment), out, out, network.Path());
    close(out);
    ASSERT_GE(connection, 0);
    kill(shell, SIGKILL);
    WaitProcess(shell);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(Connect(run.Path()), 0);
    const std::vector<std::string> interpreter = ProcessesHoldingFilesUnder(run.Path());
    ASSERT_EQ(interpreter.size(), 1u);
    const long before = CpuTicks(interpreter[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(CpuTicks(interpreter[0]) - before, 5);  // busy, it would take some 50
    EXPECT_TRUE(WIFEXITED(AwaitStatus(connection)));
}

TEST(ResidentInterpreter, EndsWithItsRun) {
    TempDir dir;
    QarvikRun run;
    run.Network = kSmallOffice;
    run.Comspec = WINCMD_PATH;  // the run starts the launchers itself
    RunQarvik(dir, &run);
    ASSERT_EQ(run.ExitStatus, 0) << run.Errors;
    // Well inside the second an interpreter without commands waits.
    std::vector<std::string> holders;
    for (int k = 0; k < 60; ++k) {
        holders = ProcessesHoldingFilesUnder(dir.File("tmp"));
        if (holders.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(holders, std::vector<std::string>{});
    EXPECT_EQ(FolderEntries(dir.File("tmp")), std::vector<std::string>{});
}

// A stand-in interpreter of the test's own on a run folder's socket.
class FakeInterpreter {
public:
    // Recorded in the lock as the run's interpreter, as the real one records
    // itself.
    FakeInterpreter() {
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address = SocketAddress(run_.Path());
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        WriteFileBytes(Lock(), std::to_string(getpid()) + "\n");
    }
    ~FakeInterpreter() { close(listener_); }

    // The next request's connection, its arguments and environment as sent.
    int Take(std::string* request) {
        timeval patience{5, 0};
        setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        std::vector<char> buffer(resident::kRequestLimit);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * resident::kDescriptorCount)];
        iovec vector{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t length = recvmsg(connection, &message, MSG_CMSG_CLOEXEC);
        for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
             part = CMSG_NXTHDR(&message, part)) {
            for (size_t k = 0; k < (part->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++k) {
                int descriptor;
                std::memcpy(&descriptor, CMSG_DATA(part) + k * sizeof(int), sizeof descriptor);
                close(descriptor);
                ++descriptors_;
            }
        }
        request->assign(buffer.data(), length > 0 ? length : 0);
        return connection;
    }

    // Until the launcher has ended: each connection it makes is read and
    // closed, so that it never waits for this listener. The bytes that came on
    // them, and whether it connected at all.
    std::string HearUntilEnded(pid_t launcher, bool* connected) {
        std::string heard;
        *connected = false;
        for (;;) {
            siginfo_t ended{};
            waitid(P_PID, launcher, &ended, WEXITED | WNOHANG | WNOWAIT);
            pollfd wait{listener_, POLLIN, 0};
            if (poll(&wait, 1, ended.si_pid != 0 ? 0 : 10) != 1) {
                if (ended.si_pid != 0) return heard;
                continue;
            }
            int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            *connected = true;
            timeval patience{5, 0};
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
            std::vector<char> bytes(resident::kRequestLimit);
            ssize_t length = recv(connection, bytes.data(), bytes.size(), 0);
            if (length > 0) heard.append(bytes.data(), length);
            close(connection);
        }
    }

    std::string Folder() const { return run_.Path() + "/"; }
    std::string Lock() const { return run_.File(resident::kLockName); }
    int Descriptors() const { return descriptors_; }

private:
    TempDir run_;
    int listener_ = -1;
    int descriptors_ = 0;
};

TEST(WincmdLauncher, EndsAsTheInterpretersCommandEnded) {
    struct Case {
        const char* name;
        bool accepted;
        bool answered;
        int wait_status;
        int exit_status;
        int interrupt;  // sent to the launcher while its command runs
    };
    const Case cases[] = {
        {"an exit status", true, true, 7 << 8, 7, 0},
        {"a signal", true, true, SIGTERM, 128 + SIGTERM, 0},
        {"an interrupt, passed on to the command", true, true, SIGINT, 128 + SIGINT, SIGINT},
        {"the interpreter gone while the command ran: a lost report", true, false, 0,
         LOST_REPORT_COMMAND_DIED, 0},
        {"not taken: the launcher runs the command itself", false, false, 0, 0, 0},
    };
    TempDir direct;
    ASSERT_EQ(Spawn({WINCMD_PATH, "/c", "ipconfig"}, {"QARVIK_WORK_FOLDER="}, "", direct.File("out"),
                    direct.File("err")),
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInterpreter interpreter;
        TempDir capture;
        pid_t launcher = StartProcess({WINCMD_PATH, "/c", "ipconfig"},
                                      {"QARVIK_WORK_FOLDER=" + interpreter.Folder(), "MARK=1"}, "",
                                      capture.File("out"), capture.File("err"));
        std::string request;
        int connection = interpreter.Take(&request);
        if (c.accepted) send(connection, &resident::kAccepted, 1, MSG_NOSIGNAL);
        if (c.interrupt != 0) {
            kill(launcher, c.interrupt);
            int passed_on = 0;
            EXPECT_EQ(read(connection, &passed_on, sizeof passed_on), 4);
            EXPECT_EQ(passed_on, c.interrupt);
        }
        if (c.answered) send(connection, &c.wait_status, sizeof c.wait_status, MSG_NOSIGNAL);
        close(connection);
        EXPECT_EQ(WaitProcess(launcher), c.exit_status);
        EXPECT_EQ(interpreter.Descriptors(), resident::kDescriptorCount);
        const std::string arguments = request.substr(sizeof(resident::RequestHeader));
        EXPECT_EQ(arguments.find(std::string("/c\0ipconfig\0", 12)),
                  std::strlen(WINCMD_PATH) + 1);
        EXPECT_NE(arguments.find(std::string("\0MARK=1\0", 8)), std::string::npos);
        const std::string out = ReadFileBytes(capture.File("out"));
        EXPECT_EQ(out, c.accepted ? "" : ReadFileBytes(direct.File("out")));
        if (c.exit_status == LOST_REPORT_COMMAND_DIED) {
            EXPECT_NE(ReadFileBytes(capture.File("err")).find("resident interpreter ended"),
                      std::string::npos);
        }
    }
}

// Before it sends anything the launcher checks the folder (the user's own,
// written by no one else) and the socket's peer (the process the lock names).
TEST(WincmdLauncher, SendsNothingToWhatIsNotTheRunsInterpreter) {
    const struct {
        const char* name;
        const char* lock;  // nullptr: the listener's own record
        mode_t folder_mode;
        int exit_status;
    } cases[] = {
        {"no interpreter recorded: a lost report", "", 0700, LostReportStatus(EPERM)},
        {"another process recorded: a lost report", "1\n", 0700, LostReportStatus(EPERM)},
        {"a folder others may write in: the command runs here", nullptr, 0733, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInterpreter listener;
        if (c.lock != nullptr) WriteFileBytes(listener.Lock(), c.lock);
        ASSERT_EQ(chmod(listener.Folder().c_str(), c.folder_mode), 0);
        TempDir capture;
        pid_t launcher = StartProcess({WINCMD_PATH, "/c", "ipconfig"},
                                      {"QARVIK_WORK_FOLDER=" + listener.Folder()}, "",
                                      capture.File("out"), capture.File("err"));
        bool connected = false;
        // Connected at most, then gone: not a byte came.
        EXPECT_EQ(listener.HearUntilEnded(launcher, &connected).size(), 0u);
        EXPECT_EQ(connected, c.exit_status != 0);
        EXPECT_EQ(WaitProcess(launcher), c.exit_status);
        const std::string err = ReadFileBytes(capture.File("err"));
        EXPECT_EQ(err.find("is not the run's interpreter: nothing sent") != std::string::npos,
                  c.exit_status != 0)
            << err;
        EXPECT_EQ(ReadFileBytes(capture.File("out")).find("Windows IP") != std::string::npos,
                  c.exit_status == 0);
    }
}

// A launcher that connects and sends nothing holds up no other command.
TEST(ResidentInterpreter, ALauncherThatSendsNothingHoldsUpNoOther) {
    ServingRun serving({"QARVIK_NETWORK=" + kSmallOffice, "QARVIK_WINVER=xp"});
    ASSERT_TRUE(InterpreterServes(serving.run.Path()));
    int stalled = Connect(serving.run.Path());
    ASSERT_GE(stalled, 0);
    TempDir folder;
    int out = open(folder.File("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const auto start = std::chrono::steady_clock::now();
    int connection = SendRequest(serving.run.Path(), {WINCMD_PATH, "/c", "ipconfig"},
                                 EnvironmentWith({"QARVIK_NETWORK=" + kSmallOffice}), out, out,
                                 folder.Path());
    close(out);
    ASSERT_GE(connection, 0);
    EXPECT_EQ(AwaitStatus(connection), 0);
    // Held up, it would wait for the stalled one's second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    close(stalled);
}

TEST(WincmdLauncher, ASocketLeftByAGoneInterpreterGivesWayToANewOne) {
    TempDir run;
    {
        FakeInterpreter gone;  // bound, then closed: nobody listens
        ASSERT_EQ(rename((gone.Folder() + resident::kSocketName).c_str(),
                         run.File(resident::kSocketName).c_str()),
                  0);
    }
    std::string out;
    std::string err;
    EXPECT_EQ(RunWincmd("ipconfig", {"QARVIK_WORK_FOLDER=" + run.Path() + "/"}, &out, &err), 0);
    EXPECT_NE(out.find("Windows IP Configuration"), std::string::npos) << err;
    EXPECT_TRUE(InterpreterServes(run.Path()));
}

TEST(WincmdLauncher, WithoutItsProgramSaysSoAndEndsWith127) {
    TempDir alone;
    const std::string launcher = alone.File("wincmd");
    WriteFileBytes(launcher, ReadFileBytes(WINCMD_PATH));
    ASSERT_EQ(chmod(launcher.c_str(), 0755), 0);
    EXPECT_EQ(Spawn({launcher, "/c", "ipconfig"}, {}, "", alone.File("out"), alone.File("err")), 127);
    EXPECT_EQ(ReadFileBytes(alone.File("err")),
              "wincmd: cannot start the interpreter program wincmd-tools\n");
}

}  // namespace
