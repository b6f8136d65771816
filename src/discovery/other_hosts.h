// Other-hosts stage: sweeps the subnet with ping and arp and adds the hosts found.
#pragma once

void GetOtherHosts();

// Runs the resolving ping and the ARP query for one address.
void ProbeAddress(const char* address);
