#include "common.h"

#include <stdarg.h>
#include <stdio.h>

bool FormatText(char* out, int capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    // The runtime's bounded formatter: it neither writes past capacity nor, when the line
    // fills it, a terminator, so one is always set here.
    int written = _vsnprintf(out, capacity, format, args);
    va_end(args);
    out[capacity - 1] = '\0';
    return written >= 0 && written < capacity;
}

void FormatSystemError(DWORD code, char* out, int capacity) {
    char* message = NULL;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
                                  code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(&message), 0, NULL);
    if (length == 0 || message == NULL) {
        FormatText(out, capacity, "Error %d\r\n", static_cast<int>(code));
        return;
    }
    FormatText(out, capacity, "%s\r\n", message);
    LocalFree(message);
}
