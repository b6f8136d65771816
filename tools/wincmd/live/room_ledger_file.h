// The ledger that the probes of one run share (RoomLedger, neighbour_room.h):
// a file named neighbour_room in the run's private work folder, read and
// written under flock. A process whose report is not a regular file, or that
// cannot lock the file, keeps a ledger of its own instead.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "live/neighbour_room.h"

struct RoomLedgerFile {
    std::string Path;  // empty: the process counts alone
    int Descriptor = -1;
    RoomLedger Own{};
};

// The ledger's path in the folder of the regular file open as report; empty
// when report is anything else.
std::string LedgerPathForReport(FILE* report);

// The ledger's path in the folder of work_file; empty when it names none.
std::string LedgerPathBeside(const std::string& work_file);

// Runs change on the shared ledger under its lock, or on the process's own
// when it has none or cannot lock it.
void ChangeLedger(RoomLedgerFile* file, const std::function<void(RoomLedger*)>& change);

// Closes the file, if open; the ledger itself stays for the other members.
void CloseLedger(RoomLedgerFile* file);
