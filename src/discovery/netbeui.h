// NetBEUI stage: the computers of the browse list and their MAC addresses.
#pragma once

void GetNetBeuiInfo();
