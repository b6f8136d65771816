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

// Looks for texts anywhere in a line that is read in pieces: each piece's text
// joins the end of the one before, so a text that a piece boundary cuts in two
// is still found. A line's text ends at its first NUL byte; pieces after that
// add nothing.
constexpr int LINE_WINDOW_PIECE_SIZE = 512;  // the largest piece it takes
constexpr int LINE_WINDOW_CARRY = 63;        // the longest text looked for, less one
struct LineWindow {
    char Text[LINE_WINDOW_CARRY + LINE_WINDOW_PIECE_SIZE];
    int Length;      // bytes in Text: the end of the pieces before, then the last
    bool TextEnded;  // a NUL byte has ended the line's text
};

// Starts a new line.
void StartLineWindow(LineWindow* window);
// Adds the next piece of the line (read: the bytes ReadTextPiece returned for
// it). False when it adds nothing, the line's text having ended before it.
bool AddLinePiece(LineWindow* window, const char* piece, int read);
// Whether text stands in the last piece added or runs into it from the end of
// the pieces before.
bool LineWindowHolds(const LineWindow& window, const char* text);

// Writes text, each LF as CR LF. False when the write fails.
bool WriteText(FILE* file, const char* text);
