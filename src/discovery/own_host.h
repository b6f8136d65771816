// Own-host stage: the machine's own addresses as the first rows of the host table.
#pragma once

// Ends the process with status 0, its work folder removed, when the machine has
// no valid own address.
void GetOwnHost();
