// The ledger that the probes of one run share (RoomLedger, ledger_rules.h):
// a file named neighbour_room in the run's private work folder, read and
// written under flock. The run's folder goes with the run, and the ledger
// with it. The lock is waited for until a deadline: a ledger that cannot be
// locked by then, or cannot be opened, is a failure that the probe reports.
#pragma once

#include <functional>
#include <string>

#include "live/room/ledger_rules.h"
#include "live/kernel/socket.h"

struct RoomLedgerFile {
    std::string Path;
    int Descriptor = -1;
};

// The ledger's path in the run's work folder (which ends with its separator).
std::string LedgerPathInFolder(const std::string& folder);

// Reads the ledger as the file holds it now; a file too short to hold one
// reads as a new ledger, and members beyond what it holds are not read.
void ReadLedger(int descriptor, RoomLedger* ledger);

// Runs change on the ledger under its lock, taken by deadline; false with the
// reason when the file cannot be opened, locked in time, read or written.
bool ChangeLedger(RoomLedgerFile* file, Clock::time_point deadline,
                  const std::function<void(RoomLedger*)>& change, std::string* error);

// Closes the file, if open; the ledger itself stays for the other members.
void CloseLedger(RoomLedgerFile* file);
