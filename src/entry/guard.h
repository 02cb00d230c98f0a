// An exception guard of the program's own: a structured-exception frame on the stack that the
// compilers for this target do not provide.
#pragma once

#include <windows.h>

// Runs work inside a frame that catches every exception, processor faults included. When one
// is raised, the work is abandoned (the frames it entered are unwound), the guard frame is
// unlinked, and onException runs with the exception's code, outside the guard.
void RunGuarded(void (*work)(), void (*onException)(DWORD code));

// The system's unwind of the handler chain (RtlUnwind: target frame, target address, exception,
// return value).
typedef void(WINAPI* UnwindCall)(PVOID, PVOID, PEXCEPTION_RECORD, PVOID);
// Stands in, when set, for the system's unwind. Only tests set it.
extern UnwindCall gUnwindStandIn;
