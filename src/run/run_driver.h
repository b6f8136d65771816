// The run driver: the one fixed sequence of a run, from banner to exit.
#pragma once

// Never returns: every path ends the process.
[[noreturn]] void RunDriver(int argc, char** argv);
