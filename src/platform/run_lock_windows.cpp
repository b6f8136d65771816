// The run's lock in its work folder, the removal of the folders that killed
// runs left behind, and the room left on the work folder's disk. The lock is
// the lock file held open without sharing for the run's whole life: a later
// run that can open it so belongs to no running program. Only calls that
// Windows 95 and NT 4.0 both provide.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_windows.h"

namespace {

const char kFolderPattern[] = "qarvik-*";
constexpr size_t kPathSize = MAX_PATH + 4096;
constexpr DWORD kRecordSize = 4096 + 64;

HANDLE g_lock = INVALID_HANDLE_VALUE;
char g_work_folder[kPathSize];

bool JoinPath(char* path, size_t size, const char* folder, const char* name) {
    size_t length = std::strlen(folder);
    bool separated = length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/');
    int written = std::snprintf(path, size, "%s%s%s", folder, separated ? "" : "\\", name);
    return written > 0 && static_cast<size_t>(written) < size;
}

// Opened without sharing: fails while the run that made it holds it.
HANDLE OpenUnshared(const char* path, DWORD creation) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether path names its drive and root (C:\...) or a share (\\host\...).
bool IsAbsolutePath(const char* path) {
    const bool drive_root = path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool share = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    return drive_root || share;
}

// What a gone run recorded as its new response file, when the record is
// whole (it ends with its line end; a cut one could name another file).
void RemoveRecordedReplacement(HANDLE lock) {
    char recorded[kRecordSize];
    DWORD length = 0;
    if (!ReadFile(lock, recorded, sizeof recorded - 1, &length, nullptr)) return;
    if (length <= 1 || recorded[length - 1] != '\n') return;
    recorded[length - 1] = '\0';
    if (!IsAbsolutePath(recorded)) return;  // a relative record names a file of another folder here
    DWORD attributes = GetFileAttributesA(recorded);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return;
    }
    DeleteFileA(recorded);
}

// The files of a gone run's folder, all made by the run and its tools; a
// folder inside it stays, and with it the folder.
void RemoveGoneRunsFiles(const char* folder) {
    char pattern[kPathSize];
    if (!JoinPath(pattern, sizeof pattern, folder, "*")) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        char path[kPathSize];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (std::strcmp(found.cFileName, RUN_LOCK_NAME) == 0) continue;
        if (JoinPath(path, sizeof path, folder, found.cFileName)) DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveIfAbandoned(const char* folder) {
    char path[kPathSize];
    if (!JoinPath(path, sizeof path, folder, RUN_LOCK_NAME)) return;
    HANDLE lock = OpenUnshared(path, OPEN_EXISTING);
    if (lock == INVALID_HANDLE_VALUE) return;  // still running, or no lock of ours
    RemoveRecordedReplacement(lock);
    RemoveGoneRunsFiles(folder);
    CloseHandle(lock);
    DeleteFileA(path);
    RemoveDirectoryA(folder);
}

// The root of the disk a path is on, as GetDiskFreeSpaceA wants it on
// Windows 95: "C:\" or "\\server\share\"; "" for a relative path.
void RootOf(const char* path, char* root, size_t size) {
    root[0] = '\0';
    if (path[0] != '\0' && path[1] == ':') {
        std::snprintf(root, size, "%.2s\\", path);
        return;
    }
    if (path[0] != '\\' || path[1] != '\\') return;
    const char* share = std::strchr(path + 2, '\\');
    const char* end = share != nullptr ? std::strchr(share + 1, '\\') : nullptr;
    if (end != nullptr) std::snprintf(root, size, "%.*s", static_cast<int>(end + 1 - path), path);
}

}  // namespace

bool TakeRunLock(const char* folder) {
    char path[kPathSize];
    if (!JoinPath(path, sizeof path, folder, RUN_LOCK_NAME)) return false;
    g_lock = OpenUnshared(path, CREATE_NEW);
    if (g_lock == INVALID_HANDLE_VALUE) return false;
    std::snprintf(g_work_folder, sizeof g_work_folder, "%s", folder);
    return true;
}

void OsReleaseRunLock() {
    if (g_lock == INVALID_HANDLE_VALUE) return;
    CloseHandle(g_lock);
    g_lock = INVALID_HANDLE_VALUE;
}

// The record is the file's full path and a line end, so that a later run
// started in another folder removes this file, not a same-named one of its
// own; one that cannot be written only means a later run cannot clean up
// after this one.
void OsRecordReplacement(const char* new_path) {
    if (g_lock == INVALID_HANDLE_VALUE) return;
    char full_path[kRecordSize];
    char* file_part = nullptr;
    const DWORD full_length = GetFullPathNameA(new_path, sizeof full_path, full_path, &file_part);
    char record[kRecordSize];
    int length = std::snprintf(record, sizeof record, "%s\n", full_path);
    SetFilePointer(g_lock, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(g_lock);
    if (new_path[0] == '\0' || full_length == 0 || full_length >= sizeof full_path || length < 0 ||
        static_cast<size_t>(length) >= sizeof record) {
        return;
    }
    DWORD written = 0;
    if (!WriteFile(g_lock, record, static_cast<DWORD>(length), &written, nullptr) ||
        written != static_cast<DWORD>(length)) {
        SetFilePointer(g_lock, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(g_lock);
    }
}

void OsRemoveAbandonedWorkFolders(const char* temp_directory) {
    char pattern[kPathSize];
    if (!JoinPath(pattern, sizeof pattern, temp_directory, kFolderPattern)) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        char folder[kPathSize];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if (JoinPath(folder, sizeof folder, temp_directory, found.cFileName)) {
            RemoveIfAbandoned(folder);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The tools' reports reach the disk through redirections the interpreter
// makes, and their write errors reach no one: a disk with no free cluster
// after a command has lost its report, or will lose the next one.
void CheckWorkFolderRoom() {
    char root[MAX_PATH];
    RootOf(g_work_folder, root, sizeof root);
    DWORD sectors = 0, bytes = 0, free_clusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(root[0] != '\0' ? root : nullptr, &sectors, &bytes, &free_clusters,
                           &clusters)) {
        return;
    }
    if (free_clusters == 0) NoteLostWorkFileReason(WindowsErrorText(ERROR_DISK_FULL));
}

const char* WindowsErrorText(DWORD code) {
    static char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    if (length == 0) {
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(code));
    } else {
        text[length] = '\0';
    }
    return text;
}

void NoteWindowsError(DWORD code) { NoteSystemReason(WindowsErrorText(code)); }
