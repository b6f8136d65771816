// The command line: fills RunSettings from the arguments, echoes them and
// completes the mask from the class.
#pragma once

// Ends the process with status 0 after the usage text on /? or a wrong argument.
void ParseCommandLine(int argc, char** argv);

void PrintUsage();
