#include "discovery/netbeui.h"

// Not built yet.
void GetNetBeuiInfo() {}
