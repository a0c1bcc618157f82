// The smallest program that keeps every shipping rule the PE check holds Kestrand.exe
// to: a window program that imports only from the allowed DLLs and InitCommonControls
// by ordinal, built with Kestrand's own resources. The release tests build it with one
// fault each and require the check to refuse that fault and nothing else.
#define _WIN32_WINNT 0x0600  // declares GetTickCount64
#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance, (void)previous, (void)commandLine, (void)show;
    InitCommonControls();
#ifdef IMPORT_VISTA_FUNCTION
    return GetTickCount64() == 0;  // KERNEL32, from Windows Vista on
#else
    return 0;
#endif
}
