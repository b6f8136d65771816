// Text files as Windows text mode reads and writes them, byte for byte the same
// on every platform: a CR LF pair reads as LF, a Ctrl-Z ends the text, and every
// LF written reaches the file as CR LF.
#pragma once

#include <cstdio>

// Opens for reading or for writing (created or emptied); nullptr on failure.
FILE* OpenTextForRead(const char* path);
FILE* OpenTextForWrite(const char* path);

// Reads one piece like fgets with a buffer of size bytes: at most size - 1 bytes,
// ending after the first line end, always NUL-terminated. False at the end of
// the text when nothing was read.
bool ReadTextLine(char* buffer, int size, FILE* file);

// Writes text, each LF as CR LF. False when the write fails.
bool WriteText(FILE* file, const char* text);
