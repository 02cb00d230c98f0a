#include "recording_trace.h"

#include <algorithm>

#include "common/common.h"

static std::vector<std::string> gLines;

void Trace(const char* text) {
    gLines.push_back(text);
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
