// The run's lock in its work folder, and the removal of the folders that
// killed runs left behind. A run holds an exclusive flock on the folder's
// lock file for its whole life (the tools it starts inherit it, so a tool
// still writing after the run was killed keeps the folder too); a folder
// whose lock a later run can take belongs to a run that is gone.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

const char* const kLockName = RUN_LOCK_NAME;
const char kNewLockName[] = "qarvik.lock.new";
const char kFolderPrefix[] = "qarvik-";
constexpr size_t kFolderUniqueLength = 6;  // what mkdtemp puts for XXXXXX
constexpr size_t kPathSize = 4096 + 64;

int g_lock = -1;

bool JoinPath(char* path, size_t size, const char* folder, const char* name) {
    int length = std::snprintf(path, size, "%s%s%s", folder,
                               folder[std::strlen(folder) - 1] == '/' ? "" : "/", name);
    return length > 0 && static_cast<size_t>(length) < size;
}

// The lock is taken on a file of another name and only then given the lock's
// name, so that no other run ever finds a lock file that is not yet held.
int TakeLock(const char* folder) {
    char new_path[kPathSize];
    char path[kPathSize];
    if (!JoinPath(new_path, sizeof new_path, folder, kNewLockName) ||
        !JoinPath(path, sizeof path, folder, kLockName)) {
        return -1;
    }
    int lock = open(new_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (lock < 0) return -1;
    if (flock(lock, LOCK_EX | LOCK_NB) != 0 || rename(new_path, path) != 0) {
        close(lock);
        unlink(new_path);
        return -1;
    }
    return lock;
}

// The record of the new response file: a first line that only this format
// has, the device and inode of the file's folder, and the file's absolute
// path, each line ended. An earlier format's record (a bare path, which may
// be relative to a folder no later run knows) has no first line and names
// nothing.
const char kRecordTag[] = "qarvik-replacement 2\n";

// What a gone run recorded as its new response file: removed when the
// folder at the recorded path is still the folder the run wrote in (its
// device and inode) and the file in it is still a regular file of this
// user's. A cut record lacks its last line end and names nothing.
void RemoveRecordedReplacement(int lock) {
    char record[kPathSize + 128];
    ssize_t length = pread(lock, record, sizeof record - 1, 0);
    if (length <= 0 || record[length - 1] != '\n') return;
    record[length - 1] = '\0';
    const size_t tag_length = sizeof kRecordTag - 1;
    if (static_cast<size_t>(length) <= tag_length ||
        std::strncmp(record, kRecordTag, tag_length) != 0) {
        return;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    int path_start = 0;
    if (std::sscanf(record + tag_length, "%llu %llu\n%n", &device, &inode, &path_start) != 2 ||
        path_start == 0) {
        return;
    }
    char* path = record + tag_length + path_start;
    char* slash = std::strrchr(path, '/');
    if (path[0] != '/' || slash == nullptr || slash[1] == '\0') return;
    *slash = '\0';
    int folder = open(path == slash ? "/" : path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    struct stat info {};
    if (fstat(folder, &info) == 0 && info.st_dev == device && info.st_ino == inode &&
        fstatat(folder, slash + 1, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == geteuid()) {
        unlinkat(folder, slash + 1, 0);
    }
    close(folder);
}

// The files of a gone run's folder: its work files, its slots' files, the
// tools' own files and the socket its resident interpreter served on, all
// made by the run; anything else stays, and with it the folder.
void RemoveGoneRunsFiles(const char* folder) {
    DIR* entries = opendir(folder);
    if (entries == nullptr) return;
    while (const dirent* entry = readdir(entries)) {
        char path[kPathSize];
        if (std::strcmp(entry->d_name, kLockName) == 0) continue;
        if (!JoinPath(path, sizeof path, folder, entry->d_name)) continue;
        struct stat info {};
        if (lstat(path, &info) == 0 && (S_ISREG(info.st_mode) || S_ISSOCK(info.st_mode))) {
            unlink(path);
        }
    }
    closedir(entries);
}

// A folder named as this program names its work folders, of this user's,
// not a link.
bool LooksLikeWorkFolder(const char* temp_directory, const char* name, char* folder,
                         size_t size) {
    if (std::strncmp(name, kFolderPrefix, sizeof kFolderPrefix - 1) != 0) return false;
    if (std::strlen(name) != sizeof kFolderPrefix - 1 + kFolderUniqueLength) return false;
    if (!JoinPath(folder, size, temp_directory, name)) return false;
    struct stat info {};
    return lstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

// Removes the folder when its lock can be taken: its run is gone. A folder
// without a lock file (one being made this moment) is left alone.
void RemoveIfAbandoned(const char* folder) {
    char path[kPathSize];
    if (!JoinPath(path, sizeof path, folder, kLockName)) return;
    int lock = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0) return;
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {  // its run is still going
        close(lock);
        return;
    }
    RemoveRecordedReplacement(lock);
    RemoveGoneRunsFiles(folder);
    unlink(path);
    rmdir(folder);
    close(lock);
}

}  // namespace

// Held without close-on-exec on purpose: see the top of the file.
bool TakeRunLock(const char* folder) {
    g_lock = TakeLock(folder);
    return g_lock >= 0;
}

void OsReleaseRunLock() {
    if (g_lock < 0) return;
    close(g_lock);
    g_lock = -1;
}

// The record names the new file by an absolute path and its folder by
// device and inode, so that a later run, from whatever folder, removes this
// file and no other of its name. One that cannot be made or written (a full
// disk) only means that a later run cannot clean up after this one, should it
// be killed.
void OsRecordReplacement(const char* new_path) {
    if (g_lock < 0) return;
    if (ftruncate(g_lock, 0) != 0 || new_path[0] == '\0') return;
    const char* slash = std::strrchr(new_path, '/');
    const char* name = slash != nullptr ? slash + 1 : new_path;
    char folder[kPathSize];
    if (slash == nullptr) {
        std::snprintf(folder, sizeof folder, ".");
    } else if (slash == new_path) {
        std::snprintf(folder, sizeof folder, "/");
    } else {
        std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - new_path), new_path);
    }
    char absolute[PATH_MAX];
    struct stat info {};
    if (realpath(folder, absolute) == nullptr || stat(absolute, &info) != 0) return;
    char record[kPathSize + 128];
    int length = std::snprintf(record, sizeof record, "%s%llu %llu\n%s%s%s\n", kRecordTag,
                               static_cast<unsigned long long>(info.st_dev),
                               static_cast<unsigned long long>(info.st_ino), absolute,
                               std::strcmp(absolute, "/") == 0 ? "" : "/", name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof record) return;
    if (pwrite(g_lock, record, static_cast<size_t>(length), 0) != length) {
        if (ftruncate(g_lock, 0) != 0) {
            // A cut record lacks its line end and removes nothing anyway.
        }
    }
}

void OsRemoveAbandonedWorkFolders(const char* temp_directory) {
    DIR* entries = opendir(temp_directory);
    if (entries == nullptr) return;
    while (const dirent* entry = readdir(entries)) {
        char folder[kPathSize];
        if (LooksLikeWorkFolder(temp_directory, entry->d_name, folder, sizeof folder)) {
            RemoveIfAbandoned(folder);
        }
    }
    closedir(entries);
}
