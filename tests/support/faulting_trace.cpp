// The trace sink of a test build of the executable that faults on purpose: the first line
// that begins with the text of the environment variable SELFCLEAN_FAULT_AT is followed by a
// real store to address 0.
#include <windows.h>

#include <string.h>

#include "common/common.h"

static bool gFaulted;

void Trace(const char* format, ...) {
    char prefix[512];
    DWORD length = GetEnvironmentVariableA("SELFCLEAN_FAULT_AT", prefix, sizeof(prefix));
    if (gFaulted || length == 0 || length >= sizeof(prefix)) {
        return;
    }
    char line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, sizeof(line), format, args);
    va_end(args);
    if (strncmp(line, prefix, length) == 0) {
        gFaulted = true;
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
}

void TraceSystemError(DWORD) {}
