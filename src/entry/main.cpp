#include <windows.h>

#include "../common/common.h"
#include "entry.h"

// The runtime's own argument vector follows newer splitting rules than the ones the callers
// of this program write their command lines for, so the line is split here.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadArguments(GetCommandLineA());
    return RunEntry();
}
