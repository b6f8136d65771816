// Room in the kernel's neighbour table for the probes of a live sweep.
//
// A sweep starts many wincmd processes at once, each probing one address.
// Before its first datagram to an address, a probe waits until the table has
// room for the entry it makes (neighbour_room.h decides how much); the
// processes of one run share their count in a ledger file in the folder of
// the report they write, the run's private work folder, under a lock. How
// long the table's limit held them back is said once, when the run deletes
// its first work file after the sweep (the sweep itself may have no member
// for a moment between two probes, so the last member cannot tell it is the
// last). A process whose report is not a file counts alone and says it when
// it leaves.
//
// Where the process may (CAP_NET_ADMIN, as root), it removes at its end the
// entries its own probes made that never resolved, so that the table holds
// little more than the probes in flight; an entry that was there before the
// probe, or that resolved, is never touched.
//
// Any tool that sends to many addresses (ping, NetBIOS requests) calls
// AwaitNeighbourRoom before its first datagram to an address and
// NeighbourEntryMade after it, and RemoveUnansweredEntry once the answer is in
// or the time-out has passed; a tool that joined calls LeaveNeighbourRoom at
// its end. The calls are safe from several threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "live/socket.h"

// Joins the ledger of the run whose report goes to report, when report is a
// regular file; otherwise the process keeps its count alone.
void JoinNeighbourRoom(FILE* report);

// Leaves the ledger. A process that counted alone writes the slowdown line,
// if any, to errors as "wincmd: TOOL: ...". The last member to leave a shared
// ledger removes it when it has nothing to say.
void LeaveNeighbourRoom(FILE* errors, const char* tool);

// Called as work_file is deleted: when its folder holds a ledger that no
// probe has joined, writes its slowdown line, if any, to errors and removes
// it. So a run says it once, at its end.
void SayNeighbourRoomWaits(const std::string& work_file, FILE* errors);

// Waits until the table has room for the entry that the first datagram to
// address makes, at the latest until deadline (after which the send meets
// the full table itself and waits there). An address let through before in
// this process returns at once.
void AwaitNeighbourRoom(uint32_t address, Clock::time_point deadline);

// The same without waiting, for a tool that has other work meanwhile: true
// when the entry has room now (or address was let through before), false
// when the caller should try again a little later.
bool TryNeighbourRoom(uint32_t address);

// The first datagram to address went (or could not go): its entry is in the
// table's count now.
void NeighbourEntryMade(uint32_t address);

// Once the answer to address is in or its time-out has passed: removes the
// entry this process's probe made when it is still being resolved or
// failed, where the process may; never another entry. The address counts as
// new again afterwards.
void RemoveUnansweredEntry(uint32_t address);
