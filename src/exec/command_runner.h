// Running the platform's tools, and cutting the lines that matter out of their
// reports: a tool writes a work file, FilterLines copies its marker lines to a
// second work file, and a stage parses that one.
#pragma once

#include <cstddef>
#include <cstdio>

#include "state/run_state.h"

// Large enough for the longest command line the program builds: at most 32
// bytes of fixed text (a tool name, its switches, a five-digit time-out and a
// redirection), a computer name or an address, and a quoted work-file path.
constexpr size_t COMMAND_SIZE = 32 + NAME_SIZE + WORK_PATH_SIZE + 2;

// A command line under construction; appending never cuts (the buffer holds
// the longest command the program builds).
struct CommandLine {
    char Text[COMMAND_SIZE];
    size_t Length;
};

void CommandStart(CommandLine* command, const char* text);
void CommandAppend(CommandLine* command, const char* text);
// Appends a path, in double quotes when it holds a blank or any of & | < > ^
// (a path never holds a double quote: such a temp directory is refused).
void CommandAppendPath(CommandLine* command, const char* path);

// Runs one command line through the command interpreter and waits for it;
// its exit status (-1: it could not start).
int RunCommand(const char* text);

// Runs "del " and the path.
void DeleteWorkFile(const char* path);

// Open a work file that a tool may still be writing: up to 100 attempts 300 ms
// apart, then a message naming the path and nullptr.
FILE* OpenForReadWithRetries(const char* path);
FILE* OpenForWriteWithRetries(const char* path);

// Closes a work file the program wrote. One that did not reach the disk whole
// (a write that failed, a full disk at the last flush) is noted as a lost
// work file, which ends the run after its stage.
void CloseWorkFile(FILE* file);

// Copies every line of input_path that contains marker anywhere into
// output_path (created or emptied), each line whole however long it is and
// once, opening each file with up to 100 attempts 300 ms apart.
void FilterLines(const char* input_path, const char* marker, const char* output_path);
