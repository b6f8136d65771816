// The removal of the run's work folder on Windows: every file in it,
// whatever put it there, then the folder.
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

// Removes every file of the folder, whatever put it there; subfolders stay.
void RemoveEveryFileButFolders(const char* path) {
    char pattern[MAX_PATH + 2];
    int length = std::snprintf(pattern, sizeof pattern, "%s*", path);
    if (length < 0 || static_cast<size_t>(length) >= sizeof pattern) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        char file[MAX_PATH + 2];
        length = std::snprintf(file, sizeof file, "%s%s", path, found.cFileName);
        if (length > 0 && static_cast<size_t>(length) < sizeof file) DeleteFileA(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

bool OsRemoveFolder(const char* path) {
    RemoveEveryFileButFolders(path);
    return RemoveDirectoryA(path) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}
