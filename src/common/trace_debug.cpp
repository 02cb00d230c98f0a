#include "common.h"

// Diagnostic build: an installer author can watch a run with a debugger or, under Wine,
// with WINEDEBUG=+debugstr. Lines are formatted wide, so that paths in any script reach the
// line whole, and converted once to the ANSI code page the debugger output expects.
static void Output(const wchar_t* line) {
    // A character takes at most three bytes in any ANSI code page, UTF-8 included.
    char narrow[kTraceLineSize * 3];
    if (WideCharToMultiByte(CP_ACP, 0, line, -1, narrow, sizeof(narrow), NULL, NULL) == 0) {
        narrow[0] = '\0';
    }
    OutputDebugStringA(narrow);
}

void Trace(const char* format, ...) {
    wchar_t line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, kTraceLineSize, format, args);
    va_end(args);
    Output(line);
}

void TraceSystemError(DWORD code) {
    wchar_t line[kTraceLineSize];
    FormatSystemError(code, line, kTraceLineSize);
    Output(line);
}
