// The MAC lines of the adapter report, taken adapter block by adapter block:
// an address takes the MAC of its own adapter, never that of an adapter
// without an address (disconnected) listed before it.
#pragma once

// Writes output_path with one line for each line of report_path that holds
// ip_label: the last line holding mac_label in the same adapter block, up to
// and including that line, or mac_column blanks when the block has none. Every
// line written ends with a line end. A block starts at each line whose first
// character is not a blank, a TAB, a CR or the line end (an adapter heading).
// The files are opened as FilterLines opens them.
void WriteBlockMacLines(const char* report_path, const char* mac_label, const char* ip_label,
                        int mac_column, const char* output_path);
