// Shared by every part of the program: the trace sink, bounded text formatting, system
// error texts and the argument vector split from the process command line.
#pragma once

#include <stdarg.h>
#include <windows.h>

// The platform's maximum path length, terminator included.
const int kPathSize = MAX_PATH;
// Trace lines are formatted into this size, terminator included.
const int kTraceLineSize = 768;

// Takes one line as a printf-style format (%s and %d) and its values. The release build
// discards it unformatted, so that neither the formatting nor the texts are shipped; the
// diagnostic build formats it, cut to kTraceLineSize, and passes it to the debugger output.
void Trace(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));
// Traces the system's message text for an error code, as FormatSystemError gives it.
void TraceSystemError(DWORD code);

// printf-style %s and %d into out, never writing more than capacity bytes (terminator
// included); a line that does not fit is cut. Returns false when it was cut.
bool FormatText(char* out, int capacity, const char* format, ...)
    __attribute__((format(ms_printf, 3, 4)));
bool FormatTextList(char* out, int capacity, const char* format, va_list args);

// The system's message text for an error code followed by "\r\n", cut to capacity; a line
// with the decimal code when the system has no text for it.
void FormatSystemError(DWORD code, char* out, int capacity);

// Splits a command line into the argument vector that ArgCount() and Arg() read.
void LoadArguments(const char* commandLine);
int ArgCount();
// The argument at index, or an empty text when there is no such argument.
const char* Arg(int index);
