// The node-status sweep of live net view: one request to each address of the
// connected subnets, a bounded number awaiting an answer at once, so that the
// kernel's neighbour table (one entry per address asked, shared by the whole
// machine) never fills with the sweep's entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "live/netbios/netbios.h"

// How many requests await an answer at once, and how long each is awaited: a
// /24 takes two rounds of this bound, a /20 about 32, of at most that time.
constexpr size_t kSweepInFlight = 128;
constexpr auto kSweepAnswerTime = std::chrono::milliseconds(1000);

// Sends a node-status request to port 137 of each address, in order, as
// answers and time-outs make room; every answer to one of them joins answers.
// Ends when each request has been answered or awaited kSweepAnswerTime, so
// about that long after the last request at most. Each request takes room in
// the neighbour table as every live probe does (neighbour_room.h), and while the
// table has none the next request waits for room, a minute at most. False
// with the reason when the socket cannot be opened, a request not sent, or
// the room's ledger not reached.
bool SweepNodeStatus(NeighbourRoom* room, const std::vector<uint32_t>& addresses,
                     std::vector<NodeStatus>* answers, std::string* error);
