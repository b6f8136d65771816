// A Windows program that imports what the list of allowed imports leaves out:
// a KERNEL32 function that Windows 95 and NT 4.0 lack, and a function of a
// library the list does not name. The import check must refuse it.
#define _WIN32_WINNT 0x0600
#include <windows.h>

int main() {
    ULONGLONG now = GetTickCount64();
    if (now == 0) MessageBoxA(nullptr, "", "", MB_OK);
    return 0;
}
