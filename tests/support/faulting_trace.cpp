// The trace sink of a test build of the executable that faults on purpose: the first line
// that begins with the text of the environment variable SELFCLEAN_FAULT_AT is followed by a
// real store to address 0.
#include <windows.h>

#include <wchar.h>

#include "common/common.h"

static bool gFaulted;

void Trace(const char* format, ...) {
    wchar_t prefix[512];
    DWORD length = GetEnvironmentVariableW(L"SELFCLEAN_FAULT_AT", prefix, 512);
    if (gFaulted || length == 0 || length >= 512) {
        return;
    }
    wchar_t line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, kTraceLineSize, format, args);
    va_end(args);
    if (wcsncmp(line, prefix, length) == 0) {
        gFaulted = true;
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
}

void TraceSystemError(DWORD) {}
