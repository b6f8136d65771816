#include "shell/interpreter_messages.h"

// QARVIK_VERSION: the project's version, from the build.
const char MSG_WINCMD_VERSION[] = "wincmd " QARVIK_VERSION "\n";
const char MSG_WINCMD_LICENCE[] =
    "Copyright 2026 Qarvik maintainers. License: MIT, without warranty.\n";
const char MSG_WINCMD_USAGE[] = "usage: wincmd /c \"<command line>\"\n";
const char MSG_WINCMD_NO_PROGRAM[] = "wincmd: cannot start the interpreter program wincmd-tools\n";
const char MSG_WINCMD_INTERPRETER_LOST[] =
    "wincmd: the run's resident interpreter ended before the command did\n";
const char MSG_WINCMD_NOT_THE_INTERPRETER[] =
    "wincmd: the socket in the run's work folder is not the run's interpreter: "
    "nothing sent\n";
