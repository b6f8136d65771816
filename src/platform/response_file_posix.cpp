// The response file's side of the stand-in platform seam: which way a path is
// written, whether it can be, and the new file that replaces it in one step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel follows them

// Follows path's symbolic links to the path they end at (which need not
// exist), as the file system resolves them: a relative link reads from the
// link's own folder. False when the result does not fit.
bool FollowLinks(const char* path, char* target, size_t size) {
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) return false;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (lstat(target, &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        char link[4096];
        ssize_t length = readlink(target, link, sizeof link - 1);
        if (length < 0) return true;
        link[length] = '\0';
        char* slash = std::strrchr(target, '/');
        size_t folder_length = link[0] == '/' || slash == nullptr
                                   ? 0
                                   : static_cast<size_t>(slash + 1 - target);
        if (folder_length + static_cast<size_t>(length) >= size) return false;
        std::memcpy(target + folder_length, link, static_cast<size_t>(length) + 1);
    }
    return true;
}

// The folder a path's file is in: "." for a bare name.
void FolderOf(const char* path, char* folder, size_t size) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::snprintf(folder, size, ".");
    } else if (slash == path) {
        std::snprintf(folder, size, "/");
    } else {
        std::snprintf(folder, size, "%.*s", static_cast<int>(slash - path), path);
    }
}

bool FolderTakesNewFiles(const char* path) {
    char folder[4096];
    FolderOf(path, folder, sizeof folder);
    return access(folder, W_OK | X_OK) == 0;
}

mode_t CurrentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Whether a new file may take target's place: in a sticky folder (/tmp) only
// the file's owner, the folder's owner or root may rename another file over
// it.
bool MayReplace(const char* target) {
    char folder[4096];
    FolderOf(target, folder, sizeof folder);
    struct stat folder_info {};
    struct stat file_info {};
    if (stat(folder, &folder_info) != 0 || (folder_info.st_mode & S_ISVTX) == 0 ||
        stat(target, &file_info) != 0) {
        return true;
    }
    const uid_t user = geteuid();
    if (user == 0 || user == file_info.st_uid || user == folder_info.st_uid) return true;
    NoteSystemError(EPERM);
    return false;
}

}  // namespace

// A regular file (or none yet) in a folder that takes new files is replaced;
// a device, a pipe, or a file whose folder the user may not write in is
// written in place.
ResponseFileKind OsResponseFileKind(const char* path, char* target, size_t size) {
    if (!FollowLinks(path, target, size)) {
        std::snprintf(target, size, "%s", path);
        return RESPONSE_FILE_IN_PLACE;
    }
    struct stat info {};
    bool exists = stat(target, &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) return RESPONSE_FILE_IN_PLACE;
    if (FolderTakesNewFiles(target)) return RESPONSE_FILE_REPLACED;
    return exists ? RESPONSE_FILE_REWRITTEN : RESPONSE_FILE_IN_PLACE;
}

// Opened as the run will open it, without O_TRUNC so that it stays as it is.
// A file written where it is is opened as fopen opens it, with O_CREAT, which
// the kernel refuses for another user's file in a sticky folder where
// fs.protected_regular says so; a file that the run replaces must let a new
// file take its place. A pipe is not opened: closing it again would end the
// input of whoever reads it already.
bool OsCanWriteFile(const char* path) {
    struct stat info {};
    const bool exists = stat(path, &info) == 0;
    if (exists && S_ISFIFO(info.st_mode)) return access(path, W_OK) == 0;
    char target[4096];
    const bool replaced =
        exists && OsResponseFileKind(path, target, sizeof target) == RESPONSE_FILE_REPLACED;
    int file = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | (exists && !replaced ? O_CREAT : 0), 0666);
    if (file >= 0) {
        close(file);
        return !replaced || MayReplace(target);
    }
    if (errno == ENXIO) return true;  // a socket: the write at the end says what it is
    NoteSystemError(errno);
    if (errno != ENOENT) return false;
    if (!FollowLinks(path, target, sizeof target)) return false;
    if (FolderTakesNewFiles(target)) return true;
    NoteSystemError(errno);
    return false;
}

// "<target>.XXXXXX", made by mkstemp (mode 0600), then given the old file's
// owner and permission bits, or a new file's (0666 less the umask).
std::FILE* OsCreateReplacement(const char* target, char* new_path, size_t size) {
    int length = std::snprintf(new_path, size, "%s.XXXXXX", target);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        NoteSystemError(ENAMETOOLONG);
        return nullptr;
    }
    int file = mkstemp(new_path);
    if (file < 0) {
        NoteSystemError(errno);
        return nullptr;
    }
    struct stat old {};
    mode_t mode = 0666 & ~CurrentUmask();
    if (stat(target, &old) == 0) {
        mode = old.st_mode & 07777;
        if (fchown(file, old.st_uid, old.st_gid) != 0) {
            // Only root gives a file away; anyone else keeps it as their own.
        }
    }
    std::FILE* stream = fchmod(file, mode) == 0 ? fdopen(file, "wb") : nullptr;
    if (stream == nullptr) {
        NoteSystemError(errno);
        close(file);
        unlink(new_path);
    }
    return stream;
}

bool OsCloseToDisk(std::FILE* file) {
    bool written = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    return std::fclose(file) == 0 && written;
}

// rename puts the new file in place in one step: the old one is never moved
// aside, so nothing can be stranded.
bool OsReplaceFile(const char* new_path, const char* target, char*, size_t) {
    if (rename(new_path, target) == 0) return true;
    NoteSystemError(errno);
    return false;
}
