// The trace sink of a test build of the executable that faults on purpose: the first trace line,
// or the first name of a system procedure looked up, that begins with the text of the
// environment variable SELFCLEAN_FAULT_AT is followed by a real store to address 0. Once only.
#include <windows.h>

#include <wchar.h>

#include "common/common.h"

static bool gFaulted;

// Faults when text begins with the variable's text and nothing has faulted yet.
static void FaultAt(const wchar_t* text) {
    wchar_t prefix[512];
    DWORD length = GetEnvironmentVariableW(L"SELFCLEAN_FAULT_AT", prefix, 512);
    if (gFaulted || length == 0 || length >= 512 || wcsncmp(text, prefix, length) != 0) {
        return;
    }
    gFaulted = true;
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

void Trace(const char* format, ...) {
    wchar_t line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, kTraceLineSize, format, args);
    va_end(args);
    FaultAt(line);
}

void TraceSystemError(DWORD) {}

// Stands in for the program's own look-up, which this build leaves out.
void* SystemProcedure(const wchar_t* module, const char* name) {
    wchar_t wideName[128];
    if (FormatText(wideName, 128, "%s", name)) {
        FaultAt(wideName);
    }
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name));
}
