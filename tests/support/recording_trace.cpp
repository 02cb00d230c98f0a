#include "recording_trace.h"

#include <algorithm>

#include "common/common.h"
#include "support/sandbox.h"

#include <windows.h>

static std::vector<std::string> gLines;
static std::string gFaultPrefix;
static DWORD gFaultCode;
static std::string gCallPrefix;
static void (*gCall)();

// Code 0 is a real store to address 0; other codes are raised.
static void Fault(DWORD code) {
    if (code == 0) {
        // Through a pointer the compiler cannot see, so that a real store faults.
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    } else {
        RaiseException(code, 0, 0, NULL);
    }
}

static bool Begins(const std::string& line, const std::string& prefix) {
    return !prefix.empty() && line.compare(0, prefix.size(), prefix) == 0;
}

// Records a line, and calls or faults after it when it is the one asked for.
static void Record(const char* line) {
    gLines.push_back(line);
    if (Begins(gLines.back(), gCallPrefix)) {
        gCallPrefix.clear();
        gCall();
    }
    if (Begins(gLines.back(), gFaultPrefix)) {
        gFaultPrefix.clear();
        Fault(gFaultCode);
    }
}

// Lines are kept in UTF-8, so that paths in any script are compared whole.
static void RecordWide(const wchar_t* line) {
    Record(Utf8(line).c_str());
}

void Trace(const char* format, ...) {
    wchar_t line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, kTraceLineSize, format, args);
    va_end(args);
    RecordWide(line);
}

void TraceSystemError(DWORD code) {
    wchar_t line[kTraceLineSize];
    FormatSystemError(code, line, kTraceLineSize);
    RecordWide(line);
}

void FaultAtTrace(const std::string& prefix) {
    RaiseAtTrace(prefix, 0);
}

void RaiseAtTrace(const std::string& prefix, unsigned long code) {
    gFaultPrefix = prefix;
    gFaultCode = code;
}

const std::vector<std::string>& TraceLines() {
    return gLines;
}

void CallAtTrace(const std::string& prefix, void (*call)()) {
    gCallPrefix = prefix;
    gCall = call;
}

void ClearTraceLines() {
    gLines.clear();
    gFaultPrefix.clear();
    gCallPrefix.clear();
}

bool Traced(const std::string& text) {
    return std::find(gLines.begin(), gLines.end(), text) != gLines.end();
}
