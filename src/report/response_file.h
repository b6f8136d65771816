// Response file: the host table as comma-separated lines.
#pragma once

// Before any tool runs: a response file that cannot be written ends the run
// with its message and exit status 2, so no sweep is spent on it.
void CheckResponseFile();

// Replaces the response file with the table's lines (a device or a pipe is
// written in place). A file that cannot be opened or written makes the run's
// exit status 2 and stays as it was; after a stage's error with no host found
// nothing is written and the exit status is 3.
void WriteResponseFile();
