#include "common.h"

// Diagnostic build: an installer author can watch a run with a debugger or, under Wine,
// with WINEDEBUG=+debugstr.
void Trace(const char* text) {
    OutputDebugStringA(text);
}
