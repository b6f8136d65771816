// Other-hosts stage: sweeps the subnet with ping and arp and adds the hosts found.
#pragma once

void GetOtherHosts();

// Runs the resolving ping and the ARP query for one address.
void ProbeAddress(const char* address);

// The two harvest passes over the sweep's reports, run by GetOtherHosts after
// the sweep; declared here so they can be timed on their own.
//
// Pass 1: adds a row for every resolved ping whose address no row holds yet,
// from row next_row on. Returns the next free row, or -1 when the filtered ping
// lines cannot be read (the error is printed).
int HarvestResolvedNames(int next_row);
// Pass 2: gives known addresses their MAC from the ARP cache and adds a row for
// every other one, from row next_row on, then sets HostCount. False when the
// filtered ARP lines cannot be read (the error is printed, HostCount untouched).
bool HarvestArpCache(int next_row);
