// The pieces every report is written with: lines, dot-leader fields, padded
// columns, connection names and masks, and the texts of addresses and names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/tool_context.h"

// Writes text and a Windows line end. The tools' reports are byte strings that
// may hold any byte, so nothing stops at a NUL.
void PutLine(FILE* out, const std::string& text);
// The reason of the first write of PutLine to out that failed, taken at that
// write (later calls change errno); 0 when none has. Forgotten once taken.
int TakeWriteError(FILE* out);

// An "  Label . . . . : value" line whose value starts exactly at column (a
// byte offset): dot leaders fill the room between label and colon.
std::string FieldLine(int indent, const std::string& label, int column, const std::string& value);

// The same from the line's start (indentation and label, in bytes), with the
// colon at colon_column. The leader's dots stand on columns of one parity, so
// the leaders of all lines line up, and end as leader says.
std::string LeaderLine(const std::string& start, size_t colon_column, ColonLeader leader,
                       const std::string& value);

// The name of an own adapter's connection from version 6 on ("Ethernet 2"),
// numbered by its place among the machine's adapters.
std::string ConnectionName(const ToolContext& context, size_t index, AdapterKind kind);

// The classful mask of an address (0.0.0.0 for a disconnected adapter): the
// simulated network knows no other.
std::string ClassfulMask(uint32_t address);

// text padded with blanks to width bytes; always at least one blank follows.
std::string PadRight(const std::string& text, size_t width);
