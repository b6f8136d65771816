// The seam between Qarvik and the operating system. Everything the program asks
// of the platform goes through these functions: the Windows build answers them
// with the Win32 API, other systems with the stand-in platform (wincmd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "contract/windows_version.h"
#include "contract/work_folder.h"

// False when the version cannot be read.
bool PlatformGetVersion(PlatformVersion* version);

// The code page the tools of version 6 and later print their reports in: the
// console's output code page.
uint32_t PlatformGetReportCodePage();

// The temp directory, ending with its separator, as a NUL-terminated text of
// at most size - 1 bytes.
void PlatformGetTempDirectory(char* directory, size_t size);

// The run's private work folder. Makes a new folder inside temp_directory,
// named "qarvik-" and a unique part (mode 0700 where the platform has modes),
// and gives its path ending with the separator. From then on an interrupted
// run (Ctrl-C, Ctrl-Break; on POSIX also SIGQUIT, SIGHUP, SIGTERM, SIGPIPE)
// removes the watched files and the folder before the process ends as the
// platform ends an interrupted program. On POSIX systems the run's commands
// find the folder in the environment variable kWorkFolderVariable. False when
// no folder can be made there.
bool PlatformMakeWorkFolder(const char* temp_directory, char* folder, size_t size);
// Removes the work folders that earlier runs in temp_directory left behind
// when they were killed, and the new response files those runs were writing:
// only a folder whose run lock is no longer held, and only what such a run
// made. A folder of a run still going holds its lock and stays.
void PlatformRemoveAbandonedWorkFolders(const char* temp_directory);
// Adds a file of the folder, by its path, to what the removal takes away
// (once, however often it is named).
void PlatformWatchWorkFile(const char* path);
// Removes the watched files that still exist, then the folder with whatever
// else the tools left in it, directly and without a command, and ends the
// watch. Nothing happens when no folder is made.
void PlatformRemoveWorkFolder();

// The response file. A regular file, or a path that names none yet, is
// replaced in one step: the rows go into a new file beside it, which takes
// its place once complete, so that under its name there is at every moment
// either the old whole file or the new one. Anything else (a device, a pipe)
// is written in place. A symbolic link is followed: the file it names is
// replaced and the link stays.
enum ResponseFileKind {
    RESPONSE_FILE_REPLACED,     // target: the file that the new one replaces
    RESPONSE_FILE_IN_PLACE,     // written where it is, as it is opened
    RESPONSE_FILE_REWRITTEN,    // a regular file written where it is (its folder
                                // takes no new file): its old bytes are put back
                                // when the new ones cannot be written
};
// Which way path is written; target gets the path to replace (the file a link
// names), at most size - 1 bytes.
ResponseFileKind PlatformResponseFileKind(const char* path, char* target, size_t size);
// Whether path can be written: an existing file is opened for writing without
// a change; for a new one, its folder must take files.
bool PlatformCanWriteFile(const char* path);
// Makes the new file beside target, with the permission bits of the file it
// replaces, open for writing in binary mode; new_path gets its name. Until it
// is put in place or discarded an interrupted run removes it. nullptr when
// the folder takes no new file.
std::FILE* PlatformCreateReplacement(const char* target, char* new_path, size_t size);
// Writes what the stream holds through to the disk, and closes it; false on
// any error (a full disk).
bool PlatformCloseToDisk(std::FILE* file);
// Puts the new file in target's place. False (new file removed) when it
// cannot: target is then as it was, or, when the old file could not be put
// back under its name, stranded gets where it is (else it is emptied).
bool PlatformReplaceFile(const char* new_path, const char* target, char* stranded, size_t size);
// Removes a new file that will not be put in place.
void PlatformDiscardReplacement(const char* new_path);

// The system's reason for the failure the program reports next: noted where
// the failure is seen, said on standard error after the program's own message
// as "qarvik: SUBJECT: REASON", and forgotten once said.
void NoteSystemError(int error_number);     // an errno value
void NoteSystemReason(const char* reason);  // a text the platform worded
void PlatformSayReason(const char* subject);

// A work file that a tool's report or the program itself could not write
// whole (a full disk, a quota): the first such failure's reason is kept for
// the run driver, which ends the run without an inventory. nullptr while
// every work file was written whole.
void NoteLostWorkFile(int error_number);  // an errno value
void NoteLostWorkFileReason(const char* reason);
const char* PlatformLostWorkFileReason();
void ForgetLostWorkFile();  // for a new run state
// A command that ended by a signal, or whose interpreter died under it (the
// stand-in's LOST_REPORT_COMMAND_DIED): its report may be cut short, so it
// counts as a lost work file (unless one was lost first), and the command
// line is kept for the run driver's message.
void NoteLostCommand(const char* command_line, const char* reason);
// The first lost command's line; nullptr while no command was lost (or a work
// file was lost first).
const char* PlatformLostCommand();

// Waits the given milliseconds (or whatever a test put in its place).
void PlatformWait(int milliseconds);

// Whether a command interpreter can be started (the one the platform names,
// or its fallback). When none can, tried gets what was tried, as a
// NUL-terminated text of at most size - 1 bytes. Always true while a test's
// replacement runs the commands.
bool PlatformFindCommandInterpreter(char* tried, size_t size);
// Whether a tool that has returned may still be writing its report at path:
// always on Windows, whose tools before version 6 may return first; on POSIX
// systems only while some process still holds the file open for writing.
bool PlatformReportMayStillBeWritten(const char* path);

// Runs one command line through the command interpreter and returns when it has
// ended, with its exit status (128 and the signal for one ended by a signal,
// -1 when it could not start). Standard output is flushed first so the
// console trace keeps its order. A report the interpreter could not write
// whole is noted as a lost work file; a command ended by a signal, or whose
// interpreter died under it, as a lost command.
int PlatformRunCommand(const char* command_line);

// Starts one command line through the command interpreter without waiting for
// it; standard output is flushed first. Returns the command's id, or -1 when
// it cannot be started (it then counts as a command that ended with no report).
// Up to MAX_STARTED_COMMANDS may be running at once.
int PlatformStartCommand(const char* command_line);
constexpr int MAX_STARTED_COMMANDS = 255;

// Waits until one of the started commands ends and returns its id; -1 when no
// started command is left to wait for. Its end is noted as PlatformRunCommand
// notes it.
int PlatformWaitAnyCommand();

// Ends the process (or hands the status to a test's replacement, which must not
// return normally).
[[noreturn]] void PlatformExit(int status);

// Readies standard output for the console trace. Called once at start. Lines
// end as the platform's text mode ends them: LF on POSIX systems, CR LF on
// Windows.
void PlatformPrepareConsole();

// Formatted console output, flushed at once so progress marks show while the
// tools run.
void ConsolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A console text whose one "%s" stands for text the user typed or the system
// named (an argument, a path), in the character set of the user's locale. A
// terminal shows it as it came; a file or a pipe, where every other text is
// code page 932, gets it converted into code page 932. The rest of the text
// is the program's own, converted as ConsolePrint converts it.
void ConsoleEcho(const char* format, const char* typed);

// Replacements for tests and fuzz targets; nullptr restores the real one.
using WaitHook = void (*)(int milliseconds);
using RunCommandHook = int (*)(const char* command_line);
using ExitHook = void (*)(int status);  // must throw or end the process
using StartCommandHook = int (*)(const char* command_line);
using WaitAnyCommandHook = int (*)();
void SetWaitHook(WaitHook hook);
void SetRunCommandHook(RunCommandHook hook);
void SetStartCommandHook(StartCommandHook hook);
void SetWaitAnyCommandHook(WaitAnyCommandHook hook);
void SetExitHook(ExitHook hook);

// The operating system's own implementations, one file per platform.
bool OsGetVersion(PlatformVersion* version);
uint32_t OsGetReportCodePage();
void OsGetTempDirectory(char* directory, size_t size);
void OsWait(int milliseconds);
bool OsFindCommandInterpreter(char* tried, size_t size);
bool OsFileMayStillBeWritten(const char* path);
int OsRunCommand(const char* command_line);
int OsStartCommand(const char* command_line);
int OsWaitAnyCommand();
void OsPrepareConsole();

// Where console texts go once formatted, when the platform converts them on the
// way out (set by OsPrepareConsole); nullptr, the default, prints them straight
// to standard output.
// typed_writer writes the text that ConsoleEcho hands on, in the set of the
// stream's other texts.
using ConsoleWriter = void (*)(const char* text, size_t length);
void SetConsoleWriter(ConsoleWriter writer, ConsoleWriter typed_writer);

// The work folder's side of the operating system. Hold and release keep the
// interrupt handlers out while the watch list changes (or a tool runs, on
// POSIX); they do not nest.
// Making the folder also takes the run's lock in it, held until
// OsReleaseRunLock (or the process's end).
bool OsMakeWorkFolder(const char* temp_directory, char* folder, size_t size);
void OsReleaseRunLock();  // safe in a signal handler
bool TakeRunLock(const char* folder);  // the lock's half of OsMakeWorkFolder
constexpr char RUN_LOCK_NAME[] = "qarvik.lock";  // in the work folder
// The new response file the run is writing, kept beside its lock so that a
// later run can remove it if this one is killed; "" once it is gone.
void OsRecordReplacement(const char* new_path);
void OsRemoveAbandonedWorkFolders(const char* temp_directory);
void OsHoldInterrupts();
void OsReleaseInterrupts();
void OsCatchInterrupts();  // installs the handlers; called once
void OsRemoveFile(const char* path);
// Removes the folder and every file in it; false when the folder is still there.
bool OsRemoveFolder(const char* path);
// The response file's side (see PlatformResponseFileKind and the others). The
// new file is made, put in place and removed with the interrupt handlers held
// off, so that a handler finds it either watched or gone.
ResponseFileKind OsResponseFileKind(const char* path, char* target, size_t size);
bool OsCanWriteFile(const char* path);
std::FILE* OsCreateReplacement(const char* target, char* new_path, size_t size);
bool OsCloseToDisk(std::FILE* file);
bool OsReplaceFile(const char* new_path, const char* target, char* stranded, size_t size);
// For the interrupt handlers: removes the watched files and the folder with
// nothing but OsRemoveFile and OsRemoveFolder, so it is safe in a signal
// handler. True when no watched folder is left.
bool RemoveWatchedWorkFolder();
