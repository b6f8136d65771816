// The command interpreter of the simulated Windows machine: one command line,
// its output redirections, and the command it names.
#pragma once

#include <string>

// Runs the command line and returns its exit status.
int RunCommandLine(const std::string& text);
