// The command line: fills RunSettings from the arguments, echoes them and
// completes the mask from the class.
#pragma once

// Ends the process with status 0 after the usage text on /?, --help or -h as
// the first argument, or on a wrong argument.
void ParseCommandLine(int argc, char** argv);

// --version as the first argument: prints the version and the licence line
// and ends the process with status 0, before the banner; else returns.
void AnswerVersionRequest(int argc, char** argv);

void PrintUsage();
