// The tests' trace sink: every line the code under test traces, in order.
#pragma once

#include <string>
#include <vector>

const std::vector<std::string>& TraceLines();
void ClearTraceLines();
// True when some traced line equals text.
bool Traced(const std::string& text);
