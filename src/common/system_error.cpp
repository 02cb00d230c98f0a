#include "common.h"

// Only the trace sinks that write lines need the system's texts; the shipped program has none.
void FormatSystemError(DWORD code, wchar_t* out, int capacity) {
    wchar_t* message = NULL;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
                                  code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<wchar_t*>(&message), 0, NULL);
    if (length == 0 || message == NULL) {
        FormatText(out, capacity, "Error %d\r\n", static_cast<int>(code));
        return;
    }
    FormatText(out, capacity, "%ls\r\n", message);
    LocalFree(message);
}
