// The tests' trace sink: every line the code under test traces, in order, in UTF-8.
#pragma once

#include <string>
#include <vector>

const std::vector<std::string>& TraceLines();
void ClearTraceLines();
// True when some traced line equals text.
bool Traced(const std::string& text);

// Makes the next traced line that begins with prefix fault, once: a real store to address 0.
void FaultAtTrace(const std::string& prefix);
// Calls call just after the next traced line that begins with prefix, once.
void CallAtTrace(const std::string& prefix, void (*call)());
// Makes the next traced line that begins with prefix raise an exception with code, once.
void RaiseAtTrace(const std::string& prefix, unsigned long code);
