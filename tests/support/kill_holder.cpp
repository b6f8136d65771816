// Kills a process of the stand-in mid-command, for the tests of dead
// commands: invoked as "kill_holder MILLISECONDS TEMP_DIRECTORY PREFIX
// [interpreter]", it waits for the run's work folder in the temp directory
// and holds every open of a file in it until it has looked at it; the first
// process of wincmd's (never the run's own) that opens a file whose name
// starts with PREFIX (a worker redirecting its report) is killed with
// SIGKILL before its command runs, or, with "interpreter", the process of
// wincmd's that forked it (the run's resident interpreter) is. Prints the killed process;
// exit status 1 when no such open came within the time, 2 when the kernel
// cannot hold opens.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

std::string Link(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

bool RunsWincmd(pid_t process) {
    std::string program = Link("/proc/" + std::to_string(process) + "/exe");
    return program.compare(program.rfind('/') + 1, 6, "wincmd") == 0;
}

pid_t ParentOf(pid_t process) {
    FILE* stat = std::fopen(("/proc/" + std::to_string(process) + "/stat").c_str(), "r");
    if (stat == nullptr) return -1;
    char line[1024] = "";
    size_t length = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    line[length] = '\0';
    const char* after_name = std::strrchr(line, ')');
    int parent = -1;
    if (after_name == nullptr || std::sscanf(after_name + 2, "%*c %d", &parent) != 1) return -1;
    return parent;
}

// The run's work folder once it is there: "qarvik-" and six characters.
std::string WorkFolder(const std::string& temp) {
    DIR* entries = opendir(temp.c_str());
    std::string found;
    while (entries != nullptr && found.empty()) {
        dirent* entry = readdir(entries);
        if (entry == nullptr) break;
        if (std::strncmp(entry->d_name, "qarvik-", 7) == 0 && std::strlen(entry->d_name) == 13) {
            found = temp + "/" + entry->d_name;
        }
    }
    if (entries != nullptr) closedir(entries);
    return found;
}

// Lets the open go on and ends the event.
void Allow(int notes, const fanotify_event_metadata& event) {
    fanotify_response response{event.fd, FAN_ALLOW};
    if (write(notes, &response, sizeof response) != sizeof response) {
        // the opener has gone meanwhile
    }
    close(event.fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kill_holder MILLISECONDS TEMP_DIRECTORY PREFIX [interpreter]\n");
        return 2;
    }
    const long long deadline = NowMs() + std::atoll(argv[1]);
    const std::string prefix = argv[3];
    const bool interpreter = argc > 4 && std::strcmp(argv[4], "interpreter") == 0;
    int notes = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
    if (notes < 0) {
        std::perror("kill_holder: fanotify_init");
        return 2;
    }
    std::string folder;
    while (folder.empty() && NowMs() < deadline) {
        folder = WorkFolder(argv[2]);
        if (folder.empty()) usleep(1000);
    }
    if (folder.empty() ||
        fanotify_mark(notes, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                      folder.c_str()) != 0) {
        return 1;
    }
    alignas(fanotify_event_metadata) char events[4096];
    for (long long now = NowMs(); now < deadline; now = NowMs()) {
        pollfd wait{notes, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(deadline - now)) <= 0) continue;
        ssize_t length = read(notes, events, sizeof events);
        for (auto* event = reinterpret_cast<fanotify_event_metadata*>(events);
             length > 0 && FAN_EVENT_OK(event, length); event = FAN_EVENT_NEXT(event, length)) {
            if (event->fd < 0) continue;
            std::string path = Link("/proc/self/fd/" + std::to_string(event->fd));
            const bool target = path.compare(path.rfind('/') + 1, prefix.size(), prefix) == 0 &&
                                RunsWincmd(event->pid);
            pid_t victim = !target ? -1 : interpreter ? ParentOf(event->pid) : event->pid;
            // A command the launcher ran itself has the run for its parent.
            if (interpreter && victim > 1 && !RunsWincmd(victim)) victim = -1;
            if (victim > 1 && kill(victim, SIGKILL) == 0) {
                Allow(notes, *event);
                std::printf("%d\n", static_cast<int>(victim));
                return 0;
            }
            Allow(notes, *event);
        }
    }
    return 1;
}
