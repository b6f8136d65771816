// Response file: the host table as comma-separated lines.
#pragma once

// A file that cannot be opened or written makes the run's exit status 2.
void WriteResponseFile();
