#include <windows.h>

#include "../common/common.h"
#include "entry.h"

// The runtime's own argument vector follows newer splitting rules than the ones the callers
// of this program write their command lines for, so the line is split here.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadArguments(GetCommandLineW());
    return RunEntry();
}

// The process entry. The program takes nothing from the runtime's start-up code: it splits its
// own command line, has no static constructors, and the runtime library's functions it calls
// are ready once the library is loaded. Without that code the executable is half the size.
extern "C" void WinMainCRTStartup() {
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT));
}
