#include "discovery/computer_names.h"

// Not built yet.
void GetComputerNames() {}
