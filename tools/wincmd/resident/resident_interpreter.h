// The run's resident interpreter: one wincmd-tools process per run that
// takes the commands of the wincmd launchers on a socket in the run's work
// folder and runs each in a worker process forked from itself, which serves
// later commands too, so that a command costs a request rather than the
// start of a program.
#pragma once

// What runs one command line: wincmd's own main, given the command's
// arguments. Its status becomes the command's exit status.
using CommandEntry = int (*)(int argc, char** argv);

// Starts the run's resident interpreter in a process of its own, unless the
// run has one or it cannot serve here (no work folder, a path too long for a
// socket, a kernel without process handles); returns at once either way. It
// serves while the process that started this one (the run) lives.
void StartResidentInterpreter(CommandEntry run_command);
