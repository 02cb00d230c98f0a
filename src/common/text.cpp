#include "common.h"

#include <stdio.h>

bool FormatTextList(char* out, int capacity, const char* format, va_list args) {
    // The runtime's bounded formatter: it neither writes past capacity nor, when the line
    // fills it, a terminator, so one is always set here.
    int written = _vsnprintf(out, capacity, format, args);
    out[capacity - 1] = '\0';
    return written >= 0 && written < capacity;
}

bool FormatText(char* out, int capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool whole = FormatTextList(out, capacity, format, args);
    va_end(args);
    return whole;
}
