// The texts of the stand-in interpreter itself (wincmd-tools) and of its
// launcher (wincmd); the tools' reports are in report_text.
#pragma once

// --version: the name and version, then the licence line, as qarvik's.
extern const char MSG_WINCMD_VERSION[];
extern const char MSG_WINCMD_LICENCE[];
extern const char MSG_WINCMD_USAGE[];  // the stand-in interpreter's usage line
// The wincmd launcher: the interpreter program cannot be started; the run's
// resident interpreter ended while it ran the launcher's command; what
// listens on the run's socket is not the run's interpreter.
extern const char MSG_WINCMD_NO_PROGRAM[];
extern const char MSG_WINCMD_INTERPRETER_LOST[];
extern const char MSG_WINCMD_NOT_THE_INTERPRETER[];
