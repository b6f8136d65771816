// The removal of the run's work folder on POSIX systems: every file in it,
// whatever put it there, then the folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

// The names in a folder as the kernel lists them (linux_dirent64).
struct FolderEntryHead {
    uint64_t Inode;
    int64_t Offset;
    unsigned short Length;
    unsigned char Type;
};

// Removes every file of the folder, whatever put it there, with system calls
// alone: this runs in the interrupt handlers too. Subfolders stay.
void RemoveEveryFileButFolders(const char* path) {
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    alignas(8) char entries[4096];
    long length = 0;
    while ((length = syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0) {
        for (long offset = 0; offset < length;) {
            FolderEntryHead head;
            std::memcpy(&head, entries + offset, sizeof head);
            const char* name = entries + offset + offsetof(FolderEntryHead, Type) + 1;
            if (head.Type != DT_DIR) unlinkat(folder, name, 0);
            offset += head.Length;
        }
    }
    close(folder);
}

}  // namespace

// A run that ends at its first command can end while the resident
// interpreter that command started is still binding its socket here: a file
// made between the emptying and the rmdir is taken by another pass. The
// interpreter makes that one file only, so a few passes are enough.
bool OsRemoveFolder(const char* path) {
    for (int pass = 0; pass < 3; ++pass) {
        RemoveEveryFileButFolders(path);
        if (rmdir(path) == 0 || errno == ENOENT) return true;
        if (errno != ENOTEMPTY && errno != EEXIST) return false;
    }
    return false;
}
