#include "discovery/own_host.h"

// Not built yet.
void GetOwnHost() {}
