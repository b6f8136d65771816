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

#include <cstdio>
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

// What a gone run recorded as its new response file: removed when it is
// still a regular file of this user's, as the run made it. A record counts
// only whole, with its line end: a cut one could name another file.
void RemoveRecordedReplacement(int lock) {
    char recorded[kPathSize];
    ssize_t length = pread(lock, recorded, sizeof recorded - 1, 0);
    if (length <= 1 || recorded[length - 1] != '\n') return;
    recorded[length - 1] = '\0';
    struct stat info {};
    if (lstat(recorded, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid()) {
        unlink(recorded);
    }
}

// The files of a gone run's folder: its work files, its slots' files and
// the tools' own file, all made by the run; anything that is not a regular
// file stays, and with it the folder.
void RemoveFolderFiles(const char* folder) {
    DIR* entries = opendir(folder);
    if (entries == nullptr) return;
    while (const dirent* entry = readdir(entries)) {
        char path[kPathSize];
        if (std::strcmp(entry->d_name, kLockName) == 0) continue;
        if (!JoinPath(path, sizeof path, folder, entry->d_name)) continue;
        struct stat info {};
        if (lstat(path, &info) == 0 && S_ISREG(info.st_mode)) unlink(path);
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
    RemoveFolderFiles(folder);
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

// The record is the path and a line end; a failed write (a full disk) only
// means that a later run cannot clean up after this one, should it be killed.
void OsRecordReplacement(const char* new_path) {
    if (g_lock < 0) return;
    char record[kPathSize];
    int length = std::snprintf(record, sizeof record, "%s\n", new_path);
    if (ftruncate(g_lock, 0) != 0 || new_path[0] == '\0') return;
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
