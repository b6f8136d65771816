// What the Windows side of the platform seam shares between its files.
#pragma once

#include <windows.h>

// The system's text for a Win32 error code, without its line end.
const char* WindowsErrorText(DWORD code);
// Notes it as the reason for the failure reported next.
void NoteWindowsError(DWORD code);
// Notes a lost work file when the work folder's disk has no free cluster left.
void CheckWorkFolderRoom();
