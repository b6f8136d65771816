// Text files as Windows text mode reads and writes them, byte for byte the same
// on every platform: a CR LF pair reads as LF, and every LF written reaches the
// file as CR LF. Nothing else is changed: a Ctrl-Z byte is data like any other,
// since reports carry names that the network chose.
#pragma once

#include <cstdio>

// Opens for reading or for writing (created or emptied); nullptr on failure.
FILE* OpenTextForRead(const char* path);
FILE* OpenTextForWrite(const char* path);

// Reads one piece like fgets with a buffer of size bytes: at most size - 1 bytes,
// ending after the first line end, always NUL-terminated. Returns the bytes
// read (NUL bytes of the text included); 0 at the end of the text.
int ReadTextPiece(char* buffer, int size, FILE* file);

// The same as a truth value: false at the end of the text.
bool ReadTextLine(char* buffer, int size, FILE* file);

// Reads one whole line, keeping its first piece (at most size - 1 bytes) and
// skipping the rest of a longer line, so a line counts once however long it
// is and its tail never reads as a line of its own. False at the end.
bool ReadTextLineStart(char* buffer, int size, FILE* file);

// Writes text, each LF as CR LF. False when the write fails.
bool WriteText(FILE* file, const char* text);
