#include "common.h"

// Diagnostic build: an installer author can watch a run with a debugger or, under Wine,
// with WINEDEBUG=+debugstr.
void Trace(const char* format, ...) {
    char line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, sizeof(line), format, args);
    va_end(args);
    OutputDebugStringA(line);
}

void TraceSystemError(DWORD code) {
    char line[kTraceLineSize];
    FormatSystemError(code, line, sizeof(line));
    OutputDebugStringA(line);
}
