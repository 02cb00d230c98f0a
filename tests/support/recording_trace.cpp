#include "recording_trace.h"

#include <algorithm>

#include "common/common.h"

static std::vector<std::string> gLines;

void Trace(const char* format, ...) {
    char line[kTraceLineSize];
    va_list args;
    va_start(args, format);
    FormatTextList(line, sizeof(line), format, args);
    va_end(args);
    gLines.push_back(line);
}

void TraceSystemError(DWORD code) {
    char line[kTraceLineSize];
    FormatSystemError(code, line, sizeof(line));
    gLines.push_back(line);
}

const std::vector<std::string>& TraceLines() {
    return gLines;
}

void ClearTraceLines() {
    gLines.clear();
}

bool Traced(const std::string& text) {
    return std::find(gLines.begin(), gLines.end(), text) != gLines.end();
}
