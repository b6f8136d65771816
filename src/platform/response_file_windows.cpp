// The response file's side of the Windows platform seam: which way a path is
// written, whether it can be, and the new file that replaces it.
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_windows.h"

namespace {

// The attributes a replacement takes over from the file it replaces.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A name beside target that only this run uses: target, the process id and a
// tag.
bool NameBeside(const char* target, const char* tag, char* path, size_t size) {
    int length = std::snprintf(path, size, "%s.%lx.%s", target,
                               static_cast<unsigned long>(GetCurrentProcessId()), tag);
    return length >= 0 && static_cast<size_t>(length) < size;
}

// The folder a path's file is in: "." for a bare name, "C:." for "C:name".
void FolderOf(const char* path, char* folder, size_t size) {
    const char* end = nullptr;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':') end = c;
    }
    if (end == nullptr) {
        std::snprintf(folder, size, ".");
    } else if (*end == ':') {
        std::snprintf(folder, size, "%.*s.", static_cast<int>(end + 1 - path), path);
    } else {
        std::snprintf(folder, size, "%.*s", static_cast<int>(end + 1 - path), path);
    }
}

}  // namespace

// A file on a disk (or none yet) is replaced; a device (NUL, CON, a port) or
// a pipe is written in place.
ResponseFileKind OsResponseFileKind(const char* path, char* target, size_t size) {
    std::snprintf(target, size, "%s", path);
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return RESPONSE_FILE_REPLACED;
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_DISK ? RESPONSE_FILE_REPLACED : RESPONSE_FILE_IN_PLACE;
}

bool OsCanWriteFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    DWORD error = GetLastError();
    NoteWindowsError(error);
    if (error != ERROR_FILE_NOT_FOUND) return false;
    char folder[MAX_PATH + 1024];
    FolderOf(path, folder, sizeof folder);
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) NoteWindowsError(GetLastError());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::FILE* OsCreateReplacement(const char* target, char* new_path, size_t size) {
    if (!NameBeside(target, "new", new_path, size)) {
        NoteWindowsError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::FILE* file = std::fopen(new_path, "wb");
    if (file == nullptr) NoteSystemError(errno);
    return file;
}

bool OsCloseToDisk(std::FILE* file) {
    bool written = std::fflush(file) == 0 &&
                   FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    return std::fclose(file) == 0 && written;
}

namespace {

using MoveFileExFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);

// MoveFileExA where the system has it (the NT family): Windows 95 has none,
// so it is looked up when the program runs, not imported.
MoveFileExFunction FindMoveFileEx() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<MoveFileExFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "MoveFileExA")));
}

constexpr DWORD kMaxAsideNames = 100;

// Moves target aside under a name beside it that no file holds yet: a ".old"
// that an earlier run left after a crash is never overwritten (it may be the
// only copy of an inventory) and never blocks this run.
bool MoveAside(const char* target, char* old_path, size_t size) {
    for (DWORD k = 0; k < kMaxAsideNames; ++k) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%lu.old", static_cast<unsigned long>(k));
        if (!NameBeside(target, tag, old_path, size)) return false;
        if (MoveFileA(target, old_path)) return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// Moves the new file over target in one step, where the system can; false
// (target untouched) where it cannot.
bool MoveOver(const char* new_path, const char* target) {
    MoveFileExFunction move_file_ex = FindMoveFileEx();  // once a run: no need to keep it
    return move_file_ex != nullptr &&
           move_file_ex(new_path, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

// The NT family moves the new file over the old one in one step. Windows 95
// cannot: the old file moves aside first, the new one takes its name, and
// the old one goes; when the new one cannot move in, the old one moves back,
// and when even that fails stranded says where it is. A read-only old file
// takes the second way too, since the one-step move refuses it.
bool OsReplaceFile(const char* new_path, const char* target, char* stranded, size_t size) {
    DWORD old_attributes = GetFileAttributesA(target);
    if (old_attributes == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileA(new_path, target)) return true;
        NoteWindowsError(GetLastError());
        return false;
    }
    DWORD kept = old_attributes & kKeptAttributes;
    if ((old_attributes & FILE_ATTRIBUTE_READONLY) == 0 && MoveOver(new_path, target)) {
        SetFileAttributesA(target, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    char old_path[MAX_PATH + 4096];
    if (!MoveAside(target, old_path, sizeof old_path)) {
        NoteWindowsError(GetLastError());
        return false;
    }
    if (!MoveFileA(new_path, target)) {
        NoteWindowsError(GetLastError());
        if (!MoveFileA(old_path, target)) std::snprintf(stranded, size, "%s", old_path);
        return false;
    }
    SetFileAttributesA(target, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    // The new inventory is in place; an old copy that will not go stays
    // beside it under its own name, and blocks nothing.
    SetFileAttributesA(old_path, FILE_ATTRIBUTE_NORMAL);  // a read-only file cannot be deleted
    DeleteFileA(old_path);
    return true;
}
