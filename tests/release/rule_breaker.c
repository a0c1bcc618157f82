// A program that breaks every shipping rule the PE check enforces, so that the check
// is seen to refuse it: console subsystem, a DLL outside the allowed set (VERSION), a function
// of an allowed DLL that is not on the list (GetUserNameA),
// InitCommonControls imported by name, and no icons.
#include <windows.h>
#include <commctrl.h>

int main(void)
{
    char name[64];
    DWORD size = sizeof name;
    InitCommonControls();
    if (!GetFileVersionInfoSizeA("kernel32.dll", NULL)) return 2;
    return GetUserNameA(name, &size) ? 0 : 1;
}
